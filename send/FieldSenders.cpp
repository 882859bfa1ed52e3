#include "send/FieldSenders.h"

#include "send/AddressParser.h"
#include "send/MessageEvent.h"

namespace {

constexpr DescType kEudoraField = FourCC("euFd");
constexpr DescType kMailsmithAddress = FourCC("Addr");
constexpr AEKeyword kEmailerKind = FourCC("RCTP");
constexpr AEKeyword kEmailerAddress = FourCC("RCAD");

// 'core'/'setd' of obj(form, want, seld, from object) to the text, sent without a reply.
SInt32 SendSetData(const AEDesc *object, const ProcessSerialNumber *process, DescType form, DescType want,
                   DescType seldType, const void *seld, Size seldSize, const char *text, UInt32 length) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kAECoreSuite, kAESetData, process) != noErr) return event.status;
  MessageEvent_WriteKey(&event, keyDirectObject);
  MessageEvent_WriteObject(&event, form, want, seldType, seld, seldSize, object);
  MessageEvent_WriteKeyText(&event, keyAEData, text, length);
  return MessageEvent_Send(&event, kSendNoReply, nullptr);
}

}  // namespace

SInt32 SendEudoraField(const AEDesc *message, const ProcessSerialNumber *process, ConstStr255Param fieldName,
                       const char *text, UInt32 length) {
  if (length == 0) return noErr;
  return SendSetData(message, process, formName, kEudoraField, typeChar, fieldName + 1, fieldName[0], text,
                     length);
}

SInt32 SendEudoraRecipients(const AEDesc *message, const ProcessSerialNumber *process,
                            ConstStr255Param fieldName, const char *list, UInt32 length) {
  OSErr status = noErr;
  AddressParser *parser = InitializeAddressParser(&status, list, length);
  if (status != noErr) return status;
  SInt32 result = noErr;
  const char *joined = nullptr;
  UInt32 joinedLength = 0;
  if (GetAllAddressesRound(parser, &joined, &joinedLength)) {
    result = SendEudoraField(message, process, fieldName, joined, joinedLength);
  } else if (parser != nullptr && parser->status != noErr) {
    result = parser->status;  // the joined list could not be written whole
  }
  DestroyAddressParser(parser);
  return result;
}

SInt32 SendMailsmithField(const AEDesc *window, const ProcessSerialNumber *process, DescType property,
                          const char *text, UInt32 length) {
  if (length == 0) return noErr;
  return SendSetData(window, process, formPropertyID, typeProperty, typeType, &property, sizeof property,
                     text, length);
}

SInt32 SendMailsmithRecipients(const AEDesc *window, const ProcessSerialNumber *process,
                               DescType elementClass, const char *list, UInt32 length) {
  OSErr parserStatus = noErr;
  AddressParser *parser = InitializeAddressParser(&parserStatus, list, length);
  if (parserStatus != noErr) return parserStatus;
  SInt32 status = noErr;
  const char *address = nullptr;
  UInt32 addressLength = 0;
  while (status == noErr && GetNextAddressRound(parser, &address, &addressLength)) {
    MessageEvent event;
    status = MessageEvent_Start(&event, kAECoreSuite, kAECreateElement, process);
    if (status != noErr) break;
    MessageEvent_WriteKeyCode(&event, keyAEObjectClass, typeType, elementClass);
    MessageEvent_WriteKey(&event, keyAEInsertHere);
    MessageEvent_WriteAEDesc(&event, window);
    MessageEvent_WriteKey(&event, keyAEPropData);
    MessageEvent_OpenRecord(&event, typeAERecord);
    MessageEvent_WriteKeyText(&event, kMailsmithAddress, address, addressLength);
    MessageEvent_CloseRecord(&event);
    status = MessageEvent_Send(&event, kSendNoReply, nullptr);
  }
  DestroyAddressParser(parser);
  return status;
}

SInt32 SendEmailerRecipients(MessageEvent *event, SInt16 kind, const char *list, UInt32 length) {
  OSErr status = noErr;
  AddressParser *parser = InitializeAddressParser(&status, list, length);
  if (status != noErr) return status;
  const char *address = nullptr;
  UInt32 addressLength = 0;
  while (event->status == noErr && GetNextAddressRound(parser, &address, &addressLength)) {
    MessageEvent_OpenRecord(event, typeAERecord);
    MessageEvent_WriteKeyDesc(event, kEmailerKind, typeSInt16, &kind, sizeof kind);
    MessageEvent_WriteKeyText(event, kEmailerAddress, address, addressLength);
    MessageEvent_CloseRecord(event);
  }
  DestroyAddressParser(parser);
  return event->status;
}
