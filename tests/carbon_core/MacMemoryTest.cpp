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

TEST(MacMemory, ZeroSizedBlocksAreValid) {
  Handle h = NewHandle(0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetHandleSize(h), 0);
  Ptr p = NewPtr(0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(GetPtrSize(p), 0);
  DisposePtr(p);
  DisposeHandle(h);
  DisposeHandle(nullptr);
  DisposePtr(nullptr);
}

TEST(MacMemory, HeapLimitFailsGrowthAndLeavesTheBlock) {
  HeapGuard guard;
  long before = CarbonLiveBlocks();
  Handle h = NewHandle(10);
  ASSERT_NE(h, nullptr);
  std::memcpy(*h, "0123456789", 10);
  CarbonSetHeapLimit(CarbonHeapInUse() + 100);
  EXPECT_LE(MaxBlock(), 100);
  SetHandleSize(h, 1000);
  EXPECT_EQ(MemError(), memFullErr);
  EXPECT_EQ(GetHandleSize(h), 10);
  EXPECT_EQ(std::memcmp(*h, "0123456789", 10), 0);
  EXPECT_EQ(NewPtr(1000), nullptr);
  EXPECT_EQ(MemError(), memFullErr);
  DisposeHandle(h);
  EXPECT_EQ(CarbonLiveBlocks(), before);
}

TEST(MacMemory, InjectedFailureHitsExactlyTheNthAllocation) {
  HeapGuard guard;
  CarbonFailAllocationAfter(2);
  Ptr a = NewPtr(8);
  Handle b = NewHandle(8);
  Ptr c = NewPtr(8);
  Ptr d = NewPtr(8);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_NE(d, nullptr);
  DisposePtr(a);
  DisposeHandle(b);
  DisposePtr(d);
}

TEST(MacMemory, PtrAndHandAppendsAndHandToHandCopies) {
  Handle h = nullptr;
  ASSERT_EQ(PtrToHand("ab", &h, 2), noErr);
  ASSERT_EQ(PtrAndHand("cd", h, 2), noErr);
  Handle copy = h;
  ASSERT_EQ(HandToHand(&copy), noErr);
  EXPECT_NE(copy, h);
  EXPECT_EQ(GetHandleSize(copy), 4);
  EXPECT_EQ(std::memcmp(*copy, "abcd", 4), 0);
  DisposeHandle(h);
  DisposeHandle(copy);
}

}  // namespace
