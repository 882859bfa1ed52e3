// The receiving end of Apple Events, for an application process of the emulated machine
// (the stand-in applications): what AESend and the Process Manager reach on the other side.
//
// An AEReceiver
//   - registers the calling process in the process table with its creator code and name, so
//     that GetNextProcess and GetProcessInformation see it and AESend can reach it;
//   - takes connections on the process's Unix socket from processes of the same user only;
//   - reads the events that arrive, hands each to the application's handler, and writes the
//     reply on the connection the event came in on: an 'aevt'/'ansr' event holding what the
//     handler put in it, plus 'errn' when the handler returned an error; for an event sent
//     without a reply, a receipt once the handler has returned (AESend waits for it), so a
//     handler must have done what the event asks (written what it keeps) before it returns;
//   - follows the Process Manager's notices: whether the application is visible and in front;
//   - reports what it saw, one line per event or notice, for the application's journal.
//
// Events are handled one at a time on the thread that calls ServeReady or Drain, in the
// order they arrive on each connection, older connections first.
#pragma once

#include <AppleEvents.h>
#include <Processes.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace carbon {

struct AEReceiverHandlers {
  // Handles one event. reply is an 'aevt'/'ansr' event with the event's return ID, or the
  // null descriptor for an event sent with kAENoReply (nothing put into it is kept). A
  // nonzero result goes into the reply as 'errn' unless the handler put one there. The
  // receiver owns event and reply; a handler disposes only what it creates itself.
  std::function<OSErr(const AppleEvent &event, AppleEvent &reply)> handle;
  // One line of what arrived, before it is handled: the event in AEPrint form on one line (a
  // line feed inside a text written as \n), or, starting with '#', "# visible 0|1" and
  // "# front 0|1" for the Process Manager's notices, "# malformed event" for bytes that are
  // not an event, and "# refused uid N" for a connection from another user. May be empty.
  std::function<void(const std::string &line)> report;
};

class AEReceiver {
 public:
  enum class Served { kSome, kNothing, kFailed };

  AEReceiver(OSType creator, std::string name, AEReceiverHandlers handlers);
  ~AEReceiver();  // unregisters
  AEReceiver(const AEReceiver &) = delete;
  AEReceiver &operator=(const AEReceiver &) = delete;

  // Listens on the process's socket and writes its process-table entry, whose application
  // file is QUILLCAST_APP_PATH when that is an absolute path, else the running executable.
  // noErr when already registered; afpAccessDenied on a refused machine folder, and
  // pathTooLongErr when the socket's path would pass the system's limit (MachineFolder.h).
  OSErr Register();
  // Removes the entry and the socket and closes every connection.
  void Unregister();

  // A descriptor whose readability also ends a wait of ServeReady: the self-pipe of a
  // signal handler. It is never read here.
  void WakeOn(int fd);
  // Waits up to timeoutMs (-1: as long as it takes) for connections and events, and handles
  // everything that came. kNothing when the time ran out or a signal interrupted the wait.
  Served ServeReady(int timeoutMs);
  // For an application that is going but owes its senders the events they already sent:
  // first the entry leaves the process table, so that no one can connect any more; then the
  // connections already made are taken and everything sent on any of them is handled, until
  // they have been quiet for quietMs, for at most seconds in all.
  void Drain(double seconds, int quietMs);

  // From a handler: handle nothing more once this event is answered.
  void Stop() { stopped_ = true; }
  bool Stopped() const { return stopped_; }

  bool Visible() const { return visible_; }
  bool Front() const { return front_; }

 private:
  struct Connection;
  struct Frame;

  bool Watch(int fd, uint64_t tag);
  void AcceptConnections();
  bool ServeConnection(Connection &connection);  // false: drop the connection
  bool HandleFrame(Connection &connection, const Frame &frame);
  void Notice(uint32_t kind, bool value);
  bool SendReply(Connection &connection, uint32_t sequence, const AppleEvent &reply);
  bool SendReceipt(Connection &connection, uint32_t sequence);
  void Report(const std::string &line) const;

  OSType creator_;
  std::string name_;
  AEReceiverHandlers handlers_;
  std::map<uint64_t, std::unique_ptr<Connection>> connections_;  // by serial: in connecting order
  uint64_t nextConnection_ = 2;  // 0 and 1 stand for the listener and the wake-up descriptor
  int listener_ = -1;
  int epoll_ = -1;
  int wake_ = -1;
  bool registered_ = false;
  std::atomic<bool> stopped_{false};
  bool visible_ = true;
  bool front_ = false;
};

// The data folder of the application of that name, $QUILLCAST_HOME/Data/<name>, created
// with mode 0700: its journal, its log, and whatever it keeps on disk. Empty when it, or
// the machine folder, is refused (MachineFolder.h).
std::string DataFolderFor(const std::string &name);

}  // namespace carbon
