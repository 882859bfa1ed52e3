// Memory Manager over malloc. Every block carries a 16-byte header with its size, so that
// GetPtrSize and GetHandleSize need no table; a handle is the address of a master pointer
// record whose first word points at the block's data.
#include <MacErrors.h>
#include <MacMemory.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr size_t kHeader = 16;
constexpr uint32_t kPtrMagic = 0x51507472;     // 'QPtr'
constexpr uint32_t kHandleMagic = 0x5148646c;  // 'QHdl'

struct BlockHeader {
  uint64_t size;
  uint32_t magic;
  uint32_t spare;
};
static_assert(sizeof(BlockHeader) == kHeader);

struct MasterPointer {
  Ptr data;  // must stay first: a Handle is the address of this word
  MasterPointer *nextFree;
  bool locked;
  bool purgeable;
};

// Master pointer records are recycled, as the Mac kept them in master pointer blocks, so a
// handle costs one malloc for its data and none for its master pointer.
thread_local MasterPointer *freeMasters = nullptr;

thread_local OSErr lastError = noErr;
std::atomic<Size> heapLimit{-1};
std::atomic<long> failCountdown{-1};

// The Memory Manager is called from one thread at a time (the host's, or a stand-in's event
// thread), and allocation is the hot path of every Apple Event, so the counters are kept
// with plain atomic loads and stores rather than locked read-modify-writes.
std::atomic<Size> inUse{0};
std::atomic<long> liveBlocks{0};

void Count(Size bytes, long blocks) {
  inUse.store(inUse.load(std::memory_order_relaxed) + bytes, std::memory_order_relaxed);
  liveBlocks.store(liveBlocks.load(std::memory_order_relaxed) + blocks, std::memory_order_relaxed);
}

BlockHeader *HeaderOf(const void *data) {
  return reinterpret_cast<BlockHeader *>(static_cast<char *>(const_cast<void *>(data)) - kHeader);
}

// Decides whether growing the heap by `bytes` may go ahead, consuming one injected failure.
bool MayAllocate(Size bytes) {
  long countdown = failCountdown.load(std::memory_order_relaxed);
  if (countdown >= 0) {
    failCountdown.store(countdown - 1);
    if (countdown == 0) return false;
  }
  Size limit = heapLimit.load(std::memory_order_relaxed);
  return limit < 0 || inUse.load(std::memory_order_relaxed) + bytes <= limit;
}

Ptr AllocBlock(Size byteCount, uint32_t magic, bool clear) {
  if (byteCount < 0 || !MayAllocate(byteCount)) return nullptr;
  auto *header = static_cast<BlockHeader *>(std::malloc(kHeader + size_t(byteCount)));
  if (header == nullptr) return nullptr;
  header->size = uint64_t(byteCount);
  header->magic = magic;
  Ptr data = reinterpret_cast<Ptr>(header) + kHeader;
  if (clear) std::memset(data, 0, size_t(byteCount));
  Count(byteCount, 1);
  return data;
}

void FreeBlock(Ptr data) {
  BlockHeader *header = HeaderOf(data);
  Count(-Size(header->size), -1);
  header->magic = 0;
  std::free(header);
}

MasterPointer *TakeMaster() {
  MasterPointer *master = freeMasters;
  if (master == nullptr) return new (std::nothrow) MasterPointer{};
  freeMasters = master->nextFree;
  return master;
}

void ReturnMaster(MasterPointer *master) {
  master->data = nullptr;
  master->nextFree = freeMasters;
  freeMasters = master;
}

Ptr NewPtrCommon(Size byteCount, bool clear) {
  Ptr p = AllocBlock(byteCount, kPtrMagic, clear);
  lastError = p ? noErr : memFullErr;
  return p;
}

Handle NewHandleCommon(Size byteCount, bool clear) {
  Ptr data = AllocBlock(byteCount, kHandleMagic, clear);
  MasterPointer *master = data ? TakeMaster() : nullptr;
  if (master == nullptr) {
    if (data != nullptr) FreeBlock(data);
    lastError = memFullErr;
    return nullptr;
  }
  *master = MasterPointer{data, nullptr, false, false};
  lastError = noErr;
  return &master->data;
}

}  // namespace

Ptr NewPtr(Size byteCount) {
  return NewPtrCommon(byteCount, false);
}
Ptr NewPtrClear(Size byteCount) {
  return NewPtrCommon(byteCount, true);
}

void DisposePtr(Ptr p) {
  if (p != nullptr) FreeBlock(p);
  lastError = noErr;
}

