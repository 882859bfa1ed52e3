// Internal to the carbon layer: how Apple Events travel between processes, shared by AESend
// and the receiving side of the stand-in application kit.
//
// A connection is a Unix stream socket to the application's socket in the run folder. Both
// directions carry frames:
//
//   offset 0  kind      4 bytes, big-endian four-character code (below)
//   offset 4  sequence  4 bytes, big-endian; a reply carries the sequence of its event
//   offset 8  length    4 bytes, big-endian; bytes of body that follow, at most kMaxFrameBody
//   offset 12 body      an event or reply in the flattened form (AEFlattenDesc), one byte
//                       0/1 for the Process Manager's notices, nothing for a receipt
//
// Events on one connection are handled in the order they arrive. An event that wants a reply
// is answered by a reply; one sent without a reply is answered by a receipt once the
// application has handled it, so that a sender that returns without error knows the
// application has the event (the event's handler never sees the receipt). Either answer is
// written on the connection its event came in on and carries the event's sequence. A sender
// that gave up waiting skips answers whose sequence is older than the one it waits for.
#pragma once

#include <MacTypes.h>

#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>

namespace carbon {

enum : uint32_t {
  kFrameEventWantsReply = FourCC("evrq"),
  kFrameEventNoReply = FourCC("evnr"),
  kFrameReply = FourCC("rply"),
  kFrameReceipt = FourCC("rcpt"),  // an event sent without a reply has been handled
  kFrameVisible = FourCC("pvis"),  // the application was shown (1) or hidden (0)
  kFrameFront = FourCC("pfrn"),    // the application came to the front (1) or left it (0)
};

constexpr size_t kFrameHeaderSize = 12;
constexpr uint32_t kMaxFrameBody = 16u << 20;

struct FrameHeader {
  uint32_t kind = 0;
  uint32_t sequence = 0;
  uint32_t length = 0;
};

void PutFrameHeader(uint8_t *at, const FrameHeader &header);
// False for a kind this layer does not know or a length past kMaxFrameBody.
bool GetFrameHeader(const uint8_t *at, FrameHeader *header);

enum class WireStatus { kOK, kTimedOut, kClosed, kFailed };

// Writes all bytes to a non-blocking socket before the deadline (see ProcTime.h).
WireStatus WriteAll(int fd, const void *bytes, size_t count, int64_t deadline);
// Waits until the socket is readable; kTimedOut at the deadline.
WireStatus WaitReadable(int fd, int64_t deadline);

// Collects frames from a non-blocking socket. Fill reads what has arrived; Next hands out
// complete frames in order. After a malformed header the reader is Broken and the
// connection must be dropped.
class FrameReader {
 public:
  WireStatus Fill(int fd);
  // Waits for bytes with one blocking receive under the socket's receive time-out (cheaper
  // than poll and then receive), for a socket that is not non-blocking. micros: how long to
  // wait, 0 for as long as it takes, negative for not at all. *timeoutSet remembers the
  // time-out last given to the socket, so that it is set only when it changes.
  WireStatus FillWaiting(int fd, int64_t micros, int64_t *timeoutSet);
  bool Next(FrameHeader *header, std::vector<uint8_t> *body);
  bool Broken() const { return broken_; }

 private:
  WireStatus Receive(int fd, int flags);

  std::vector<uint8_t> buffer_;  // bytes [used_, end_) have arrived and are not yet handed out
  size_t used_ = 0;
  size_t end_ = 0;
  bool broken_ = false;
  bool received_ = false;  // the last receive brought bytes
};

// A connected, close-on-exec socket, or -1. It blocks: the calls above that must not wait
// say so with MSG_DONTWAIT.
int ConnectToSocket(const std::string &path);
// A listening, non-blocking, close-on-exec socket of mode 0600 at path, or -1.
int ListenOnSocket(const std::string &path);
// The process at the other end, as the kernel saw it when it connected or listened.
bool PeerCredentials(int fd, pid_t *pid, uid_t *uid);

}  // namespace carbon

namespace carbon {

struct ProcessEntry;

// Tells an application that the Process Manager showed, hid, fronted or backgrounded it
// (kFrameVisible, kFrameFront), on the same connection as AESend's events so that the
// notice keeps its place among them. Best effort: an application that does not take it
// at once does not learn it.
void SendProcessNotice(const ProcessEntry &target, uint32_t kind, bool value);

}  // namespace carbon
