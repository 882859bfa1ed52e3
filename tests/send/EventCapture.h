// Events bound for an email client, captured instead of sent: each is kept in AEPrint form
// with its send mode, and a wait-reply send is answered with an object specifier that
// stands for the new message or window.
#pragma once

#include <AEHelpers.h>
#include <AppleEvents.h>
#include <MacMemory.h>

#include <string>
#include <vector>

#include "aestream/AEStream.h"
#include "send/SendDispatcher.h"

// Every event handed to emailClientSend, in AEPrint form, with its send mode.
struct CapturedEvent {
  std::string text;
  AESendMode mode;
  AppleEvent event;  // a copy, disposed by the fixture
};

inline std::vector<CapturedEvent> capturedEvents;
inline OSErr captureStatus = noErr;  // what the capture answers
inline long captureFailAfter = -1;   // >= 0: that many sends succeed, then captureStatus

inline std::string PrintDesc(const AEDesc *desc) {
  Handle text = nullptr;
  if (AEPrintDescToHandle(desc, &text) != noErr || text == nullptr) return "<unprintable>";
  std::string s(*text, size_t(GetHandleSize(text)));
  DisposeHandle(text);
  return s;
}

// Answers a wait-reply send with '----' = obj{ form: indx, want: <class>, seld: 1, from: null }.
inline OSErr CaptureSend(const AppleEvent *event, AppleEvent *reply, AESendMode mode) {
  AEInitializeDesc(reply);
  if (captureFailAfter == 0) return captureStatus;
  if (captureFailAfter > 0) captureFailAfter--;
  CapturedEvent captured{PrintDesc(event), mode, {}};
  AEDuplicateDesc(event, &captured.event);
  capturedEvents.push_back(captured);
  if ((mode & kAEWaitReply) != kAEWaitReply) return noErr;
  AEStream stream;
  const ProcessSerialNumber self = {0, 1};
  CreateClientEvent(&stream, kCoreEventClass, kAEAnswer, &self);
  AEStream_WriteKey(&stream, keyDirectObject);
  const SInt32 one = 1;
  const DescType form = formAbsolutePosition, want = FourCC("mesg");
  AEStream_OpenRecord(&stream, typeObjectSpecifier);
  AEStream_WriteKeyDesc(&stream, keyAEKeyForm, typeEnumerated, &form, 4);
  AEStream_WriteKeyDesc(&stream, keyAEDesiredClass, typeType, &want, 4);
  AEStream_WriteKeyDesc(&stream, keyAEKeyData, typeSInt32, &one, 4);
  AEStream_WriteKeyDesc(&stream, keyAEContainer, typeNull, nullptr, 0);
  AEStream_CloseRecord(&stream);
  return OSErr(AEStream_Close(&stream, reply));
}

inline void ClearCapture() {
  for (CapturedEvent &e : capturedEvents) AEDisposeDesc(&e.event);
  capturedEvents.clear();
  captureStatus = noErr;
  captureFailAfter = -1;
}

// True when the failure armed for allocation failAt was used up by what ran since; else
// the probe allocations here hit it. Disarms the failure either way.
inline bool FailureWasUsed(long failAt) {
  bool used = true;
  for (long j = 0; j <= failAt && used; j++) {
    Ptr probe = NewPtr(1);
    used = probe != nullptr;
    DisposePtr(probe);
  }
  CarbonFailAllocationAfter(-1);
  return used;
}
