// Memory Manager over malloc. Every block carries a 16-byte header with its size, so that
// GetPtrSize and GetHandleSize need no table; a handle is the address of a master pointer
// record whose first word points at the block's data.
//
// A handle that grows past its block is given room to grow into, so that one grown a few bytes
// at a time (an Apple Event record taking one item after another) is moved a logarithmic number
// of times instead of on every growth. Small freed blocks are kept per thread for reuse (see
// BlockCache). Neither shows to callers: GetHandleSize is what was asked for, the heap limit and
// the counters count what was asked for, and every allocation or growth is still one that an
// injected failure or the limit may refuse.
#include <MacErrors.h>
#include <MacMemory.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define QC_POISON_SLACK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QC_POISON_SLACK 1
#endif
#endif
#ifdef QC_POISON_SLACK
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr size_t kHeader = 16;
constexpr uint32_t kPtrMagic = 0x51507472;     // 'QPtr'
constexpr uint32_t kHandleMagic = 0x5148646c;  // 'QHdl'
constexpr size_t kMinSlack = 256;
constexpr size_t kMaxSlack = size_t(16) << 20;

struct BlockHeader {
  uint64_t size;  // what the caller asked for
  uint32_t magic;
  uint32_t slack;  // bytes allocated past size: a handle's room to grow
};
static_assert(sizeof(BlockHeader) == kHeader);

// As much again, within bounds that keep small handles cheap and large ones frugal.
size_t SlackFor(size_t size) {
  return std::clamp(size, kMinSlack, kMaxSlack);
}

// Bytes past a handle's size must stay as unreadable as past the end of a malloc'ed block, so
// that the sanitizers still catch reads and writes beyond GetHandleSize.
void HideSlack([[maybe_unused]] BlockHeader *header) {
#ifdef QC_POISON_SLACK
  ASAN_POISON_MEMORY_REGION(reinterpret_cast<char *>(header) + kHeader + header->size, header->slack);
#endif
}

void ShowSlack([[maybe_unused]] BlockHeader *header) {
#ifdef QC_POISON_SLACK
  ASAN_UNPOISON_MEMORY_REGION(reinterpret_cast<char *>(header) + kHeader + header->size, header->slack);
#endif
}

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

// Freed blocks of up to 4 KiB are kept per thread by size class and handed out again, so that
// the many short-lived descriptors of an Apple Event cost neither a malloc nor a free, and a
// recycled handle comes with room to grow. Class c holds blocks of at least 64 << c bytes.
constexpr int kClasses = 7;
constexpr size_t kSmallestClass = 64;
constexpr int kKeptPerClass = 16;
constexpr uint32_t kKeptMagic = 0x514b6570;  // 'QKep'

// Plain data, so that reaching it costs no thread-local initialisation check; its blocks are
// freed when the thread ends by a BlockCacheReaper made with the first kept block.
struct BlockCache {
  BlockHeader *blocks[kClasses][kKeptPerClass];
  int kept[kClasses];
  bool reaped;
};
thread_local BlockCache cache;

struct BlockCacheReaper {
  ~BlockCacheReaper() {
    for (int c = 0; c < kClasses; c++) {
      for (int i = 0; i < cache.kept[c]; i++) std::free(cache.blocks[c][i]);
      cache.kept[c] = 0;
    }
  }
};

void ArmReaper() {
  thread_local BlockCacheReaper reaper;
  cache.reaped = true;
}

size_t ClassSize(int c) {
  return kSmallestClass << c;
}

// The smallest class whose blocks hold `bytes`; kClasses when none does.
int ClassFor(size_t bytes) {
  if (bytes <= kSmallestClass) return 0;
  int c = int(std::bit_width(bytes - 1)) - std::countr_zero(kSmallestClass);
  return std::min(c, kClasses);
}

// A kept block of class c or a little larger; null when there is none.
BlockHeader *TakeKeptBlock(int c) {
  for (int k = c; k < kClasses && k <= c + 2; k++) {
    if (cache.kept[k] > 0) return cache.blocks[k][--cache.kept[k]];
  }
  return nullptr;
}

// A block of at least *capacity bytes, kept or new; *capacity becomes its whole size. Null when
// malloc fails. Small blocks are made to the size of their class, so that they can be kept.
BlockHeader *NewBlock(size_t *capacity) {
  int c = ClassFor(*capacity);
  BlockHeader *header = TakeKeptBlock(c);
  if (header != nullptr) {
    ShowSlack(header);
    *capacity = header->slack;  // kept blocks are all slack
    return header;
  }
  if (c < kClasses) *capacity = ClassSize(c);
  return static_cast<BlockHeader *>(std::malloc(kHeader + *capacity));
}

