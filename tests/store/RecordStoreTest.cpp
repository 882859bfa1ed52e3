#include "store/RecordStore.h"

#include <MacMemory.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Contents(const RecordStore &store) {
  std::vector<std::string> records;
  records.reserve(size_t(DictionaryItems(&store)));
  for (SInt32 i = 0; i < DictionaryItems(&store); i++) {
    records.emplace_back(DictionaryData(&store, i), DictionaryLength(&store, i));
  }
  return records;
}

bool Write(RecordStore *store, SInt32 index, const std::string &bytes) {
  return DictionaryWrite(store, index, bytes.data(), UInt32(bytes.size()));
}

class RecordStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    blocks_ = CarbonLiveBlocks();
    ASSERT_TRUE(InitDictionary(&store_));
  }
  void TearDown() override {
    KillDictionary(&store_);
    CarbonFailAllocationAfter(-1);
    EXPECT_EQ(CarbonLiveBlocks(), blocks_);
  }
  void Fill(const std::vector<std::string> &records) {
    for (const std::string &record : records) {
      ASSERT_TRUE(DictionaryAppend(&store_));
      ASSERT_TRUE(Write(&store_, DictionaryItems(&store_) - 1, record));
    }
  }
  RecordStore store_{};
  long blocks_ = 0;
};

TEST_F(RecordStoreTest, GrowthFollowsTheSlackRules) {
  EXPECT_EQ(DictionaryItems(&store_), 0);
  for (int i = 0; i < 63; i++) ASSERT_TRUE(DictionaryAppend(&store_));
  EXPECT_EQ(store_.offsetsCapacity, 256);
  ASSERT_TRUE(DictionaryAppend(&store_));
  EXPECT_EQ(store_.offsetsCapacity, 516);
  EXPECT_EQ(GetHandleSize(store_.offsets), 516);

  ASSERT_TRUE(Write(&store_, 0, std::string(2000, 'a')));
  EXPECT_EQ(store_.dataCapacity, 3024);
  EXPECT_EQ(GetHandleSize(store_.data), 3024);
  EXPECT_TRUE(DictionaryCheck(&store_));
}

TEST_F(RecordStoreTest, RewritesMoveOnlyTheTail) {
  Fill({"one", std::string("t\0o", 3), "three", "\xFF"});
  ASSERT_TRUE(Write(&store_, 1, "TWO"));           // same length
  ASSERT_TRUE(Write(&store_, 0, "a longer one"));  // grows, moves the tail up
  ASSERT_TRUE(Write(&store_, 2, ""));              // shrinks, moves the tail down
  ASSERT_TRUE(Write(&store_, 3, "last\xFFrecord"));
  EXPECT_EQ(Contents(store_), (std::vector<std::string>{"a longer one", "TWO", "", "last\xFFrecord"}));
  EXPECT_TRUE(DictionaryCheck(&store_));
}

