// Conversions, memory buffers, final allocation and error reporting.
#include <Dialogs.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <Quickdraw.h>
#include <Resources.h>

#include "support/Conversions.h"
#include "support/ErrorReporting.h"
#include "support/MemoryBuffer.h"
#include "tests/support/PluginResources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Take(char *text) {
  std::string s = text ? text : "(null)";
  std::free(text);
  return s;
}

class Support : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenPluginResources()) << "the bundle's resource file is missing";
    CarbonSetHeapLimit(-1);
    CarbonFailAllocationAfter(-1);
    CarbonResetAlerts();
    blocks_ = CarbonLiveBlocks();
  }
  void TearDown() override {
    CarbonSetHeapLimit(-1);
    CarbonFailAllocationAfter(-1);
    EXPECT_EQ(CarbonLiveBlocks(), blocks_);
  }
  long blocks_ = 0;
};

TEST_F(Support, TextConversions) {
  EXPECT_EQ(Take(BoolToPointer(0)), "false");
  EXPECT_EQ(Take(BoolToPointer(7)), "true");
  EXPECT_EQ(Take(LongToPointer(-42)), "-42");
  EXPECT_EQ(PointerToLong("-7"), -7);
  EXPECT_EQ(PointerToLong(std::string(300, '1').c_str()), PointerToLong(std::string(255, '1').c_str()));

  Str255 s;
  PointerToString(std::string(300, 'a').c_str(), s);
  EXPECT_EQ(s[0], 255);

  Handle h = LongToHandle(2024);
  EXPECT_EQ(HandleToLong(h), 2024);
  EXPECT_EQ(MyGetHandleSize(h), 4u);
  EXPECT_EQ(Take(HandleKillToPointer(h)), "2024");  // disposes of h
  EXPECT_EQ(HandleKillToPointer(nullptr), nullptr);

  Handle padded = MyNewHandle(100);
  std::memcpy(*padded, "abc", 4);
  EXPECT_EQ(MyGetHandleSize(padded), 3u);
  MyDisposeHandle(padded);
  MyDisposeHandle(nullptr);
}

TEST_F(Support, ReplaceStopsAtNulOnlyForStrings) {
  char text[] = "a\rb\0c\r";
  ReplaceCharacters(13, 10, text);
  EXPECT_EQ(std::memcmp(text, "a\nb\0c\r", 6), 0);
  ReplaceOverLength(13, 10, text, 6);
  EXPECT_EQ(std::memcmp(text, "a\nb\0c\n", 6), 0);
  char zeros[] = "x-x";
  ReplaceCharacters('x', 0, zeros);  // a replacement by NUL does not stop the scan
  EXPECT_EQ(std::memcmp(zeros, "\0-\0", 3), 0);
  ReplaceCharacters(1, 2, nullptr);
  ReplaceOverLength(1, 2, nullptr, 5);
}

TEST_F(Support, FullScreenRectangleIsTheUnionOfScreens) {
  unsetenv("DISPLAY");
  struct Case {
    const char *screens, *expected;
  } cases[] = {{"1440x900+0+0", "0,0,1440,900"}, {"1440x900+0+0,1024x768-1024+0", "-1024,0,1440,900"}};
  for (const Case &c : cases) {
    setenv("QUILLCAST_SCREENS", c.screens, 1);
    CarbonResetScreens();
    EXPECT_EQ(Take(GetFullScreenRectangle()), c.expected);
  }
  unsetenv("QUILLCAST_SCREENS");
  CarbonResetScreens();
}

