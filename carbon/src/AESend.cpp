// AESend: delivers a flattened event over the target application's Unix socket and waits for
// its answer: the flattened reply of a wait-reply send, or the receipt with which the
// application confirms that it has handled an event sent without a reply. Either way a send
// that returns noErr means the application has the event; one whose application dies first
// fails.
//
// One connection per target process stays open across calls (and is shared by the
// Process Manager's notices), so that events to one process arrive in the order sent and a
// send costs neither a connect nor a look at the process table. A connection is dropped when
// its process is gone, when a write fails or times out part way, or when the other side
// sends something that is not a frame; the next send looks the process up and connects again.
//
// Results besides the Apple Event Manager's own: procNotFound when the process is not there
// (or has quit), connectionInvalid when it went away before answering, errAETimeout when no
// reply or receipt came in time (the application may still handle the event later; a late
// answer is passed over by the next send), errAECorruptData for a reply that is not a
// well-formed event, errAEBufferTooSmall for an event larger than the transport carries
// (nothing is sent), errAEUnknownAddressType for an address other than 'psn ', 'kpid' or
// 'sign', errAEUnknownSendMode for kAEQueueReply.
#include "AETrace.h"
#include "AEWire.h"
#include "ProcTime.h"
#include "ProcessTable.h"

#include <AppleEvents.h>
#include <Endian.h>
#include <MacErrors.h>
#include <Processes.h>

#include <unistd.h>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace carbon {
namespace {

constexpr long kDefaultTimeoutTicks = 3600;  // about a minute
constexpr double kNoticeSeconds = 0.2;

struct Connection {
  pid_t pid = 0;
  uint64_t started = 0;
  int fd = -1;
  uint32_t sequence = 0;
  FrameReader reader;
  int64_t receiveTimeout = 0;  // microseconds last set as the socket's receive time-out
  std::mutex lock;             // held for a whole exchange