TEST_F(RecordStoreTest, BadIndexesAndAbsentStoresChangeNothing) {
  Fill({"a", "b"});
  RecordStore before = store_;
  for (SInt32 index : {2, 3, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_FALSE(Write(&store_, index, "x")) << index;
    EXPECT_FALSE(DictionaryValidIndex(&store_, index));
    DictionaryRemove(&store_, index);
  }
  for (auto [first, count] : {std::pair{0, 2}, {1, 1}, {-1, 1}, {0, -1}, {INT32_MAX, INT32_MAX}}) {
    DictionaryRemoveMultiple(&store_, first, count);
  }
  EXPECT_EQ(Contents(store_), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(store_.dataCapacity, before.dataCapacity);

  RecordStore absent{};
  EXPECT_FALSE(DictionaryAppend(&absent));
  EXPECT_FALSE(Write(&absent, 0, "x"));
  EXPECT_FALSE(DictionaryValidIndex(&absent, 0));
  DictionaryRemove(&absent, 0);
  DictionaryRemoveMultiple(&absent, 0, 0);
}

// A removal shrinks a block to its exact size only when it leaves more than 1024 bytes of
// slack: exactly 1024 stay. Data: 2000 + 24 bytes in a 3024-byte block; offsets: 600 records
// in a 2596-byte block, whose threshold is 392 records (4 * 392 + 4 + 1024 = 2596).
TEST_F(RecordStoreTest, RemovalsShrinkOnlyPastTheThreshold) {
  struct Case {
    SInt32 firstLength;  // record 0, before record 1 (24 bytes) is removed
    SInt32 dataCapacity;
  } dataCases[] = {{2000, 3024}, {1999, 1999}};
  for (const Case &c : dataCases) {
    Fill({std::string(2000, 'a'), std::string(24, 'b')});
    ASSERT_EQ(store_.dataCapacity, 3024);
    ASSERT_TRUE(Write(&store_, 0, std::string(size_t(c.firstLength), 'a')));
    DictionaryRemove(&store_, 1);
    EXPECT_EQ(store_.dataCapacity, c.dataCapacity) << c.firstLength;
    EXPECT_EQ(GetHandleSize(store_.data), c.dataCapacity) << c.firstLength;
    EXPECT_EQ(Contents(store_), std::vector<std::string>{std::string(size_t(c.firstLength), 'a')});
    KillDictionary(&store_);
    ASSERT_TRUE(InitDictionary(&store_));
  }

  struct OffsetsCase {
    SInt32 kept;
    SInt32 offsetsCapacity;
  } offsetsCases[] = {{392, 2596}, {391, 4 * 391 + 4}};
  std::vector<std::string> numbers;
  numbers.reserve(600);
  for (int i = 0; i < 600; i++) numbers.push_back(std::to_string(i));
  for (const OffsetsCase &c : offsetsCases) {
    Fill(numbers);
    ASSERT_EQ(store_.offsetsCapacity, 2596);
    DictionaryRemoveMultiple(&store_, 0, 600 - c.kept);
    EXPECT_EQ(store_.offsetsCapacity, c.offsetsCapacity) << c.kept;
    EXPECT_EQ(GetHandleSize(store_.offsets), c.offsetsCapacity) << c.kept;
    EXPECT_EQ(Contents(store_).front(), std::to_string(600 - c.kept));
    EXPECT_TRUE(DictionaryCheck(&store_));
    KillDictionary(&store_);
    ASSERT_TRUE(InitDictionary(&store_));
  }
}

// Random operations against a vector of strings; the invariants hold after each one.
TEST_F(RecordStoreTest, MatchesAModelUnderRandomOperations) {
  std::mt19937 random(7);
  std::vector<std::string> model;
  for (int step = 0; step < 4000; step++) {
    auto items = SInt32(model.size());
    SInt32 index = SInt32(random() % (items + 2)) - 1;
    switch (random() % 4) {
      case 0:
        ASSERT_TRUE(DictionaryAppend(&store_));
        model.emplace_back();
        break;
      case 1: {
        std::string bytes(random() % 3000, char(random()));
        bool valid = index >= 0 && index < items;
        ASSERT_EQ(Write(&store_, index, bytes), valid);
        if (valid) model[index] = bytes;
        break;
      }
      case 2:
        DictionaryRemove(&store_, index);
        if (index >= 0 && index < items) model.erase(model.begin() + index);
        break;
      default: {
        SInt32 count = SInt32(random() % 4);
        DictionaryRemoveMultiple(&store_, index, count);
        if (index >= 0 && index + count < items)
          model.erase(model.begin() + index, model.begin() + index + count);
      }
    }
    ASSERT_TRUE(DictionaryCheck(&store_)) << "step " << step;
    ASSERT_EQ(Contents(store_), model) << "step " << step;
  }
}

// Fails each allocation in turn: a failed init holds no blocks, a failed append or write
// leaves the store as it was, and nothing leaks.
TEST_F(RecordStoreTest, AllocationFailuresLeaveTheStoreIntact) {
  KillDictionary(&store_);
  for (long failAt = 0; failAt < 40; failAt++) {
    RecordStore store{};
    CarbonFailAllocationAfter(failAt);
    if (!InitDictionary(&store)) {
      EXPECT_EQ(store.data, nullptr);
      EXPECT_EQ(store.offsets, nullptr);
      continue;
    }
    std::vector<std::string> model;
    for (int i = 0; i < 100; i++) {
      if (DictionaryAppend(&store)) model.emplace_back();
      std::string bytes(i * 40, char('a' + i % 26));
      if (!model.empty() && Write(&store, SInt32(model.size()) - 1, bytes)) model.back() = bytes;
      ASSERT_EQ(Contents(store), model);
    }
    CarbonFailAllocationAfter(-1);
    KillDictionary(&store);
  }
  ASSERT_TRUE(InitDictionary(&store_));
}

}  // namespace
