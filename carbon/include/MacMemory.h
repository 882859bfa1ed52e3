// Memory Manager: non-relocatable blocks (pointers) and relocatable blocks (handles).
//
// A handle is the address of a master pointer that the Memory Manager owns; the block it
// points at may move on every resize, so callers re-read *h after SetHandleSize. Every call
// sets MemError(). The caller owns every block it gets and disposes it with DisposePtr or
// DisposeHandle. Blocks are counted against a heap limit that tests can lower, and a test
// can make the Nth allocation fail, so that every allocation failure path can be run.
#pragma once

#include "MacTypes.h"

Ptr NewPtr(Size byteCount);  // null on failure; caller disposes
Ptr NewPtrClear(Size byteCount);
void DisposePtr(Ptr p);  // null is accepted
Size GetPtrSize(Ptr p);

Handle NewHandle(Size byteCount);  // null on failure; caller disposes
Handle NewHandleClear(Size byteCount);
Handle NewEmptyHandle();
void DisposeHandle(Handle h);  // null is accepted
Size GetHandleSize(Handle h);
void SetHandleSize(Handle h, Size newSize);  // contents kept up to the smaller size
void HLock(Handle h);
void HUnlock(Handle h);
void HPurge(Handle h);
void HNoPurge(Handle h);
void EmptyHandle(Handle h);

OSErr MemError();
Size MaxBlock();  // the largest block that can be allocated now
void PurgeSpace(long *total, long *contiguous);
void PurgeMem(Size cbNeeded);
Size CompactMem(Size cbNeeded);

void BlockMove(const void *src, void *dest, Size count);  // overlapping moves allowed
void BlockMoveData(const void *src, void *dest, Size count);
OSErr PtrToHand(const void *src, Handle *dest, long size);  // *dest: new handle, caller disposes
OSErr PtrAndHand(const void *src, Handle h, long size);     // appends to h
OSErr HandToHand(Handle *h);  // replaces *h by a copy; the original stays the caller's

// Test controls of this carbon layer; the plug-in never calls them.
void CarbonSetHeapLimit(Size bytes);  // total bytes of live blocks allowed; <0: no limit
// The (n+1)th allocation from now fails; n < 0: none. Returns how many allocations the
// failure armed before still had to let through: < 0 once it has been used (or when none was).
long CarbonFailAllocationAfter(long n);
Size CarbonHeapInUse();   // bytes held by live blocks
long CarbonLiveBlocks();  // live pointers and handles