Size GetPtrSize(Ptr p) {
  if (p == nullptr) {
    lastError = nilHandleErr;
    return 0;
  }
  lastError = noErr;
  return Size(HeaderOf(p)->size);
}

Handle NewHandle(Size byteCount) {
  return NewHandleCommon(byteCount, false);
}
Handle NewHandleClear(Size byteCount) {
  return NewHandleCommon(byteCount, true);
}
Handle NewEmptyHandle() {
  return NewHandleCommon(0, false);
}

void DisposeHandle(Handle h) {
  if (h != nullptr) {
    auto *master = reinterpret_cast<MasterPointer *>(h);
    if (master->data != nullptr) FreeBlock(master->data);
    ReturnMaster(master);
  }
  lastError = noErr;
}

Size GetHandleSize(Handle h) {
  if (h == nullptr || *h == nullptr) {
    lastError = nilHandleErr;
    return 0;
  }
  lastError = noErr;
  return Size(HeaderOf(*h)->size);
}

void SetHandleSize(Handle h, Size newSize) {
  if (h == nullptr || *h == nullptr || newSize < 0) {
    lastError = h == nullptr ? nilHandleErr : memFullErr;
    return;
  }
  BlockHeader *header = HeaderOf(*h);
  Size oldSize = Size(header->size);
  if (newSize > oldSize && !MayAllocate(newSize - oldSize)) {
    lastError = memFullErr;
    return;
  }
  auto *moved = static_cast<BlockHeader *>(std::realloc(header, kHeader + size_t(newSize)));
  if (moved == nullptr) {
    lastError = memFullErr;
    return;
  }
  moved->size = uint64_t(newSize);
  Count(newSize - oldSize, 0);
  *h = reinterpret_cast<Ptr>(moved) + kHeader;
  lastError = noErr;
}

void HLock(Handle h) {
  if (h) reinterpret_cast<MasterPointer *>(h)->locked = true;
  lastError = h ? noErr : nilHandleErr;
}

void HUnlock(Handle h) {
  if (h) reinterpret_cast<MasterPointer *>(h)->locked = false;
  lastError = h ? noErr : nilHandleErr;
}

void HPurge(Handle h) {
  if (h) reinterpret_cast<MasterPointer *>(h)->purgeable = true;
  lastError = h ? noErr : nilHandleErr;
}

void HNoPurge(Handle h) {
  if (h) reinterpret_cast<MasterPointer *>(h)->purgeable = false;
  lastError = h ? noErr : nilHandleErr;
}

void EmptyHandle(Handle h) {
  SetHandleSize(h, 0);
}

OSErr MemError() {
  return lastError;
}

Size MaxBlock() {
  Size limit = heapLimit.load();
  if (limit < 0) return Size(1) << 40;  // no limit: far beyond any block the plug-in asks for
  Size left = limit - inUse.load();
  return left > 0 ? left : 0;
}

// Nothing here is purgeable in a way that frees memory: blocks are never purged behind a
// caller's back, so purging reports what is free now.
void PurgeSpace(long *total, long *contiguous) {
  Size free = MaxBlock();
  if (total) *total = free;
  if (contiguous) *contiguous = free;
}

void PurgeMem(Size) {
  lastError = noErr;
}
Size CompactMem(Size) {
  return MaxBlock();
}

void BlockMove(const void *src, void *dest, Size count) {
  if (count > 0) std::memmove(dest, src, size_t(count));
}

void BlockMoveData(const void *src, void *dest, Size count) {
  BlockMove(src, dest, count);
}

OSErr PtrToHand(const void *src, Handle *dest, long size) {
  *dest = NewHandle(size);
  if (*dest == nullptr) return lastError;
  BlockMove(src, **dest, size);
  return noErr;
}

OSErr PtrAndHand(const void *src, Handle h, long size) {
  Size old = GetHandleSize(h);
  if (lastError != noErr) return lastError;
  SetHandleSize(h, old + size);
  if (lastError != noErr) return lastError;
  BlockMove(src, *h + old, size);
  return noErr;
}

OSErr HandToHand(Handle *h) {
  Size size = GetHandleSize(*h);
  if (lastError != noErr) return lastError;
  Handle copy = NewHandle(size);
  if (copy == nullptr) return lastError;
  BlockMove(**h, *copy, size);
  *h = copy;
  return noErr;
}

void CarbonSetHeapLimit(Size bytes) {
  heapLimit.store(bytes);
}
void CarbonFailAllocationAfter(long n) {
  failCountdown.store(n);
}
Size CarbonHeapInUse() {
  return inUse.load();
}
long CarbonLiveBlocks() {
  return liveBlocks.load();
}
