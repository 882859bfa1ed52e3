// The stand-in application: registration, the event loop on the application's socket,
// dispatch to handlers, replies and the journal.
#include "apps/kit/StandInApp.h"

#include "carbon/src/AETrace.h"
#include "carbon/src/AEWire.h"
#include "carbon/src/ProcTime.h"
#include "carbon/src/ProcessTable.h"

#include <MacErrors.h>

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace standin {
namespace {

constexpr double kReplyWriteSeconds = 5.0;
// After a termination signal the application keeps handling what was sent before it, for at
// most this long, and stops once its connections have been quiet for kDrainQuietMs.
constexpr double kDrainSeconds = 1.0;
constexpr int kDrainQuietMs = 50;

// SIGTERM and SIGINT end the event loop: the handler sets the flag and wakes epoll_wait().
std::atomic<bool> terminationSignalled{false};
int wakeWrite = -1;
int wakeRead = -1;

void OnTerminationSignal(int) {
  terminationSignalled = true;
  if (wakeWrite >= 0) {
    char byte = 1;
    ssize_t ignored = write(wakeWrite, &byte, 1);
    (void)ignored;
  }
}

void CatchTerminationSignals() {
  if (wakeRead < 0) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    wakeRead = fds[0];
    wakeWrite = fds[1];
  }
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

std::string ApplicationPath() {
  if (const char *path = std::getenv("QUILLCAST_APP_PATH"); path != nullptr && path[0] == '/') return path;
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return length > 0 ? std::string(buffer, size_t(length)) : std::string();
}

OSType EventAttribute(const AppleEvent &event, AEKeyword key) {
  OSType value = 0;
  DescType actual = 0;
  Size size = 0;
  if (AEGetAttributePtr(&event, key, typeType, &actual, &value, sizeof value, &size) != noErr) return 0;
  return value;
}

AEReturnID ReturnIDOf(const AppleEvent &event) {
  SInt16 id = kAutoGenerateReturnID;
  DescType actual = 0;
  Size size = 0;
  AEGetAttributePtr(&event, keyReturnIDAttr, typeSInt16, &actual, &id, sizeof id, &size);
  return id;
}

OSErr MakeReply(const AppleEvent &event, AppleEvent *reply) {
  AEAddressDesc nowhere;
  AEInitializeDesc(&nowhere);
  return AECreateAppleEvent(kCoreEventClass, kAEAnswer, &nowhere, ReturnIDOf(event), kAnyTransactionID,
                            reply);
}

bool HasParam(const AppleEvent &reply, AEKeyword key) {
  DescType type = 0;
  Size size = 0;
  return AESizeOfParam(&reply, key, &type, &size) == noErr;
}

}  // namespace

struct StandInApp::Client {
  int fd = -1;
  carbon::FrameReader reader;
  ~Client() {
    if (fd >= 0) close(fd);
  }
};

struct StandInApp::Frame {
  carbon::FrameHeader header;
  std::vector<uint8_t> body;
};

StandInApp::StandInApp(OSType creator, std::string name)
    : creator_(creator), name_(std::move(name)), dataFolder_(carbon::DataFolderFor(name_)) {
  InstallEventHandler(kCoreEventClass, kAEQuitApplication, [this](const AppleEvent &, AppleEvent &) {
    RequestQuit();
    return OSErr(noErr);
  });
}

StandInApp::~StandInApp() {
  Unregister();
  if (journal_ >= 0) close(journal_);
}

void StandInApp::InstallEventHandler(AEEventClass eventClass, AEEventID eventID, EventHandler handler) {
  handlers_[{eventClass, eventID}] = std::move(handler);
}

OSErr StandInApp::Register() {
  if (registered_) return noErr;
  if (journal_ < 0) journal_ = open(JournalPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  carbon::ProcessEntry entry;
  entry.creator = creator_;
  entry.name = name_;
  entry.socketPath = carbon::SocketPathFor(getpid());
  entry.applicationPath = ApplicationPath();
  listener_ = carbon::ListenOnSocket(entry.socketPath);
  if (listener_ < 0) return ioErr;
  OSErr err = carbon::RegisterProcess(&entry);
  if (err != noErr) {
    close(listener_);
    listener_ = -1;
    unlink(entry.socketPath.c_str());
    return err;
  }
  registered_ = true;
  visible_ = true;
  return noErr;
}

void StandInApp::Unregister() {
  if (!registered_) return;
  registered_ = false;
  carbon::UnregisterProcess(getpid());
  clients_.clear();
  close(listener_);
  listener_ = -1;
}

bool StandInApp::QuitRequested() const {
  return quitRequested_ || terminationSignalled;
}

ProcessSerialNumber StandInApp::PSN() const {
  return {0, UInt32(getpid())};
}

void StandInApp::Journal(const std::string &line) {
  if (journal_ < 0) return;
  std::string whole = line + "\n";
  ssize_t ignored = write(journal_, whole.data(), whole.size());
  (void)ignored;
}

OSErr StandInApp::Run() {
  OSErr err = Register();
  if (err != noErr) return err;
  CatchTerminationSignals();
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  epoll_event listen{EPOLLIN, {.u64 = 0}};
  epoll_event wake{EPOLLIN, {.u64 = 1}};
  if (epoll_ < 0 || epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &listen) != 0 ||
      epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeRead, &wake) != 0) {
    err = ioErr;
  }
  while (err == noErr && !QuitRequested()) {
    if (!ServeReady(-1) && errno != EINTR) break;
  }
  if (err == noErr && terminationSignalled && !quitRequested_) Drain();
  close(epoll_);
  epoll_ = -1;
  Unregister();
  return err;
}

