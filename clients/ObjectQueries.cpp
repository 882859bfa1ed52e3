// Object-model queries: a get-data event for one property of an object picked inside the
// application, sent with a wait for the reply.
#include "clients/ObjectQueries.h"

#include <MacErrors.h>

#include "clients/ClientEvents.h"

namespace {

// Builds 'core'/'getd' whose direct parameter is
//   'obj '{ form:'prop', want:type('prop'), seld:type(property), from:<container> }
// where the container is the object picked by (form, objectClass, selector) in the
// application.
SInt32 BuildPropertyEvent(const ProcessSerialNumber *process, DescType property, DescType containerForm,
                          DescType objectClass, DescType selectorType, const void *selectorData,
                          Size selectorSize, AppleEvent *event) {
  AEStream stream;
  SInt32 err = CreateClientEvent(&stream, process, kAECoreSuite, kAEGetData);
  if (err != noErr) {
    AEInitializeDesc(event);
    return err;
  }
  const DescType form = formPropertyID;
  const DescType want = typeProperty;
  SInt32 first = AEStream_WriteKey(&stream, keyDirectObject);
  KeepFirstError(first, AEStream_OpenRecord(&stream, typeObjectSpecifier));
  KeepFirstError(first, AEStream_WriteKeyDesc(&stream, keyAEKeyForm, typeEnumerated, &form, sizeof form));
  KeepFirstError(first, AEStream_WriteKeyDesc(&stream, keyAEDesiredClass, typeType, &want, sizeof want));
  KeepFirstError(first, AEStream_WriteKeyDesc(&stream, keyAEKeyData, typeType, &property, sizeof property));
  KeepFirstError(first, AEStream_WriteKey(&stream, keyAEContainer));
  KeepFirstError(first, WriteApplicationObject(&stream, containerForm, objectClass, selectorType,
                                               selectorData, selectorSize));
  KeepFirstError(first, AEStream_CloseRecord(&stream));
  return CloseClientEvent(&stream, first, event);
}

// Sends the event, waits for the reply and takes its direct parameter as desiredType. A
// client that has no objects of a class may answer without a direct parameter: with
// missingIsEmpty that is an empty list.
SInt32 SendQuery(AppleEvent *event, DescType desiredType, bool missingIsEmpty, AEDesc *result) {
  AppleEvent reply;
  SInt32 err = SendClientEvent(event, &reply, kClientWaitReplyMode);
  if (err != noErr) return err;
  err = AEGetParamDesc(&reply, keyDirectObject, desiredType, result);
  if (err == errAEDescNotFound && missingIsEmpty) err = AECreateList(nullptr, 0, false, result);
  AEDisposeDesc(&reply);
  return err;
}

}  // namespace

SInt32 GetPropertyOfNamedObject(const ProcessSerialNumber *process, AEDesc *result, DescType property,
                                DescType desiredType, DescType objectClass, const void *name,
                                UInt32 nameLength) {
  AppleEvent event;
  SInt32 err =
      BuildPropertyEvent(process, property, formName, objectClass, typeChar, name, Size(nameLength), &event);
  if (err != noErr) return err;
  return SendQuery(&event, desiredType, false, result);
}

SInt32 GetPropertiesOfIndexedObjects(const ProcessSerialNumber *process, AEDesc *result, DescType property,
                                     DescType objectClass, DescType selectorType, UInt32 selectorData) {
  AppleEvent event;
  SInt32 err = BuildPropertyEvent(process, property, formAbsolutePosition, objectClass, selectorType,
                                  &selectorData, sizeof selectorData, &event);
  if (err != noErr) return err;
  return SendQuery(&event, typeWildCard, true, result);
}
