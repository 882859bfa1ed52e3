// Frames and sockets of the Apple Event transport.
#include "AEWire.h"

#include "ProcTime.h"

#include <Endian.h>
#include <MachineFolder.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace carbon {
namespace {

bool KnownKind(uint32_t kind) {
  return kind == kFrameEventWantsReply || kind == kFrameEventNoReply || kind == kFrameReply ||
         kind == kFrameReceipt || kind == kFrameVisible || kind == kFrameFront;
}

static_assert(kMaxSocketPath == sizeof(sockaddr_un::sun_path) - 1,
              "the socket path limit of MachineFolder.h");

bool SocketAddress(const std::string &path, sockaddr_un *address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

WireStatus WaitFor(int fd, short events, int64_t deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    int ready = poll(&entry, 1, MillisecondsUntil(deadline));
    if (ready > 0) return WireStatus::kOK;  // readiness or hang-up: the next call tells which
    if (ready == 0) return WireStatus::kTimedOut;
    if (errno != EINTR) return WireStatus::kFailed;
  }
}

}  // namespace

void PutFrameHeader(uint8_t *at, const FrameHeader &header) {
  PutBigEndian32(at, header.kind);
  PutBigEndian32(at + 4, header.sequence);
  PutBigEndian32(at + 8, header.length);
}

bool GetFrameHeader(const uint8_t *at, FrameHeader *header) {
  ByteReader bytes = ByteReaderOver(at, kFrameHeaderSize);
  return ReadBigEndian32(&bytes, &header->kind) && ReadBigEndian32(&bytes, &header->sequence) &&
         ReadBigEndian32(&bytes, &header->length) && KnownKind(header->kind) &&
         header->length <= kMaxFrameBody;
}

WireStatus WriteAll(int fd, const void *bytes, size_t count, int64_t deadline) {
  const auto *at = static_cast<const uint8_t *>(bytes);
  while (count > 0) {
    ssize_t sent = send(fd, at, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      at += sent;
      count -= size_t(sent);
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      WireStatus waited = WaitFor(fd, POLLOUT, deadline);
      if (waited != WireStatus::kOK) return waited;
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else {
      return errno == EPIPE || errno == ECONNRESET ? WireStatus::kClosed : WireStatus::kFailed;
    }
  }
  return WireStatus::kOK;
}

WireStatus WaitReadable(int fd, int64_t deadline) {
  return WaitFor(fd, POLLIN, deadline);
}

WireStatus FrameReader::Fill(int fd) {
  return Receive(fd, MSG_DONTWAIT);
}

WireStatus FrameReader::FillWaiting(int fd, int64_t micros, int64_t *timeoutSet) {
  if (micros < 0) {
    WireStatus status = Receive(fd, MSG_DONTWAIT);
    return status == WireStatus::kOK && !received_ ? WireStatus::kTimedOut : status;
  }
  if (micros != *timeoutSet) {
    timeval limit{time_t(micros / 1000000), suseconds_t(micros % 1000000)};
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return WireStatus::kFailed;
    *timeoutSet = micros;
  }
  WireStatus status = Receive(fd, 0);
  return status == WireStatus::kOK && !received_ ? WireStatus::kTimedOut : status;
}

WireStatus FrameReader::Receive(int fd, int flags) {
  received_ = false;
  if (used_ > 0) {  // keep the unread bytes at the front
    std::memmove(buffer_.data(), buffer_.data() + used_, end_ - used_);
    end_ -= used_;
    used_ = 0;
  }
  if (buffer_.size() - end_ < 4096) buffer_.resize(buffer_.size() < 65536 ? 65536 : buffer_.size() * 2);
  for (;;) {
    ssize_t got = recv(fd, buffer_.data() + end_, buffer_.size() - end_, flags);
    if (got > 0) {
      end_ += size_t(got);
      received_ = true;
      return WireStatus::kOK;
    }
    if (got == 0) return WireStatus::kClosed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return WireStatus::kOK;
    return errno == ECONNRESET ? WireStatus::kClosed : WireStatus::kFailed;
  }
}

bool FrameReader::Next(FrameHeader *header, std::vector<uint8_t> *body) {
  if (broken_ || end_ - used_ < kFrameHeaderSize) return false;
  if (!GetFrameHeader(buffer_.data() + used_, header)) {
    broken_ = true;
    return false;
  }
  ByteReader rest =
      ByteReaderOver(buffer_.data() + used_ + kFrameHeaderSize, end_ - used_ - kFrameHeaderSize);
  std::span<const uint8_t> bytes;
  if (!ReadByteRun(&rest, header->length, &bytes)) return false;  // the body has not all arrived
  body->assign(bytes.begin(), bytes.end());
  used_ += kFrameHeaderSize + header->length;
  if (used_ == end_) used_ = end_ = 0;
  return true;
}

int ConnectToSocket(const std::string &path) {
  sockaddr_un address;
  if (!SocketAddress(path, &address)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // A Unix socket connects at once or not at all; EAGAIN means its backlog is full.
  int result;
  do {
    result = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int ListenOnSocket(const std::string &path) {
  sockaddr_un address;
  if (!SocketAddress(path, &address)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  unlink(path.c_str());
  // The socket file takes its mode from the umask at bind time: make it the user's alone
  // from the start rather than narrowing it afterwards.
  mode_t old = umask(077);
  bool bound = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  umask(old);
  if (!bound || chmod(path.c_str(), 0600) != 0 || listen(fd, 64) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool PeerCredentials(int fd, pid_t *pid, uid_t *uid) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
  *pid = credentials.pid;
  *uid = credentials.uid;
  return true;
}

}  // namespace carbon