// Waits up to timeoutMs for connections or events and handles what came, older connections
// first so that events keep their order. False when nothing came or the wait failed.
bool StandInApp::ServeReady(int timeoutMs) {
  epoll_event events[64];
  int count = epoll_wait(epoll_, events, 64, timeoutMs);
  if (count <= 0) return false;
  std::vector<uint64_t> ready;
  for (int at = 0; at < count; at++) {
    if (events[at].data.u64 == 0) AcceptClients();
    if (events[at].data.u64 > 1) ready.push_back(events[at].data.u64);
  }
  std::sort(ready.begin(), ready.end());
  for (uint64_t id : ready) {
    auto client = clients_.find(id);
    if (client != clients_.end() && !ServeClient(*client->second)) clients_.erase(client);
  }
  return true;
}

// A termination signal arrived. Senders of no-reply events (a mail client's queued messages)
// count on every event they sent being handled, so: first the socket goes from the process
// table, which no one can connect to afterwards; then connections already made are taken and
// everything that was sent on any connection is handled before the application goes.
void StandInApp::Drain() {
  carbon::UnregisterProcess(getpid());
  AcceptClients();
  epoll_ctl(epoll_, EPOLL_CTL_DEL, listener_, nullptr);
  epoll_ctl(epoll_, EPOLL_CTL_DEL, wakeRead, nullptr);
  int64_t deadline = carbon::DeadlineAfterSeconds(kDrainSeconds);
  while (!clients_.empty() && !quitRequested_) {
    int left = int(carbon::MillisecondsUntil(deadline));
    if (left <= 0 || !ServeReady(std::min(left, kDrainQuietMs))) break;
  }
}

void StandInApp::AcceptClients() {
  for (;;) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    pid_t pid = 0;
    uid_t uid = 0;
    if (!carbon::PeerCredentials(fd, &pid, &uid) || uid != geteuid()) {
      Journal("# refused uid " + std::to_string(uid));
      close(fd);
      continue;
    }
    epoll_event ready{EPOLLIN, {.u64 = nextClient_}};
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ready) != 0) {
      close(fd);
      continue;
    }
    auto client = std::make_unique<Client>();
    client->fd = fd;
    clients_[nextClient_++] = std::move(client);
  }
}

// Reads what has arrived and handles every whole frame; false when the client is gone,
// sent something that is not a frame, or cannot take its reply.
bool StandInApp::ServeClient(Client &client) {
  carbon::WireStatus status = client.reader.Fill(client.fd);
  Frame frame;
  while (!quitRequested_ && client.reader.Next(&frame.header, &frame.body)) {
    if (!HandleFrame(client, frame)) return false;
  }
  return status == carbon::WireStatus::kOK && !client.reader.Broken();
}

