// Handles grown a little at a time, as Apple Event records are: the room kept for growth and
// the recycled blocks must never show through sizes, contents, the heap's counters or
// injected failures.
#include <MacErrors.h>
#include <MacMemory.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct HeapGuard {
  ~HeapGuard() {
    CarbonSetHeapLimit(-1);
    CarbonFailAllocationAfter(-1);
  }
};

void AppendByte(Handle h, char c) {
  Size size = GetHandleSize(h);
  SetHandleSize(h, size + 1);
  ASSERT_EQ(MemError(), noErr);
  (*h)[size] = c;
}

TEST(HandleGrowth, SizesContentsAndCountersFollowWhatWasAskedFor) {
  long blocks = CarbonLiveBlocks();
  Size inUse = CarbonHeapInUse();
  // Sizes that cross every block size kept for reuse, and beyond.
  for (Size target : {Size(1), Size(63), Size(300), Size(5000), Size(70000)}) {
    Handle h = NewHandle(0);
    ASSERT_NE(h, nullptr);
    for (Size i = 0; i < target; i++) AppendByte(h, char('a' + i % 26));
    EXPECT_EQ(GetHandleSize(h), target);
    EXPECT_EQ(CarbonHeapInUse(), inUse + target);
    for (Size i = 0; i < target; i++) ASSERT_EQ((*h)[i], char('a' + i % 26)) << target << " at " << i;
    SetHandleSize(h, target / 2);
    EXPECT_EQ(GetHandleSize(h), target / 2);
    for (Size i = 0; i < target / 2; i++) ASSERT_EQ((*h)[i], char('a' + i % 26)) << target << " at " << i;
    EXPECT_EQ(CarbonHeapInUse(), inUse + target / 2);
    DisposeHandle(h);
    EXPECT_EQ(CarbonLiveBlocks(), blocks);
    EXPECT_EQ(CarbonHeapInUse(), inUse);
  }
  // A recycled block comes back cleared when asked, whatever it held.
  Handle dirty = NewHandle(48);
  std::memset(*dirty, 0x5A, 48);
  DisposeHandle(dirty);
  Handle clean = NewHandleClear(48);
  for (int i = 0; i < 48; i++) ASSERT_EQ((*clean)[i], 0);
  DisposeHandle(clean);
}

TEST(HandleGrowth, EveryGrowthCanFailAndLeavesTheHandleAsItWas) {
  HeapGuard guard;
  Handle h = NewHandle(4);
  std::memcpy(*h, "abcd", 4);
  SetHandleSize(h, 5);  // now there is room: the next growth needs no new block
  CarbonFailAllocationAfter(0);
  SetHandleSize(h, 6);
  EXPECT_EQ(MemError(), memFullErr);
  EXPECT_EQ(GetHandleSize(h), 5);
  EXPECT_EQ(std::memcmp(*h, "abcd", 4), 0);
  CarbonSetHeapLimit(CarbonHeapInUse());
  SetHandleSize(h, 6);
  EXPECT_EQ(MemError(), memFullErr);
  EXPECT_EQ(GetHandleSize(h), 5);
  SetHandleSize(h, 3);  // shrinking never fails
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(GetHandleSize(h), 3);
  DisposeHandle(h);
}

}  // namespace
