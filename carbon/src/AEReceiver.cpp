// The receiving end of the Apple Event transport: registration, the connections on the
// application's socket, frames in, replies out.
#include <AEReceiver.h>

#include "AETrace.h"
#include "AEWire.h"
#include "ProcTime.h"
#include "ProcessTable.h"

#include <Files.h>
#include <MacErrors.h>
#include <MachineFolder.h>

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace carbon {
namespace {

constexpr double kReplyWriteSeconds = 5.0;
constexpr uint64_t kListenerTag = 0;
constexpr uint64_t kWakeTag = 1;

std::string ApplicationPath() {
  if (const char *path = std::getenv("QUILLCAST_APP_PATH"); path != nullptr && path[0] == '/') return path;
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return length > 0 ? std::string(buffer, size_t(length)) : std::string();
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

struct AEReceiver::Connection {
  int fd = -1;
  FrameReader reader;
  ~Connection() {
    if (fd >= 0) close(fd);
  }
};

struct AEReceiver::Frame {
  FrameHeader header;
  std::vector<uint8_t> body;
};

AEReceiver::AEReceiver(OSType creator, std::string name, AEReceiverHandlers handlers)
    : creator_(creator), name_(std::move(name)), handlers_(std::move(handlers)) {}

AEReceiver::~AEReceiver() {
  Unregister();
}

OSErr AEReceiver::Register() {
  if (registered_) return noErr;
  ProcessEntry entry;
  entry.creator = creator_;
  entry.name = name_;
  entry.socketPath = SocketPathFor(getpid());
  if (entry.socketPath.empty()) return afpAccessDenied;
  if (entry.socketPath.size() > kMaxSocketPath) return pathTooLongErr;
  entry.applicationPath = ApplicationPath();
  listener_ = ListenOnSocket(entry.socketPath);
  epoll_ = listener_ < 0 ? -1 : epoll_create1(EPOLL_CLOEXEC);
  // The entry announces the socket, so it is written last, once everything listens.
  bool listening = epoll_ >= 0 && Watch(listener_, kListenerTag) && (wake_ < 0 || Watch(wake_, kWakeTag));
  OSErr err = listening ? RegisterProcess(&entry) : OSErr(ioErr);
  if (err != noErr) {
    if (epoll_ >= 0) close(epoll_);
    if (listener_ >= 0) close(listener_);
    epoll_ = listener_ = -1;
    unlink(entry.socketPath.c_str());
    return err;
  }
  registered_ = true;
  visible_ = true;
  return noErr;
}

void AEReceiver::Unregister() {
  if (!registered_) return;
  registered_ = false;
  UnregisterProcess(getpid());
  connections_.clear();
  close(epoll_);
  close(listener_);
  epoll_ = listener_ = -1;
}

void AEReceiver::WakeOn(int fd) {
  wake_ = fd;
  if (epoll_ >= 0) Watch(fd, kWakeTag);
}

bool AEReceiver::Watch(int fd, uint64_t tag) {
  epoll_event ready{EPOLLIN, {.u64 = tag}};
  return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ready) == 0;
}

AEReceiver::Served AEReceiver::ServeReady(int timeoutMs) {
  if (epoll_ < 0) return Served::kFailed;
  epoll_event events[64];
  int count = epoll_wait(epoll_, events, 64, timeoutMs);
  if (count < 0) return errno == EINTR ? Served::kNothing : Served::kFailed;
  if (count == 0) return Served::kNothing;
  std::vector<uint64_t> ready;
  for (int at = 0; at < count; at++) {
    if (events[at].data.u64 == kListenerTag) AcceptConnections();
    if (events[at].data.u64 > kWakeTag) ready.push_back(events[at].data.u64);
  }
  std::sort(ready.begin(), ready.end());
  for (uint64_t id : ready) {
    auto connection = connections_.find(id);
    if (connection != connections_.end() && !ServeConnection(*connection->second))
      connections_.erase(connection);
  }
  return Served::kSome;
}

void AEReceiver::Drain(double seconds, int quietMs) {
  if (epoll_ < 0) return;
  UnregisterProcess(getpid());
  AcceptConnections();
  epoll_ctl(epoll_, EPOLL_CTL_DEL, listener_, nullptr);
  if (wake_ >= 0) epoll_ctl(epoll_, EPOLL_CTL_DEL, wake_, nullptr);
  int64_t deadline = DeadlineAfterSeconds(seconds);
  while (!connections_.empty() && !stopped_) {
    int left = MillisecondsUntil(deadline);
    if (left <= 0 || ServeReady(std::min(left, quietMs)) != Served::kSome) break;
  }
}

void AEReceiver::AcceptConnections() {
  for (;;) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    pid_t pid = 0;
    uid_t uid = 0;
    if (!PeerCredentials(fd, &pid, &uid) || uid != geteuid()) {
      Report("# refused uid " + std::to_string(uid));
      close(fd);
      continue;
    }
    if (!Watch(fd, nextConnection_)) {
      close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    connections_[nextConnection_++] = std::move(connection);
  }
}

// Reads what has arrived and handles every whole frame; false when the peer is gone, sent
// something that is not a frame, or cannot take its reply.
bool AEReceiver::ServeConnection(Connection &connection) {
  WireStatus status = connection.reader.Fill(connection.fd);
  Frame frame;
  while (!stopped_ && connection.reader.Next(&frame.header, &frame.body)) {
    if (!HandleFrame(connection, frame)) return false;
  }
  return status == WireStatus::kOK && !connection.reader.Broken();
}

bool AEReceiver::HandleFrame(Connection &connection, const Frame &frame) {
  uint32_t kind = frame.header.kind;
  if (kind == kFrameVisible || kind == kFrameFront) {
    Notice(kind, !frame.body.empty() && frame.body[0] != 0);
    return true;
  }
  if (kind != kFrameEventWantsReply && kind != kFrameEventNoReply) return true;
  bool wantsReply = kind == kFrameEventWantsReply;
  AppleEvent event;
  AppleEvent reply;
  AEInitializeDesc(&event);
  AEInitializeDesc(&reply);
  OSErr err = AEUnflattenDescSafe(frame.body.data(), Size(frame.body.size()), &event);
  if (err != noErr || event.descriptorType != typeAppleEvent) {
    Report("# malformed event");
    err = errAECorruptData;
  } else {
    Report(AEPrintLine(&event));
  }
  if (wantsReply && MakeReply(event, &reply) != noErr) wantsReply = false;
  if (err == noErr) err = handlers_.handle ? handlers_.handle(event, reply) : OSErr(errAEEventNotHandled);
  if (wantsReply && err != noErr && !HasParam(reply, keyErrorNumber)) {
    SInt32 number = err;
    AEPutParamPtr(&reply, keyErrorNumber, typeSInt32, &number, sizeof number);
  }
  // An event sent without a reply still gets a receipt, now that it has been handled.
  bool sent = wantsReply ? SendReply(connection, frame.header.sequence, reply)
                         : SendReceipt(connection, frame.header.sequence);
  AEDisposeDesc(&event);
  AEDisposeDesc(&reply);
  return sent;
}

void AEReceiver::Notice(uint32_t kind, bool value) {
  (kind == kFrameVisible ? visible_ : front_) = value;
  Report(std::string(kind == kFrameVisible ? "# visible " : "# front ") + (value ? "1" : "0"));
}

bool AEReceiver::SendReply(Connection &connection, uint32_t sequence, const AppleEvent &reply) {
  Size size = AESizeOfFlattenedDesc(&reply);
  if (size <= 0 || size > Size(kMaxFrameBody)) return false;
  std::vector<uint8_t> frame(kFrameHeaderSize + size_t(size));
  Size actual = 0;
  if (AEFlattenDesc(&reply, reinterpret_cast<Ptr>(frame.data() + kFrameHeaderSize), size, &actual) != noErr) {
    return false;
  }
  frame.resize(kFrameHeaderSize + size_t(actual));
  PutFrameHeader(frame.data(), {kFrameReply, sequence, uint32_t(actual)});
  return WriteAll(connection.fd, frame.data(), frame.size(), DeadlineAfterSeconds(kReplyWriteSeconds)) ==
         WireStatus::kOK;
}

bool AEReceiver::SendReceipt(Connection &connection, uint32_t sequence) {
  uint8_t frame[kFrameHeaderSize];
  PutFrameHeader(frame, {kFrameReceipt, sequence, 0});
  return WriteAll(connection.fd, frame, sizeof frame, DeadlineAfterSeconds(kReplyWriteSeconds)) ==
         WireStatus::kOK;
}

void AEReceiver::Report(const std::string &line) const {
  if (handlers_.report) handlers_.report(line);
}

}  // namespace carbon