  ~Connection() {
    if (fd >= 0) close(fd);
  }
};

std::mutex connectionsLock;
std::map<pid_t, std::shared_ptr<Connection>> connections;

// A new connection to the entry's socket, checked to be the registered process of this
// user: a socket left behind by a dead application, or one bound by anyone else, is refused.
int ConnectToProcess(const ProcessEntry &entry) {
  int fd = ConnectToSocket(entry.socketPath);
  pid_t peer = 0;
  uid_t uid = 0;
  if (fd >= 0 && (!PeerCredentials(fd, &peer, &uid) || peer != entry.pid || uid != geteuid())) {
    close(fd);
    fd = -1;
  }
  return fd;
}

std::shared_ptr<Connection> CachedConnection(pid_t pid) {
  std::lock_guard<std::mutex> guard(connectionsLock);
  auto found = connections.find(pid);
  return found != connections.end() ? found->second : nullptr;
}

// A new connection to the live process, replacing any cached one; null when it cannot be
// reached (*err says why).
std::shared_ptr<Connection> NewConnection(pid_t pid, OSErr *err) {
  ProcessEntry entry;
  if (!FindLiveProcess(pid, &entry)) {
    *err = procNotFound;
    return nullptr;
  }
  int fd = ConnectToProcess(entry);
  if (fd < 0) {
    *err = IsProcessAlive(entry.pid, entry.started) ? connectionInvalid : procNotFound;
    return nullptr;
  }
  auto connection = std::make_shared<Connection>();
  connection->pid = entry.pid;
  connection->started = entry.started;
  connection->fd = fd;
  std::lock_guard<std::mutex> guard(connectionsLock);
  connections[entry.pid] = connection;
  return connection;
}

void DropConnection(const std::shared_ptr<Connection> &connection) {
  std::lock_guard<std::mutex> guard(connectionsLock);
  auto found = connections.find(connection->pid);
  if (found != connections.end() && found->second == connection) connections.erase(found);
}

bool ReadAddress(const AppleEvent *event, DescType *type, std::vector<uint8_t> *data) {
  AEDesc address;
  AEInitializeDesc(&address);
  if (AEGetAttributeDesc(event, keyAddressAttr, typeWildCard, &address) != noErr) return false;
  *type = address.descriptorType;
  data->resize(size_t(AEGetDescDataSize(&address)));
  OSErr err = data->empty() ? OSErr(noErr) : AEGetDescData(&address, data->data(), Size(data->size()));
  AEDisposeDesc(&address);
  return err == noErr;
}

// The process that the event's address attribute names. A 'psn ' or 'kpid' address names
// its pid directly; a signature is looked up among the live applications.
OSErr TargetPid(const AppleEvent *event, pid_t *pid) {
  DescType type = 0;
  std::vector<uint8_t> data;
  if (!ReadAddress(event, &type, &data)) return errAEUnknownAddressType;
  if (type == typeApplSignature && data.size() == 4) {
    OSType creator;
    std::memcpy(&creator, data.data(), 4);
    for (const ProcessEntry &live : LiveProcesses()) {
      if (live.creator == creator) {
        *pid = live.pid;
        return noErr;
      }
    }
    return procNotFound;
  }
  if (type == typeProcessSerialNumber && data.size() == sizeof(ProcessSerialNumber)) {
    ProcessSerialNumber psn;
    std::memcpy(&psn, data.data(), sizeof psn);
    if (psn.highLongOfPSN != 0 || psn.lowLongOfPSN > 0x7fffffff) return procNotFound;
    *pid = psn.lowLongOfPSN == kCurrentProcess ? getpid() : pid_t(psn.lowLongOfPSN);
  } else if (type == typeKernelProcessID && data.size() == sizeof(int32_t)) {
    int32_t kernelPid;
    std::memcpy(&kernelPid, data.data(), 4);
    *pid = kernelPid;
  } else {
    return errAEUnknownAddressType;
  }
  return *pid > 0 ? OSErr(noErr) : OSErr(procNotFound);
}

OSErr BuildFrame(const AEDesc *desc, uint32_t kind, uint32_t sequence, std::vector<uint8_t> *frame) {
  Size size = AESizeOfFlattenedDesc(desc);
  if (size <= 0 || size > Size(kMaxFrameBody)) return size <= 0 ? errAENotAEDesc : errAEBufferTooSmall;
  frame->resize(kFrameHeaderSize + size_t(size));
  Size actual = 0;
  OSStatus err = AEFlattenDesc(desc, reinterpret_cast<Ptr>(frame->data() + kFrameHeaderSize), size, &actual);
  if (err != noErr) return OSErr(err);
  frame->resize(kFrameHeaderSize + size_t(actual));
  PutFrameHeader(frame->data(), {kind, sequence, uint32_t(actual)});
  return noErr;
}

// The reply of the given sequence as an event in *reply (disposed when reply is null).
OSErr TakeReply(const std::vector<uint8_t> &body, AppleEvent *reply) {
  AEDesc received;
  AEInitializeDesc(&received);
  if (AEUnflattenDescSafe(body.data(), Size(body.size()), &received) != noErr ||
      received.descriptorType != typeAppleEvent) {
    AEDisposeDesc(&received);
    return errAECorruptData;
  }
  TraceDesc(&received);
  if (reply != nullptr) {
    *reply = received;
  } else {
    AEDisposeDesc(&received);
  }
  return noErr;
}

// Waits up to `wait` nanoseconds from `start` (or for ever: kNoDeadline) for the answer of the
// given sequence: a reply (kFrameReply) or a receipt (kFrameReceipt). Older answers (of sends
// that timed out) are passed over.
OSErr AwaitAnswer(Connection &connection, uint32_t kind, uint32_t sequence, int64_t start, int64_t wait,
                  AppleEvent *reply) {
  FrameHeader header;
  std::vector<uint8_t> body;
  for (bool first = true;; first = false) {
    while (connection.reader.Next(&header, &body)) {
      if (header.kind != kind || header.sequence != sequence) continue;
      return kind == kFrameReply ? TakeReply(body, reply) : OSErr(noErr);
    }
    if (connection.reader.Broken()) return errAECorruptData;
    // The whole time-out the first time round, so that the socket's time-out stays the same
    // from one send to the next; what is left of it afterwards.
    int64_t left = wait == kNoDeadline ? 0 : first ? wait : start + wait - MonotonicNanos();
    int64_t micros = wait == kNoDeadline ? 0 : left < 1000 ? -1 : left / 1000;
    WireStatus status = connection.reader.FillWaiting(connection.fd, micros, &connection.receiveTimeout);
    if (status == WireStatus::kTimedOut) return errAETimeout;
    if (status != WireStatus::kOK) return connectionInvalid;
  }
}

// The time-out in nanoseconds, or kNoDeadline.
int64_t WaitFor(long timeOutInTicks) {
  if (timeOutInTicks == kNoTimeOut) return kNoDeadline;
  long ticks = timeOutInTicks < 0 ? kDefaultTimeoutTicks : timeOutInTicks;
  double nanos = double(ticks) / 60.0 * TimeScale() * 1e9;
  return nanos < 1e17 ? int64_t(nanos) : kNoDeadline;  // past three years is for ever
}

// Writes the frame on the process's connection. A cached connection is used without looking
// at the process table: if its process has gone, the write fails at once (nothing was
// delivered) and the table then tells whether the process is still there to connect to.
OSErr Deliver(pid_t pid, std::vector<uint8_t> &frame, int64_t deadline, std::shared_ptr<Connection> *used,
              std::unique_lock<std::mutex> *held) {
  for (int attempt = 0; attempt < 2; attempt++) {
    OSErr err = noErr;
    std::shared_ptr<Connection> connection = attempt == 0 ? CachedConnection(pid) : nullptr;
    if (connection == nullptr) connection = NewConnection(pid, &err);
    if (connection == nullptr) return err;
    std::unique_lock<std::mutex> lock(connection->lock);
    PutBigEndian32(frame.data() + 4, ++connection->sequence);
    WireStatus status = WriteAll(connection->fd, frame.data(), frame.size(), deadline);
    if (status == WireStatus::kOK) {
      *used = connection;
      *held = std::move(lock);
      return noErr;
    }
    DropConnection(connection);
    if (status == WireStatus::kTimedOut) return errAETimeout;
  }
  return connectionInvalid;
}

}  // namespace

