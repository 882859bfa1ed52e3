// The stream builder's contract: where values may be written, what misuse answers, who
// owns which descriptor, and that no frame or descriptor outlives the stream.
#include <AEHelpers.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "aestream/AEStream.h"

namespace {

std::string Print(const AEDesc &desc) {
  Handle text = nullptr;
  if (AEPrintDescToHandle(&desc, &text) != noErr) return "<unprintable>";
  std::string printed(*text, size_t(GetHandleSize(text)));
  DisposeHandle(text);
  return printed;
}

SInt32 WriteText(AEStream *stream, const char *text) {
  return AEStream_WriteDesc(stream, typeChar, text, Size(std::strlen(text)));
}

SInt32 WriteKeyText(AEStream *stream, AEKeyword key, const char *text) {
  return AEStream_WriteKeyDesc(stream, key, typeChar, text, Size(std::strlen(text)));
}

AEKeyword Key(const char (&code)[5]) {
  return FourCC(code);
}

using Op = std::function<SInt32(AEStream *)>;

struct Step {
  Op op;
  SInt32 expected;
};

struct StreamCase {
  const char *name;
  std::vector<Step> steps;  // after AEStream_Open
  SInt32 closeStatus;
  const char *printed;  // the value AEStream_Close hands over
};

Op OpenRecord(const char (&type)[5]) {
  DescType recordType = FourCC(type);
  return [recordType](AEStream *s) { return AEStream_OpenRecord(s, recordType); };
}
Op OpenList() {
  return [](AEStream *s) { return AEStream_OpenList(s); };
}
Op CloseRecord() {
  return [](AEStream *s) { return AEStream_CloseRecord(s); };
}
Op CloseList() {
  return [](AEStream *s) { return AEStream_CloseList(s); };
}
Op SetType(const char (&type)[5]) {
  DescType recordType = FourCC(type);
  return [recordType](AEStream *s) { return AEStream_SetRecordType(s, recordType); };
}
Op WriteKey(const char (&key)[5]) {
  AEKeyword k = FourCC(key);
  return [k](AEStream *s) { return AEStream_WriteKey(s, k); };
}
Op Text(const char *text) {
  return [text](AEStream *s) { return WriteText(s, text); };
}
Op KeyText(const char (&key)[5], const char *text) {
  AEKeyword k = FourCC(key);
  return [k, text](AEStream *s) { return WriteKeyText(s, k, text); };
}

const StreamCase streamCases[] = {
    {"SecondKeyRefusedFirstKeyUsed",
     {{OpenRecord("reco"), 0},
      {WriteKey("subj"), 0},
      {WriteKey("body"), streamNestingErr},
      {Text("Hello"), 0},
      {CloseRecord(), 0}},
     0,
     "{ 'subj':\"Hello\" }"},
    {"RecordNeedsKeyListTakesNone",
     {{OpenRecord("reco"), 0},
      {Text("lost"), streamNestingErr},
      {KeyText("subj", "kept"), 0},
      {WriteKey("list"), 0},
      {OpenList(), 0},
      {Text("a"), 0},
      {Text("b"), 0},
      {CloseList(), 0},
      {CloseRecord(), 0}},
     0,
     "{ 'subj':\"kept\", 'list':[ \"a\", \"b\" ] }"},
    {"KeyIntoListStaysPending",
     {{OpenList(), 0},
      {Text("a"), 0},
      {KeyText("subj", "x"), streamNestingErr},
      {Text("b"), streamNestingErr},
      {CloseList(), 0}},
     0,
     "[ \"a\" ]"},
    {"EmptyFrameTakesOneValue", {{Text("first"), 0}, {Text("second"), streamNestingErr}}, 0, "\"first\""},
    {"CloseListOnRecordDiscardsIt",
     {{OpenList(), 0},
      {OpenRecord("reco"), 0},
      {KeyText("subj", "gone"), 0},
      {CloseList(), streamNestingErr},
      {Text("after"), 0},
      {CloseList(), 0}},
     0,
     "[ \"after\" ]"},
    {"RecordTypes",
     {{OpenList(), 0},
      {OpenRecord("reco"), 0},
      {KeyText("subj", "plain"), 0},
      {CloseRecord(), 0},
      {OpenRecord("obj "), 0},
      {KeyText("seld", "spec"), 0},
      {CloseRecord(), 0},
      {OpenRecord("reco"), 0},
      {SetType("insl"), 0},
      {KeyText("kpos", "x"), 0},
      {CloseRecord(), 0},
      {CloseList(), 0}},
     0,
     "[ { 'subj':\"plain\" }, 'obj '{ 'seld':\"spec\" }, 'insl'{ 'kpos':\"x\" } ]"},
    {"SetRecordTypeOnListRefused",
     {{OpenList(), 0}, {SetType("obj "), streamNestingErr}, {CloseList(), 0}},
     0,
     "[ ]"},
    {"CloseWithNestedRecordOpen",
     {{OpenList(), 0}, {OpenRecord("reco"), 0}, {KeyText("subj", "inner"), 0}},
     streamNestingErr,
     "{ 'subj':\"inner\" }"},
    {"CloseRecordWithNoEnclosingFrame", {{CloseRecord(), streamNestingErr}}, streamNestingErr, nullptr},
};

void PrintTo(const StreamCase &c, std::ostream *os) {
  *os << c.name;
}

class AEStreamCases : public ::testing::TestWithParam<StreamCase> {};

TEST_P(AEStreamCases, BuildsAndRefusesAsExpected) {
  const StreamCase &c = GetParam();
  long liveBefore = CarbonLiveBlocks();
  AEStream stream;
  ASSERT_EQ(AEStream_Open(&stream), 0);
  for (size_t i = 0; i < c.steps.size(); ++i)
    EXPECT_EQ(c.steps[i].op(&stream), c.steps[i].expected) << "step " << i;
  AEDesc result;
  AEInitializeDesc(&result);
  EXPECT_EQ(AEStream_Close(&stream, &result), c.closeStatus);
  EXPECT_EQ(stream, nullptr);
  if (c.printed != nullptr)
    EXPECT_EQ(Print(result), c.printed);
  else
    EXPECT_EQ(result.descriptorType, typeNull);
  AEDisposeDesc(&result);
  EXPECT_EQ(CarbonLiveBlocks(), liveBefore);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, AEStreamCases, ::testing::ValuesIn(streamCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Builds the object specifier and event shape every client query uses.
SInt32 BuildGetNameEvent(AEStream *stream, AppleEvent *event) {
  const UInt32 psn[2] = {0, 4242};
  SInt32 err = AEStream_CreateEvent(stream, FourCC("core"), FourCC("getd"), typeProcessSerialNumber, psn,
                                    sizeof psn, kAutoGenerateReturnID, kAnyTransactionID);
  if (err != 0) return err;
  const DescType form = FourCC("indx"), want = FourCC("mact");
  const SInt32 index = 2;
  AEStream_WriteKey(stream, keyDirectObject);
  AEStream_OpenRecord(stream, typeObjectSpecifier);
  AEStream_WriteKeyDesc(stream, Key("form"), typeEnumerated, &form, 4);
  AEStream_WriteKeyDesc(stream, Key("want"), typeType, &want, 4);
  AEStream_WriteKeyDesc(stream, Key("seld"), typeLongInteger, &index, 4);
  AEStream_WriteKeyDesc(stream, Key("from"), typeNull, nullptr, 0);
  AEStream_CloseRecord(stream);
  return AEStream_Close(stream, event);
}

TEST(AEStream, BuildsAnEventWithAnObjectSpecifier) {
  AEStream stream;
  AppleEvent event;
  ASSERT_EQ(BuildGetNameEvent(&stream, &event), 0);
  EXPECT_EQ(Print(event),
            "'core'\\'getd'{ '----':'obj '{ 'form':'indx', 'want':type('mact'), 'seld':2, 'from':null() } }");
  AEDisposeDesc(&event);
}

TEST(AEStream, OpenEventTakesOverTheCallersEvent) {
  const UInt32 psn[2] = {0, 7};
  AEAddressDesc address;
  ASSERT_EQ(AECreateDesc(typeProcessSerialNumber, psn, sizeof psn, &address), noErr);
  AppleEvent event;
  ASSERT_EQ(AECreateAppleEvent(FourCC("core"), FourCC("setd"), &address, -1, 0, &event), noErr);
  AEDisposeDesc(&address);
  AEStream stream;
  ASSERT_EQ(AEStream_OpenEvent(&stream, &event), 0);
  EXPECT_EQ(event.descriptorType, typeNull);
  EXPECT_EQ(event.dataHandle, nullptr);
  EXPECT_EQ(WriteKeyText(&stream, Key("data"), "n"), 0);
  AppleEvent built;
  ASSERT_EQ(AEStream_Close(&stream, &built), 0);
  EXPECT_EQ(Print(built), "'core'\\'setd'{ 'data':\"n\" }");
  AEDisposeDesc(&built);
}

TEST(AEStream, WriteAEDescCopiesTheCallersDescriptor) {
  AEDesc text;
  ASSERT_EQ(AECreateDesc(typeChar, "kept", 4, &text), noErr);
  AEStream stream;
  ASSERT_EQ(AEStream_Open(&stream), 0);
  ASSERT_EQ(AEStream_OpenList(&stream), 0);
  EXPECT_EQ(AEStream_WriteAEDesc(&stream, &text), 0);
  EXPECT_EQ(AEStream_WriteAEDesc(&stream, &text), 0);
  ASSERT_EQ(AEStream_CloseList(&stream), 0);
  AEDesc list;
  ASSERT_EQ(AEStream_Close(&stream, &list), 0);
  EXPECT_EQ(Print(list), "[ \"kept\", \"kept\" ]");
  EXPECT_EQ(Print(text), "\"kept\"");
  AEDisposeDesc(&list);
  AEDisposeDesc(&text);
}

TEST(AEStream, MisuseOfAnEmptyStream) {
  AEStream stream = nullptr;
  AEDesc untouched = {FourCC("TEST"), nullptr};
  EXPECT_EQ(AEStream_Close(&stream, &untouched), streamNestingErr);
  EXPECT_EQ(untouched.descriptorType, FourCC("TEST"));
  EXPECT_EQ(AEStream_WriteKey(&stream, Key("subj")), streamNestingErr);
  EXPECT_EQ(WriteText(&stream, "x"), streamNestingErr);
  EXPECT_EQ(AEStream_CloseList(&stream), streamNestingErr);
  EXPECT_EQ(AEStream_SetRecordType(&stream, typeObjectSpecifier), streamNestingErr);
  AEStream_Dispose(&stream);
  EXPECT_EQ(stream, nullptr);
}

TEST(AEStream, DisposeReleasesAnAbandonedStream) {
  long liveBefore = CarbonLiveBlocks();
  AEStream stream;
  const UInt32 psn[2] = {0, 1};
  ASSERT_EQ(
      AEStream_CreateEvent(&stream, FourCC("core"), FourCC("crel"), typeProcessSerialNumber, psn, 8, -1, 0),
      0);
  AEStream_WriteKey(&stream, Key("prdt"));
  AEStream_OpenRecord(&stream, typeAERecord);
  WriteKeyText(&stream, Key("subj"), "half");
  AEStream_WriteKey(&stream, Key("to  "));
  AEStream_OpenList(&stream);
  AEStream_Dispose(&stream);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(CarbonLiveBlocks(), liveBefore);
}

// Every allocation of a typical build fails in turn until the whole event comes out:
// whatever the build answers, nothing is left behind.
TEST(AEStream, AllocationFailuresLeakNothing) {
  AEStream stream;
  AppleEvent complete;
  ASSERT_EQ(BuildGetNameEvent(&stream, &complete), 0);
  const std::string expected = Print(complete);
  AEDisposeDesc(&complete);
  long liveBefore = CarbonLiveBlocks();
  bool whole = false;
  for (long n = 0; n < 500 && !whole; ++n) {
    AppleEvent event;
    AEInitializeDesc(&event);
    CarbonFailAllocationAfter(n);
    SInt32 err = BuildGetNameEvent(&stream, &event);
    CarbonFailAllocationAfter(-1);
    AEStream_Dispose(&stream);
    whole = err == 0 && Print(event) == expected;
    AEDisposeDesc(&event);
    EXPECT_EQ(CarbonLiveBlocks(), liveBefore) << "failing allocation " << n;
  }
  EXPECT_TRUE(whole);
}

}  // namespace
