// The stream builder's contract: where values may be written, what misuse answers, who
// owns which descriptor, and that no frame or descriptor outlives the stream.
#include <AEHelpers.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "aestream/AEStream.h"

namespace {

std::string Print(const AEDesc &desc) {
  Handle text = nullptr;
  if (AEPrintDescToHandle(&desc, &text) != noErr) return "<unprintable>";
  std::string printed(*text, size_t(GetHandleSize(text)));
  DisposeHandle(text);
  return printed;
}

OSType Code(const std::string &text) {
  std::string c = (text + "    ").substr(0, 4);
  return FourCC({c[0], c[1], c[2], c[3], 0});
}

// One step of a case, as a word: {type record, [ list, } close record, ] close list,
// type=xxxx set record type, key=xxxx, "text" write text, key:text both at once. Its status.
SInt32 RunStep(AEStream *stream, const std::string &step) {
  if (step == "[") return AEStream_OpenList(stream);
  if (step == "]") return AEStream_CloseList(stream);
  if (step == "}") return AEStream_CloseRecord(stream);
  if (step[0] == '{') return AEStream_OpenRecord(stream, Code(step.substr(1)));
  if (step.rfind("type=", 0) == 0) return AEStream_SetRecordType(stream, Code(step.substr(5)));
  if (step.rfind("key=", 0) == 0) return AEStream_WriteKey(stream, Code(step.substr(4)));
  if (step[0] == '"') return AEStream_WriteDesc(stream, typeChar, step.data() + 1, Size(step.size() - 2));
  std::string text = step.substr(5);
  return AEStream_WriteKeyDesc(stream, Code(step.substr(0, 4)), typeChar, text.data(), Size(text.size()));
}

struct StreamCase {
  const char *name;
  const char *steps;     // words separated by blanks, after AEStream_Open
  const char *statuses;  // one per step: 0 success, N streamNestingErr
  SInt32 closeStatus;
  const char *printed;  // what AEStream_Close hands over; null: nothing
};

const StreamCase streamCases[] = {
    {"SecondKeyRefusedFirstKeyUsed", "{reco key=subj key=body \"Hello\" }", "00N00", 0,
     "{ 'subj':\"Hello\" }"},
    {"RecordNeedsKeyListTakesNone", "{reco \"lost\" subj:kept key=list [ \"a\" \"b\" ] }", "0N0000000", 0,
     "{ 'subj':\"kept\", 'list':[ \"a\", \"b\" ] }"},
    {"KeyIntoListStaysPending", "[ \"a\" subj:x \"b\" ]", "00NN0", 0, "[ \"a\" ]"},
    {"EmptyFrameTakesOneValue", "\"first\" \"second\"", "0N", 0, "\"first\""},
    {"CloseListOnRecordDiscardsIt", "[ {reco subj:gone ] \"after\" ]", "000N00", 0, "[ \"after\" ]"},
    {"RecordTypes", "[ {reco subj:plain } {obj seld:spec } {reco type=insl kpos:x } ]", "000000000000", 0,
     "[ { 'subj':\"plain\" }, 'obj '{ 'seld':\"spec\" }, 'insl'{ 'kpos':\"x\" } ]"},
    {"SetRecordTypeOnListRefused", "[ type=obj ]", "0N0", 0, "[ ]"},
    {"CloseWithNestedRecordOpen", "[ {reco subj:inner", "000", streamNestingErr, "{ 'subj':\"inner\" }"},
    {"CloseRecordWithNoRecord", "}", "N", streamNestingErr, nullptr},
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
  std::istringstream steps(c.steps);
  std::string step;
  for (size_t i = 0; steps >> step; ++i) {
    EXPECT_EQ(RunStep(&stream, step), c.statuses[i] == 'N' ? streamNestingErr : 0)
        << "step " << i << " " << step;
  }
  AEDesc result = {FourCC("none"), nullptr};
  EXPECT_EQ(AEStream_Close(&stream, &result), c.closeStatus);
  EXPECT_EQ(stream, nullptr);
  if (c.printed != nullptr)
    EXPECT_EQ(Print(result), c.printed);
  else
    EXPECT_EQ(result.descriptorType, FourCC("none"));  // untouched
  AEDisposeDesc(&result);
  EXPECT_EQ(CarbonLiveBlocks(), liveBefore);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, AEStreamCases, ::testing::ValuesIn(streamCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The shape of every client query: an event whose direct parameter is an object specifier.
SInt32 BuildGetDataEvent(AEStream *stream, AppleEvent *event) {
  const UInt32 psn[2] = {0, 4242};
  SInt32 err = AEStream_CreateEvent(stream, FourCC("core"), FourCC("getd"), typeProcessSerialNumber, psn,
                                    sizeof psn, kAutoGenerateReturnID, kAnyTransactionID);
  if (err != 0) return err;
  const DescType form = FourCC("indx"), want = FourCC("mact");
  const SInt32 index = 2;
  AEStream_WriteKey(stream, keyDirectObject);
  AEStream_OpenRecord(stream, typeObjectSpecifier);
  AEStream_WriteKeyDesc(stream, keyAEKeyForm, typeEnumerated, &form, 4);
  AEStream_WriteKeyDesc(stream, keyAEDesiredClass, typeType, &want, 4);
  AEStream_WriteKeyDesc(stream, keyAEKeyData, typeLongInteger, &index, 4);
  AEStream_WriteKeyDesc(stream, keyAEContainer, typeNull, nullptr, 0);
  AEStream_CloseRecord(stream);
  return AEStream_Close(stream, event);
}

TEST(AEStream, EventsAndOwnership) {
  AEStream stream;
  AppleEvent event;
  ASSERT_EQ(BuildGetDataEvent(&stream, &event), 0);
  EXPECT_EQ(Print(event),
            "'core'\\'getd'{ '----':'obj '{ 'form':'indx', 'want':type('mact'), 'seld':2, 'from':null() } }");
  // An event handed to AEStream_OpenEvent belongs to the stream; a written descriptor is
  // copied and stays the caller's.
  ASSERT_EQ(AEStream_OpenEvent(&stream, &event), 0);
  EXPECT_EQ(event.descriptorType, typeNull);
  EXPECT_EQ(event.dataHandle, nullptr);
  AEDesc text;
  ASSERT_EQ(AECreateDesc(typeChar, "n", 1, &text), noErr);
  EXPECT_EQ(AEStream_WriteKey(&stream, keyAEData), 0);
  EXPECT_EQ(AEStream_WriteAEDesc(&stream, &text), 0);
  ASSERT_EQ(AEStream_Close(&stream, &event), 0);
  EXPECT_EQ(Print(text), "\"n\"");
  EXPECT_NE(Print(event).find(", 'data':\"n\" }"), std::string::npos);
  AEDisposeDesc(&text);
  AEDisposeDesc(&event);
}

// Every allocation of a typical build fails in turn until the failure goes unused: a build
// either fails or hands over the whole event, never one missing a value, and AEStream_Dispose
// leaves nothing behind.
TEST(AEStream, AllocationFailuresLeaveNoPartialEvent) {
  AEStream stream;
  AppleEvent event;
  ASSERT_EQ(BuildGetDataEvent(&stream, &event), 0);
  const std::string whole = Print(event);
  AEDisposeDesc(&event);
  long liveBefore = CarbonLiveBlocks();
  for (long n = 0;; ++n) {
    AEInitializeDesc(&event);
    CarbonFailAllocationAfter(n);
    SInt32 err = BuildGetDataEvent(&stream, &event);
    bool unused = CarbonFailAllocationAfter(-1) >= 0;
    AEStream_Dispose(&stream);
    EXPECT_EQ(err == 0 ? Print(event) : whole, whole) << "failing allocation " << n;
    EXPECT_EQ(err == 0, unused) << "failing allocation " << n;
    AEDisposeDesc(&event);
    EXPECT_EQ(CarbonLiveBlocks(), liveBefore) << "failing allocation " << n;
    if (unused) break;
  }
}

}  // namespace