TEST_F(Support, MemoryBufferGrowsInStepsAndClosesExact) {
  MemoryBuffer buffer;
  ASSERT_EQ(CreateMemoryBuffer(&buffer), noErr);
  ASSERT_EQ(WriteMemoryBuffer(&buffer, "x", 1), noErr);
  EXPECT_EQ(buffer.capacity, 1024);
  std::string more(1023, 'y');
  ASSERT_EQ(WriteMemoryBuffer(&buffer, more.data(), 1023), noErr);
  EXPECT_EQ(buffer.capacity, 1024);
  ASSERT_EQ(WriteMemoryBuffer(&buffer, "z", 1), noErr);
  EXPECT_EQ(buffer.capacity, 2048);

  OSErr hidden;
  ASSERT_TRUE(HideErrors(&hidden));
  CarbonFailAllocationAfter(0);
  std::string big(2000, 'w');
  EXPECT_EQ(WriteMemoryBuffer(&buffer, big.data(), 2000), memFullErr);
  EXPECT_EQ(hidden, memFullErr);
  EXPECT_EQ(buffer.length, 1025u);  // the earlier contents stay
  ShowErrors();

  Handle h = CloseMemoryBuffer(&buffer);
  EXPECT_EQ(GetHandleSize(h), 1025);
  EXPECT_EQ((*h)[1024], 'z');
  DisposeHandle(h);

  ASSERT_EQ(CreateMemoryBuffer(&buffer), noErr);
  h = CloseMemoryBuffer(&buffer);
  EXPECT_EQ(GetHandleSize(h), 0);
  DisposeHandle(h);
}

TEST_F(Support, FinalAllocationKeepsTheMargin) {
  OSErr hidden;
  ASSERT_TRUE(HideErrors(&hidden));
  CarbonSetHeapLimit(CarbonHeapInUse() + kHeapMargin + 100);
  EXPECT_EQ(CreateHeapSpace(100), noErr);
  EXPECT_EQ(CreateHeapSpace(101), memFullErr);
  EXPECT_EQ(hidden, memFullErr);
  CarbonSetHeapLimit(CarbonHeapInUse() + kHeapMargin - 1);
  EXPECT_EQ(CreateHeapSpace(0), memFullErr);  // the margin alone must fit

  CarbonSetHeapLimit(-1);
  hidden = noErr;
  OSErr status;
  CarbonFailAllocationAfter(0);
  EXPECT_EQ(AllocHandleFinal(&status, 10), nullptr);
  EXPECT_EQ(status, memFullErr);
  EXPECT_EQ(hidden, memFullErr);
  Ptr p = AllocPtrFinal(&status, 10);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(status, noErr);
  DestroyPtrFinal(p);
  ShowErrors();
  EXPECT_EQ(CarbonAlertCount(), 0);
}

TEST_F(Support, TestErrorHidesThenAlertsWithContexts) {
  EXPECT_EQ(TestMemError(&blocks_), noErr);
  CurResFile();
  EXPECT_EQ(TestResError(nullptr), resNotFound);
  EXPECT_EQ(CarbonAlertCount(), 1);

  OSErr hidden;
  ASSERT_TRUE(HideErrors(&hidden));
  long beeps = CarbonBeepCount();
  TestError(fnfErr);
  EXPECT_EQ(hidden, fnfErr);
  EXPECT_EQ(CarbonBeepCount(), beeps + 1);
  EXPECT_EQ(CarbonAlertCount(), 1);
  ShowErrors();

  Str255 first =
             "\x06"
             "first ",
         second =
             "\x07"
             "second ";
  ASSERT_TRUE(AddErrorContext(first));
  ASSERT_TRUE(AddErrorContext(second));
  TestError(fnfErr);
  RemoveErrorContext();
  RemoveErrorContext();
  EXPECT_EQ(CarbonAlertCount(), 2);
  std::string text = CarbonLastAlertText();
  EXPECT_NE(text.find("second first "), std::string::npos) << text;
  EXPECT_NE(text.find("-43"), std::string::npos) << text;
}

TEST_F(Support, LinkedLists) {
  LinkedListItem a{}, b{}, c{}, stranger{};
  LinkedListItem *head = nullptr;
  AddToLinkedList(&head, &a, nullptr);  // at the end of an empty list
  AddToLinkedList(&head, &c, nullptr);
  AddToLinkedList(&head, &b, &c);                // before c
  AddToLinkedList(&head, &stranger, &stranger);  // "before" not in the list: nothing
  EXPECT_EQ(CountLinkedListItems(head), 3);
  EXPECT_EQ(GetLinkedListItem(head, 1), &b);
  EXPECT_EQ(GetLinkedListItem(head, 3), nullptr);
  EXPECT_EQ(GetLinkedListItem(head, -1), nullptr);
  EXPECT_EQ(RemoveFromLinkedList(&head, &b), &c);
  EXPECT_EQ(RemoveFromLinkedList(&head, &b), nullptr);
  EXPECT_EQ(head, &a);
  EXPECT_EQ(a.next, &c);
}

}  // namespace