bool StandInApp::HandleFrame(Client &client, const Frame &frame) {
  uint32_t kind = frame.header.kind;
  if (kind == carbon::kFrameVisible || kind == carbon::kFrameFront) {
    bool value = !frame.body.empty() && frame.body[0] != 0;
    (kind == carbon::kFrameVisible ? visible_ : front_) = value;
    Journal(std::string(kind == carbon::kFrameVisible ? "# visible " : "# front ") + (value ? "1" : "0"));
    return true;
  }
  if (kind != carbon::kFrameEventWantsReply && kind != carbon::kFrameEventNoReply) return true;
  bool wantsReply = kind == carbon::kFrameEventWantsReply;
  AppleEvent event;
  AppleEvent reply;
  AEInitializeDesc(&event);
  AEInitializeDesc(&reply);
  OSErr err = AEUnflattenDescSafe(frame.body.data(), Size(frame.body.size()), &event);
  if (err != noErr || event.descriptorType != typeAppleEvent) {
    Journal("# malformed event");
    err = errAECorruptData;
  } else {
    Journal(carbon::AEPrintLine(&event));
  }
  if (wantsReply && MakeReply(event, &reply) != noErr) wantsReply = false;
  if (err == noErr) err = Dispatch(event, reply);
  if (wantsReply && err != noErr && !HasParam(reply, keyErrorNumber)) {
    SInt32 number = err;
    AEPutParamPtr(&reply, keyErrorNumber, typeSInt32, &number, sizeof number);
  }
  bool sent = !wantsReply || SendReply(client, frame.header.sequence, reply);
  AEDisposeDesc(&event);
  AEDisposeDesc(&reply);
  return sent;
}

OSErr StandInApp::Dispatch(const AppleEvent &event, AppleEvent &reply) {
  AEEventClass eventClass = EventAttribute(event, keyEventClassAttr);
  AEEventID eventID = EventAttribute(event, keyEventIDAttr);
  for (auto key : {std::pair{eventClass, eventID}, std::pair{eventClass, AEEventID(typeWildCard)},
                   std::pair{AEEventClass(typeWildCard), eventID},
                   std::pair{AEEventClass(typeWildCard), AEEventID(typeWildCard)}}) {
    auto found = handlers_.find(key);
    if (found == handlers_.end()) continue;
    try {
      return found->second(event, reply);
    } catch (...) {
      return errAEEventFailed;
    }
  }
  return errAEEventNotHandled;
}

bool StandInApp::SendReply(Client &client, uint32_t sequence, const AppleEvent &reply) {
  Size size = AESizeOfFlattenedDesc(&reply);
  if (size <= 0 || size > Size(carbon::kMaxFrameBody)) return false;
  std::vector<uint8_t> frame(carbon::kFrameHeaderSize + size_t(size));
  Size actual = 0;
  if (AEFlattenDesc(&reply, reinterpret_cast<Ptr>(frame.data() + carbon::kFrameHeaderSize), size, &actual) !=
      noErr) {
    return false;
  }
  frame.resize(carbon::kFrameHeaderSize + size_t(actual));
  carbon::PutFrameHeader(frame.data(), {carbon::kFrameReply, sequence, uint32_t(actual)});
  return carbon::WriteAll(client.fd, frame.data(), frame.size(),
                          carbon::DeadlineAfterSeconds(kReplyWriteSeconds)) == carbon::WireStatus::kOK;
}

OSErr GetTextParam(const AppleEvent &event, AEKeyword key, std::string *text) {
  AEDesc desc;
  AEInitializeDesc(&desc);
  OSErr err = AEGetParamDesc(&event, key, typeChar, &desc);
  if (err != noErr) return err;
  text->resize(size_t(AEGetDescDataSize(&desc)));
  err = text->empty() ? OSErr(noErr) : AEGetDescData(&desc, text->data(), Size(text->size()));
  AEDisposeDesc(&desc);
  return err;
}

OSErr GetLongParam(const AppleEvent &event, AEKeyword key, SInt32 *value) {
  DescType actual = 0;
  Size size = 0;
  return AEGetParamPtr(&event, key, typeSInt32, &actual, value, sizeof *value, &size);
}

OSErr PutTextParam(AppleEvent &reply, AEKeyword key, const std::string &text) {
  return AEPutParamPtr(&reply, key, typeChar, text.data(), Size(text.size()));
}

OSErr PutLongParam(AppleEvent &reply, AEKeyword key, SInt32 value) {
  return AEPutParamPtr(&reply, key, typeSInt32, &value, sizeof value);
}

OSErr PutBooleanParam(AppleEvent &reply, AEKeyword key, bool value) {
  Boolean byte = value ? 1 : 0;
  return AEPutParamPtr(&reply, key, typeBoolean, &byte, sizeof byte);
}

}  // namespace standin
