// Shared by the Apple Event Manager tests: sample events as the plug-in builds them, AEPrint as
// a string, and a check that a test leaves no Memory Manager block behind.
#pragma once

#include <AEHelpers.h>
#include <MacErrors.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

inline std::string PrintDesc(const AEDesc &desc) {
  Handle h = nullptr;
  if (AEPrintDescToHandle(&desc, &h) != noErr) return "<print failed>";
  std::string text(*h, size_t(GetHandleSize(h)));
  DisposeHandle(h);
  return text;
}

inline OSErr PutText(AERecord *record, AEKeyword key, const char *text) {
  return AEPutKeyPtr(record, key, typeChar, text, Size(std::strlen(text)));
}

// 'core'/'crel' to a process: a new outgoing message with a property record of five texts,
// the event that every merged message costs. Any failure leaves the null descriptor.
inline OSErr MakeMessageEvent(AppleEvent *event, AEReturnID returnID = 7) {
  const uint32_t psn[2] = {0, 0x1234};
  const DescType messageClass = FourCC("bcke");
  AEDesc target, props;
  AEInitializeDesc(event);
  AEInitializeDesc(&props);
  OSErr err = AECreateDesc(typeProcessSerialNumber, psn, sizeof psn, &target);
  if (err == noErr) err = AECreateAppleEvent(kAECoreSuite, kAECreateElement, &target, returnID, 0, event);
  AEDisposeDesc(&target);
  if (err == noErr) err = AEPutParamPtr(event, keyAEObjectClass, typeType, &messageClass, 4);
  if (err == noErr) err = AECreateList(nullptr, 0, true, &props);
  if (err == noErr) err = PutText(&props, FourCC("subj"), "Hello");
  if (err == noErr) err = PutText(&props, FourCC("ctnt"), "Dear Ann,\rthe meeting is at ten.");
  if (err == noErr) err = PutText(&props, FourCC("rcpt"), "ann@example.com");
  if (err == noErr) err = PutText(&props, FourCC("cc  "), "bob@example.com");
  if (err == noErr) err = PutText(&props, FourCC("sndr"), "Me <me@example.com>");
  if (err == noErr) err = AEPutParamDesc(event, keyAEPropData, &props);
  AEDisposeDesc(&props);
  if (err != noErr) AEDisposeDesc(event);
  return err;
}

// Fails the test if it ends with more Memory Manager blocks alive than it started with.
class AELeakCheck : public ::testing::Test {
 protected:
  void SetUp() override { blocksBefore_ = CarbonLiveBlocks(); }
  void TearDown() override {
    CarbonFailAllocationAfter(-1);
    EXPECT_EQ(CarbonLiveBlocks(), blocksBefore_) << "blocks leaked";
  }

 private:
  long blocksBefore_ = 0;
};