// Keeps a block for reuse when its class has room; false when it should go back to malloc.
bool KeepBlock(BlockHeader *header) {
  size_t capacity = size_t(header->size) + header->slack;
  if (capacity < kSmallestClass || capacity >= 2 * ClassSize(kClasses - 1)) return false;
  int c = ClassFor(capacity);
  if (c == kClasses || ClassSize(c) > capacity) c--;  // the largest class it can serve
  if (c < 0 || cache.kept[c] == kKeptPerClass) return false;
  if (!cache.reaped) ArmReaper();
  header->magic = kKeptMagic;
  header->size = 0;
  header->slack = uint32_t(capacity);
  HideSlack(header);  // the whole block: a stale pointer into it is caught like one into freed memory
  cache.blocks[c][cache.kept[c]++] = header;
  return true;
}

Ptr AllocBlock(Size byteCount, uint32_t magic, bool clear) {
  if (byteCount < 0 || !MayAllocate(byteCount)) return nullptr;
  size_t wanted = size_t(byteCount);
  size_t capacity = wanted;
  BlockHeader *header = NewBlock(&capacity);
  if (header == nullptr) return nullptr;
  header->slack = uint32_t(capacity - wanted);
  header->size = uint64_t(wanted);
  header->magic = magic;
  HideSlack(header);
  Ptr data = reinterpret_cast<Ptr>(header) + kHeader;
  if (clear) std::memset(data, 0, wanted);
  Count(byteCount, 1);
  return data;
}

void FreeBlock(Ptr data) {
  BlockHeader *header = HeaderOf(data);
  if (header->magic == kKeptMagic) std::abort();  // disposed twice
  Count(-Size(header->size), -1);
  ShowSlack(header);
  if (KeepBlock(header)) return;
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
  lastError = p ? OSErr(noErr) : OSErr(memFullErr);
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

namespace {

// Moves the handle's block to one of at least *capacity bytes (set to what it got): a kept or
// new one for a small block, realloc for a large one or to shrink. False (block unchanged) when
// memory runs out. The new block's size and slack are left for the caller to set.
bool MoveBlock(Handle h, size_t *capacity) {
  BlockHeader *header = HeaderOf(*h);
  ShowSlack(header);
  BlockHeader *moved = nullptr;
  if (ClassFor(*capacity) < kClasses && *capacity > header->size) {
    moved = NewBlock(capacity);
    if (moved != nullptr) {
      std::memcpy(reinterpret_cast<char *>(moved) + kHeader, *h, size_t(header->size));
      moved->magic = header->magic;
      if (!KeepBlock(header)) std::free(header);
    }
  } else {
    moved = static_cast<BlockHeader *>(std::realloc(header, kHeader + *capacity));
  }
  if (moved == nullptr) {
    HideSlack(header);
    return false;
  }
  *h = reinterpret_cast<Ptr>(moved) + kHeader;
  return true;
}

}  // namespace

void SetHandleSize(Handle h, Size newSize) {
  if (h == nullptr || *h == nullptr || newSize < 0) {
    lastError = h == nullptr ? nilHandleErr : memFullErr;
    return;
  }
  BlockHeader *header = HeaderOf(*h);
  size_t oldSize = size_t(header->size);
  size_t capacity = oldSize + header->slack;
  size_t wanted = size_t(newSize);
  if (wanted > oldSize && !MayAllocate(Size(wanted - oldSize))) {
    lastError = memFullErr;
    return;
  }
  if (wanted > capacity) {
    capacity = wanted + SlackFor(wanted);
  } else if (capacity - wanted > SlackFor(wanted)) {
    capacity = wanted;  // much smaller now: give the memory back
  }
  if (capacity != oldSize + header->slack) {
    if (!MoveBlock(h, &capacity)) {
      lastError = memFullErr;
      return;
    }
    header = HeaderOf(*h);
  } else {
    ShowSlack(header);
  }
  header->size = uint64_t(wanted);
  header->slack = uint32_t(capacity - wanted);
  HideSlack(header);
  Count(newSize - Size(oldSize), 0);
  lastError = noErr;
}

void HLock(Handle h) {
  if (h) reinterpret_cast<MasterPointer *>(h)->locked = true;
  lastError = h ? OSErr(noErr) : OSErr(nilHandleErr);
}

void HUnlock(Handle h) {
  if (h) reinterpret_cast<MasterPointer *>(h)->locked = false;
  lastError = h ? OSErr(noErr) : OSErr(nilHandleErr);
}

void HPurge(Handle h) {
  if (h) reinterpret_cast<MasterPointer *>(h)->purgeable = true;
  lastError = h ? OSErr(noErr) : OSErr(nilHandleErr);
}

void HNoPurge(Handle h) {
  if (h) reinterpret_cast<MasterPointer *>(h)->purgeable = false;
  lastError = h ? OSErr(noErr) : OSErr(nilHandleErr);
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
long CarbonFailAllocationAfter(long n) {
  return failCountdown.exchange(n);
}
Size CarbonHeapInUse() {
  return inUse.load();
}
long CarbonLiveBlocks() {
  return liveBlocks.load();
}
