#include "AETestSupport.h"

namespace {

class AEStream : public AELeakCheck {};

AEStreamRef RecordRequest(int32_t index) {
  const uint32_t psn[2] = {0, 0x99};
  const uint32_t form = FourCC("indx"), want = FourCC("crow");
  AEStreamRef ref = AEStreamCreateEvent(kAECoreSuite, kAEGetData, typeProcessSerialNumber, psn, 8, 4, 0);
  if (ref == nullptr) return nullptr;
  AEStreamWriteKey(ref, keyDirectObject);
  AEStreamOpenRecord(ref, typeObjectSpecifier);
  AEStreamWriteKeyDesc(ref, keyAEKeyForm, typeEnumerated, &form, 4);
  AEStreamWriteKeyDesc(ref, keyAEDesiredClass, typeType, &want, 4);
  AEStreamWriteKeyDesc(ref, keyAEKeyData, typeSInt32, &index, 4);
  AEStreamWriteKeyDesc(ref, keyAEContainer, typeNull, nullptr, 0);
  AEStreamCloseRecord(ref);
  return ref;
}

TEST_F(AEStream, BuildsTheEventsOfTheRecordRequests) {
  AEStreamRef ref = RecordRequest(3);
  ASSERT_NE(ref, nullptr);
  AppleEvent event;
  ASSERT_EQ(AEStreamClose(ref, &event), noErr);
  EXPECT_EQ(PrintDesc(event),
            "'core'\\'getd'{ '----':'obj '{ 'form':'indx', 'want':type('crow'), 'seld':3, 'from':null() } }");
  AEDisposeDesc(&event);

  ref = AEStreamOpen();
  AEDesc text;
  AECreateDesc(typeChar, "b", 1, &text);
  AEStreamOpenList(ref);
  AEStreamWriteDesc(ref, typeChar, "a", 1);
  AEStreamWriteAEDesc(ref, &text);
  AEStreamOpenRecord(ref, typeAERecord);
  const uint32_t end = kAEEnd;
  AEStreamWriteKeyDesc(ref, FourCC("kpos"), typeEnumerated, &end, 4);
  AEStreamCloseRecord(ref);
  AEStreamCloseList(ref);
  AEDesc list;
  ASSERT_EQ(AEStreamClose(ref, &list), noErr);
  EXPECT_EQ(PrintDesc(list), "[ \"a\", \"b\", { 'kpos':'end ' } ]");
  AEDisposeDesc(&list);
  AEDisposeDesc(&text);
}

TEST_F(AEStream, MisuseIsRefusedAndCloseAlwaysReleases) {
  AEStreamRef ref = AEStreamOpen();
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(AEStreamWriteKey(ref, keyDirectObject), errAEStreamBadNesting);  // a plain stream has no keys
  EXPECT_EQ(AEStreamCloseList(ref), errAEStreamBadNesting);
  EXPECT_EQ(AEStreamOpenRecord(ref, typeAERecord), noErr);
  EXPECT_EQ(AEStreamWriteDesc(ref, typeChar, "x", 1), errAEStreamBadNesting);  // no key
  EXPECT_EQ(AEStreamWriteKey(ref, FourCC("subj")), noErr);
  EXPECT_EQ(AEStreamWriteKey(ref, FourCC("subj")), errAEStreamBadNesting);  // a second key
  EXPECT_EQ(AEStreamCloseList(ref), errAEStreamBadNesting);
  EXPECT_EQ(AEStreamOpenList(ref), noErr);
  EXPECT_EQ(AEStreamWriteKey(ref, FourCC("subj")), errAEStreamBadNesting);  // lists take no keys
  AEDesc desc;
  EXPECT_EQ(AEStreamClose(ref, &desc), errAEStreamBadNesting);  // still open: everything released
  EXPECT_EQ(desc.descriptorType, typeNull);

  ref = AEStreamOpen();
  EXPECT_EQ(AEStreamWriteDesc(ref, typeChar, "x", 1), noErr);
  EXPECT_EQ(AEStreamWriteDesc(ref, typeChar, "y", 1), errAEStreamBadNesting);  // one value only
  EXPECT_EQ(AEStreamClose(ref, nullptr), noErr);

  ref = AEStreamCreateEvent(kCoreEventClass, kAEAnswer, typeNull, nullptr, 0, 1, 0);
  AEStreamWriteKey(ref, keyDirectObject);
  EXPECT_EQ(AEStreamClose(ref, &desc), errAEStreamBadNesting);  // a key without its value
}

TEST_F(AEStream, AllocationFailuresLeaveNothingBehind) {
  for (long n = 0;; n++) {
    CarbonFailAllocationAfter(n);
    AEStreamRef ref = RecordRequest(1);
    AppleEvent event;
    AEInitializeDesc(&event);
    OSStatus status = ref ? AEStreamClose(ref, &event) : memFullErr;
    CarbonFailAllocationAfter(-1);
    if (ref != nullptr && status == noErr && PrintDesc(event).find("'seld':1") != std::string::npos) {
      AEDisposeDesc(&event);
      break;
    }
    AEDisposeDesc(&event);
    ASSERT_LT(n, 100);
  }
}

}  // namespace
