// Events to email clients: every step goes through MessageEvent_Keep, so that the first
// failure stops the rest and reaches MessageEvent_Send.
#include "send/MessageEvent.h"

#include <MacErrors.h>

OSErr SendEmailClientEventNow(const AppleEvent *event, AppleEvent *reply, AESendMode sendMode) {
  return AESend(event, reply, sendMode, kAENormalPriority, kEmailClientTimeout, nullptr, nullptr);
}

EmailClientSendProc emailClientSend = SendEmailClientEventNow;

namespace {

// The error number the client put in its reply: 0 when it has none. One that an OSErr cannot
// hold must not read as success.
SInt32 ClientError(const AppleEvent *reply) {
  SInt32 number = 0;
  DescType type;
  Size size;
  if (AEGetParamPtr(reply, keyErrorNumber, typeSInt32, &type, &number, sizeof number, &size) != noErr)
    return 0;
  if (number != 0 && SInt16(number) == 0) return errAEEventFailed;
  return SInt16(number);
}

}  // namespace

SInt32 MessageEvent_Start(MessageEvent *event, AEEventClass eventClass, AEEventID eventID,
                          const ProcessSerialNumber *process) {
  event->stream = nullptr;  // so that a failed start leaves nothing to release
  event->status = AEStream_CreateEvent(&event->stream, eventClass, eventID, typeProcessSerialNumber, process,
                                       sizeof(ProcessSerialNumber), kAutoGenerateReturnID, kAnyTransactionID);
  return event->status;
}

void MessageEvent_Keep(MessageEvent *event, SInt32 status) {
  if (event->status == noErr) event->status = status;
}

void MessageEvent_WriteKey(MessageEvent *event, AEKeyword key) {
  if (event->status == noErr) event->status = AEStream_WriteKey(&event->stream, key);
}

void MessageEvent_WriteDesc(MessageEvent *event, DescType type, const void *data, Size size) {
  if (event->status == noErr) event->status = AEStream_WriteDesc(&event->stream, type, data, size);
}

void MessageEvent_WriteKeyDesc(MessageEvent *event, AEKeyword key, DescType type, const void *data,
                               Size size) {
  if (event->status == noErr) event->status = AEStream_WriteKeyDesc(&event->stream, key, type, data, size);
}

void MessageEvent_WriteKeyText(MessageEvent *event, AEKeyword key, const char *text, UInt32 length) {
  MessageEvent_WriteKeyDesc(event, key, typeChar, text, Size(length));
}

void MessageEvent_WriteKeyCode(MessageEvent *event, AEKeyword key, DescType type, OSType code) {
  MessageEvent_WriteKeyDesc(event, key, type, &code, sizeof code);
}

void MessageEvent_WriteAEDesc(MessageEvent *event, const AEDesc *desc) {
  if (event->status == noErr) event->status = AEStream_WriteAEDesc(&event->stream, desc);
}

void MessageEvent_OpenRecord(MessageEvent *event, DescType recordType) {
  if (event->status == noErr) event->status = AEStream_OpenRecord(&event->stream, recordType);
}

void MessageEvent_CloseRecord(MessageEvent *event) {
  if (event->status == noErr) event->status = AEStream_CloseRecord(&event->stream);
}

void MessageEvent_OpenList(MessageEvent *event) {
  if (event->status == noErr) event->status = AEStream_OpenList(&event->stream);
}

void MessageEvent_CloseList(MessageEvent *event) {
  if (event->status == noErr) event->status = AEStream_CloseList(&event->stream);
}

void MessageEvent_WriteObject(MessageEvent *event, DescType form, DescType want, DescType seldType,
                              const void *seld, Size seldSize, const AEDesc *from) {
  MessageEvent_OpenRecord(event, typeObjectSpecifier);
  MessageEvent_WriteKeyCode(event, keyAEKeyForm, typeEnumerated, form);
  MessageEvent_WriteKeyCode(event, keyAEDesiredClass, typeType, want);
  MessageEvent_WriteKeyDesc(event, keyAEKeyData, seldType, seld, seldSize);
  if (from == nullptr) {
    MessageEvent_WriteKeyDesc(event, keyAEContainer, typeNull, nullptr, 0);
  } else {
    MessageEvent_WriteKey(event, keyAEContainer);
    MessageEvent_WriteAEDesc(event, from);
  }
  MessageEvent_CloseRecord(event);
}

SInt32 MessageEvent_Ask(MessageEvent *event, AESendMode sendMode, AppleEvent *reply) {
  AEInitializeDesc(reply);
  if (event->status != noErr) {
    MessageEvent_Discard(event);
    return event->status;
  }
  AppleEvent built;
  AEInitializeDesc(&built);
  SInt32 status = AEStream_Close(&event->stream, &built);
  if (status == noErr) status = emailClientSend(&built, reply, sendMode);
  AEDisposeDesc(&built);
  if (status != noErr) AEDisposeDesc(reply);
  event->status = status;
  return status;
}

SInt32 MessageEvent_Send(MessageEvent *event, AESendMode sendMode, AppleEvent *reply) {
  AppleEvent answer;
  SInt32 status = MessageEvent_Ask(event, sendMode, &answer);
  if (status == noErr && (sendMode & kAEWaitReply) == kAEWaitReply) status = ClientError(&answer);
  if (status != noErr || reply == nullptr) {
    AEDisposeDesc(&answer);
  } else {
    *reply = answer;
  }
  return status;
}

SInt32 MessageEvent_SendForObject(MessageEvent *event, AEDesc *object) {
  AppleEvent reply;
  SInt32 status = MessageEvent_Send(event, kSendWaitReply, &reply);
  if (status != noErr) return status;
  status = AEGetParamDesc(&reply, keyDirectObject, typeWildCard, object);
  AEDisposeDesc(&reply);
  return status;
}

void MessageEvent_Discard(MessageEvent *event) {
  AEStream_Dispose(&event->stream);
}

SInt32 SendObjectEvent(AEEventClass eventClass, AEEventID eventID, const AEDesc *object,
                       const ProcessSerialNumber *process, AESendMode mode) {
  MessageEvent event;
  if (MessageEvent_Start(&event, eventClass, eventID, process) != noErr) return event.status;
  MessageEvent_WriteKey(&event, keyDirectObject);
  MessageEvent_WriteAEDesc(&event, object);
  return MessageEvent_Send(&event, mode, nullptr);
}

SInt32 SendAndOpenObject(MessageEvent *event, const ProcessSerialNumber *process) {
  AEDesc object;
  SInt32 status = MessageEvent_SendForObject(event, &object);
  if (status != noErr) return status;
  status = SendObjectEvent(kCoreEventClass, kAEOpenDocuments, &object, process, kSendNoReply);
  AEDisposeDesc(&object);
  return status;
}

OSType EncodingName(UInt32 encoding, const OSType (&names)[7]) {
  return names[encoding < 7 ? encoding : 6];
}
