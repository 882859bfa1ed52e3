// Memory buffers: growth in steps of 1,024 bytes, handed over at the exact length.
#include "support/MemoryBuffer.h"

#include <MacErrors.h>
#include <MacMemory.h>

#include <cstdint>

#include "support/ErrorReporting.h"

namespace {
constexpr SInt64 kGrowthStep = 1024;
}

OSErr CreateMemoryBuffer(MemoryBuffer *buffer) {
  OSErr status;
  buffer->handle = AllocHandleFinal(&status, 0);
  TestError(status);
  if (status == noErr) {
    buffer->capacity = 0;
    buffer->length = 0;
  }
  return status;
}

OSErr WriteMemoryBuffer(MemoryBuffer *buffer, const void *source, UInt32 count) {
  SInt64 needed = SInt64(buffer->length) + count;
  if (needed > buffer->capacity) {
    SInt64 capacity = needed / kGrowthStep * kGrowthStep + kGrowthStep;
    // The capacity is a signed 32-bit field; a buffer beyond it cannot be described.
    if (capacity > INT32_MAX) {
      TestError(memFullErr);
      return memFullErr;
    }
    SetHandleSize(buffer->handle, Size(capacity));
    OSErr status = TestMemError(buffer->handle);
    if (status != noErr) return status;
    buffer->capacity = SInt32(capacity);
  }
  BlockMoveData(source, *buffer->handle + buffer->length, count);
  buffer->length += count;
  return noErr;
}

Handle CloseMemoryBuffer(MemoryBuffer *buffer) {
  SetHandleSize(buffer->handle, buffer->length);
  return buffer->handle;
}
