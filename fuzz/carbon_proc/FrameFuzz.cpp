// Bytes on an application's socket come from another process: the frame reader must hand
// out only whole frames within bounds, or stop as broken, whatever arrives.
#include "AEWire.h"

#include <sys/socket.h>
#include <unistd.h>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int fds[2];
  if (size > 65536 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) != 0) return 0;
  if (size > 0 && write(fds[0], data, size) != ssize_t(size)) std::abort();
  close(fds[0]);
  carbon::FrameReader reader;
  carbon::FrameHeader header;
  std::vector<uint8_t> body;
  size_t consumed = 0;
  for (int round = 0; round < 4; round++) {
    reader.Fill(fds[1]);
    while (reader.Next(&header, &body)) {
      if (body.size() != header.length || header.length > carbon::kMaxFrameBody) std::abort();
      consumed += carbon::kFrameHeaderSize + body.size();
    }
  }
  if (consumed > size) std::abort();
  close(fds[1]);
  return 0;
}
