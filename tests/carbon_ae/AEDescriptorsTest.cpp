#include "AETestSupport.h"

namespace {

class AEDescriptors : public AELeakCheck {};

AEDescList MakeList(std::initializer_list<int32_t> values) {
  AEDescList list;
  EXPECT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
  for (int32_t v : values) EXPECT_EQ(AEPutPtr(&list, 0, typeSInt32, &v, 4), noErr);
  return list;
}

TEST_F(AEDescriptors, DuplicateIsDeepAndReplaceKeepsTheOriginalOnFailure) {
  AEDescList list = MakeList({1, 2});
  AEDesc copy;
  ASSERT_EQ(AEDuplicateDesc(&list, &copy), noErr);
  int32_t three = 3;
  AEPutPtr(&list, 0, typeSInt32, &three, 4);
  long count = 0;
  AECountItems(&copy, &count);
  EXPECT_EQ(count, 2);
  CarbonFailAllocationAfter(0);
  EXPECT_EQ(AEReplaceDescData(typeChar, "abc", 3, &copy), memFullErr);
  CarbonFailAllocationAfter(-1);
  EXPECT_EQ(PrintDesc(copy), "[ 1, 2 ]");
  AEDisposeDesc(&copy);
  EXPECT_EQ(copy.descriptorType, typeNull);
  EXPECT_EQ(copy.dataHandle, nullptr);
  AEDisposeDesc(&list);
}

TEST_F(AEDescriptors, ListIndexRules) {
  AEDescList list = MakeList({10, 20, 30});
  int32_t v = 0, n = 99;
  AEKeyword key = 0;
  DescType type = 0;
  Size size = 0;
  const struct {
    long index;
    OSErr get, put;
  } cases[] = {{0, errAEBadListItem, noErr},
               {1, noErr, noErr},
               {3, noErr, noErr},
               {4, errAEBadListItem, noErr},
               {6, errAEBadListItem, errAEIllegalIndex},
               {-1, errAEBadListItem, errAEIllegalIndex}};
  for (const auto &c : cases) {
    EXPECT_EQ(AEGetNthPtr(&list, c.index, typeSInt32, &key, &type, &v, 4, &size), c.get) << c.index;
    AEDescList scratch;
    AEDuplicateDesc(&list, &scratch);
    EXPECT_EQ(AEPutPtr(&scratch, c.index, typeSInt32, &n, 4), c.put) << c.index;
    AEDisposeDesc(&scratch);
  }
  AEGetNthPtr(&list, 2, typeWildCard, &key, &type, &v, 4, &size);
  EXPECT_EQ(v, 20);
  EXPECT_EQ(key, typeWildCard);
  // Replacing keeps the count; 0 and count + 1 append; deleting closes the gap.
  AEPutPtr(&list, 2, typeChar, "twenty", 6);
  AEPutPtr(&list, 4, typeSInt32, &n, 4);
  EXPECT_EQ(AEDeleteItem(&list, 1), noErr);
  EXPECT_EQ(AEDeleteItem(&list, 9), errAEBadListItem);
  EXPECT_EQ(PrintDesc(list), "[ \"twenty\", 30, 99 ]");
  // A list put into itself is copied first.
  EXPECT_EQ(AEPutDesc(&list, 0, &list), noErr);
  EXPECT_EQ(PrintDesc(list), "[ \"twenty\", 30, 99, [ \"twenty\", 30, 99 ] ]");
  AEDisposeDesc(&list);
}

TEST_F(AEDescriptors, RecordKeysAndWrongKinds) {
  AERecord record;
  ASSERT_EQ(AECreateList(nullptr, 0, true, &record), noErr);
  PutText(&record, FourCC("subj"), "Hi");
  PutText(&record, FourCC("rcpt"), "a@b");
  PutText(&record, FourCC("subj"), "Hello");  // replaces in place
  EXPECT_EQ(PrintDesc(record), "{ 'subj':\"Hello\", 'rcpt':\"a@b\" }");

  char text[8] = {};
  Size size = 0;
  DescType type = 0;
  EXPECT_EQ(AEGetKeyPtr(&record, FourCC("subj"), typeChar, &type, text, 2, &size), noErr);
  EXPECT_EQ(size, 5);  // the full size, though only two bytes were copied
  EXPECT_STREQ(text, "He");
  EXPECT_EQ(AEGetKeyPtr(&record, FourCC("none"), typeChar, &type, text, 8, &size), errAEDescNotFound);
  EXPECT_EQ(AEDeleteKeyDesc(&record, FourCC("subj")), noErr);
  EXPECT_EQ(AEDeleteKeyDesc(&record, FourCC("subj")), errAEDescNotFound);
  EXPECT_EQ(AEPutPtr(&record, 0, typeChar, "x", 1), errAEWrongDataType);
  EXPECT_EQ(AEPutAttributePtr(&record, keyTimeoutAttr, typeChar, "x", 1), errAENotAppleEvent);

  AEDescList list = MakeList({});
  AEDesc plain, null;
  AECreateDesc(typeChar, "x", 1, &plain);
  AEInitializeDesc(&null);
  long count;
  EXPECT_EQ(PutText(&list, FourCC("subj"), "x"), errAEWrongDataType);
  EXPECT_EQ(AECountItems(&plain, &count), errAEWrongDataType);
  EXPECT_EQ(AECountItems(&null, &count), errAEDescIsNull);
  for (AEDesc *d : {&plain, &list, &record}) AEDisposeDesc(d);
}

TEST_F(AEDescriptors, EventAttributesAreApartFromParameters) {
  AppleEvent event, second;
  ASSERT_EQ(MakeMessageEvent(&event, kAutoGenerateReturnID), noErr);
  ASSERT_EQ(MakeMessageEvent(&second, kAutoGenerateReturnID), noErr);
  AEEventClass eventClass = 0;
  AEReturnID returnID = 0, secondID = 0;
  DescType type;
  Size size;
  EXPECT_EQ(AEGetAttributePtr(&event, keyReturnIDAttr, typeSInt16, &type, &returnID, 2, &size), noErr);
  AEGetAttributePtr(&second, keyReturnIDAttr, typeSInt16, &type, &secondID, 2, &size);
  EXPECT_NE(returnID, kAutoGenerateReturnID);
  EXPECT_NE(returnID, 0);
  EXPECT_NE(secondID, returnID);
  int32_t timeout = 1200;
  EXPECT_EQ(AEGetAttributePtr(&event, keyTimeoutAttr, typeSInt32, &type, &timeout, 4, &size),
            errAEDescNotFound);
  ASSERT_EQ(AEPutAttributePtr(&event, keyTimeoutAttr, typeSInt32, &timeout, 4), noErr);
  AEPutParamPtr(&event, keyErrorNumber, typeSInt32, &timeout, 4);
  EXPECT_EQ(AEGetParamPtr(&event, keyEventClassAttr, typeType, &type, &eventClass, 4, &size),
            errAEDescNotFound);
  long count = 0;
  AECountItems(&event, &count);
  EXPECT_EQ(count, 3);
  AEDisposeDesc(&second);
  AEDisposeDesc(&event);
}

// Every allocation of building, copying, printing and flattening an event fails in turn: each
// call answers an error or succeeds, and nothing is left behind either way.
TEST_F(AEDescriptors, EveryAllocationFailureIsReportedAndLeaksNothing) {
  int failures = 0;
  for (long n = 0;; n++) {
    long before = CarbonLiveBlocks();
    CarbonFailAllocationAfter(n);
    AppleEvent event, copy, back;
    AEInitializeDesc(&copy);
    AEInitializeDesc(&back);
    OSErr err = MakeMessageEvent(&event);
    if (err == noErr) err = AEDuplicateDesc(&event, &copy);
    char buffer[1024];
    Size size = 0;
    if (err == noErr) err = OSErr(AEFlattenDesc(&copy, buffer, sizeof buffer, &size));
    if (err == noErr) err = OSErr(AEUnflattenDescSafe(buffer, size, &back));
    CarbonFailAllocationAfter(-1);
    if (err != noErr) {
      EXPECT_EQ(err, memFullErr);
      failures++;
    }
    for (AEDesc *d : {&event, &copy, &back}) AEDisposeDesc(d);
    EXPECT_EQ(CarbonLiveBlocks(), before) << "allocation " << n;
    if (err == noErr) break;
  }
  EXPECT_GT(failures, 5);
}

}  // namespace