void SendProcessNotice(const ProcessEntry &target, uint32_t kind, bool value) {
  std::vector<uint8_t> frame(kFrameHeaderSize + 1);
  PutFrameHeader(frame.data(), {kind, 0, 1});
  frame[kFrameHeaderSize] = value ? 1 : 0;
  OSErr err = noErr;
  std::shared_ptr<Connection> connection = CachedConnection(target.pid);
  if (connection == nullptr || connection->started != target.started)
    connection = NewConnection(target.pid, &err);
  if (connection == nullptr) return;
  std::lock_guard<std::mutex> lock(connection->lock);
  if (WriteAll(connection->fd, frame.data(), frame.size(), DeadlineAfterSeconds(kNoticeSeconds)) !=
      WireStatus::kOK) {
    DropConnection(connection);
  }
}

}  // namespace carbon

using namespace carbon;

OSErr AESend(const AppleEvent *theAppleEvent, AppleEvent *reply, AESendMode sendMode, AESendPriority,
             long timeOutInTicks, AEIdleUPP, AEFilterUPP) {
  if (reply != nullptr) AEInitializeDesc(reply);
  if (theAppleEvent == nullptr || theAppleEvent->descriptorType != typeAppleEvent) return errAENotAppleEvent;
  AESendMode replyMode = sendMode & 3;
  if (replyMode != kAENoReply && replyMode != kAEWaitReply) return errAEUnknownSendMode;
  bool waits = replyMode == kAEWaitReply;

  pid_t pid = 0;
  OSErr err = TargetPid(theAppleEvent, &pid);
  std::vector<uint8_t> frame;
  if (err == noErr)
    err = BuildFrame(theAppleEvent, waits ? kFrameEventWantsReply : kFrameEventNoReply, 0, &frame);
  if (err != noErr) return err;
  TraceDesc(theAppleEvent);

  int64_t start = MonotonicNanos();
  int64_t wait = WaitFor(timeOutInTicks);
  int64_t deadline = wait == kNoDeadline ? kNoDeadline : start + wait;
  std::shared_ptr<Connection> connection;
  std::unique_lock<std::mutex> held;
  err = Deliver(pid, frame, deadline, &connection, &held);
  if (err != noErr) return err;
  err =
      AwaitAnswer(*connection, waits ? kFrameReply : kFrameReceipt, connection->sequence, start, wait, reply);
  if (err == connectionInvalid || err == errAECorruptData) DropConnection(connection);
  return err;
}
