// A growable block that collects bytes whose total is known only at the end, handed over as
// a handle of exactly the written length.
//
// The record lives in the caller's frame. Calling order: CreateMemoryBuffer, any number of
// WriteMemoryBuffer, CloseMemoryBuffer. A buffer whose creation failed must not be written
// or closed. The handle belongs to the buffer until CloseMemoryBuffer hands it to the
// caller, who disposes it.
#pragma once

#include <MacTypes.h>

struct MemoryBuffer {
  Handle handle;    // the storage; created with size 0
  SInt32 capacity;  // allocated size of the handle
  UInt32 length;    // bytes written so far; never more than capacity
};

OSErr CreateMemoryBuffer(MemoryBuffer *buffer);  // reported on failure
// Appends count bytes; on failure (reported) the earlier contents and length stay intact.
OSErr WriteMemoryBuffer(MemoryBuffer *buffer, const void *source, UInt32 count);
Handle CloseMemoryBuffer(MemoryBuffer *buffer);  // caller disposes
