// Building blocks for the events the connection and the queries send to email clients.
#include "clients/ClientEvents.h"

#include <MacErrors.h>

SInt32 CreateClientEvent(AEStream *stream, const ProcessSerialNumber *process, AEEventClass eventClass,
                         AEEventID eventID) {
  return AEStream_CreateEvent(stream, eventClass, eventID, typeProcessSerialNumber, process,
                              sizeof(ProcessSerialNumber), kAutoGenerateReturnID, kAnyTransactionID);
}

SInt32 WriteApplicationObject(AEStream *stream, DescType form, DescType desiredClass, DescType selectorType,
                              const void *selectorData, Size selectorSize) {
  // Codes go in native byte order, as the Apple Event Manager holds 'enum' and 'type' data.
  SInt32 first = AEStream_OpenRecord(stream, typeObjectSpecifier);
  if (first != noErr) return first;
  KeepFirstError(first, AEStream_WriteKeyDesc(stream, keyAEKeyForm, typeEnumerated, &form, sizeof form));
  KeepFirstError(
      first, AEStream_WriteKeyDesc(stream, keyAEDesiredClass, typeType, &desiredClass, sizeof desiredClass));
  KeepFirstError(first,
                 AEStream_WriteKeyDesc(stream, keyAEKeyData, selectorType, selectorData, selectorSize));
  KeepFirstError(first, AEStream_WriteKeyDesc(stream, keyAEContainer, typeNull, nullptr, 0));
  KeepFirstError(first, AEStream_CloseRecord(stream));
  return first;
}

SInt32 CloseClientEvent(AEStream *stream, SInt32 pending, AppleEvent *event) {
  AEInitializeDesc(event);
  SInt32 err = AEStream_Close(stream, event);
  if (err == noErr) err = pending;
  // An unbalanced close still hands over a descriptor; it must not leak.
  if (err != noErr) AEDisposeDesc(event);
  return err;
}

SInt32 SendClientEvent(AppleEvent *event, AppleEvent *reply, AESendMode mode) {
  return SendClientEventWithin(event, reply, mode, kClientEventTimeout);
}

SInt32 SendClientEventWithin(AppleEvent *event, AppleEvent *reply, AESendMode mode, long ticks) {
  AEInitializeDesc(reply);
  OSErr err = AESend(event, reply, mode, kAENormalPriority, ticks, nullptr, nullptr);
  AEDisposeDesc(event);
  if (err != noErr) AEDisposeDesc(reply);
  return err;
}
