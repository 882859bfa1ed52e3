// PowerMail sender: one creation event per message, and an open event when it is not queued.
#include "send/PowerMailSender.h"

#include <MacErrors.h>

#include "send/AddressParser.h"

namespace {

constexpr DescType kMessageClass = FourCC("msg ");
constexpr AEKeyword kContent = FourCC("ctnt");
constexpr AEKeyword kSubject = FourCC("subj");
constexpr AEKeyword kAttachments = FourCC("cAtc");
constexpr AEKeyword kFile = FourCC("file");
constexpr AEKeyword kEncoding = FourCC("Encd");
constexpr AEKeyword kCompression = FourCC("Comp");
constexpr AEKeyword kRecipients = FourCC("rcpt");
constexpr AEKeyword kAddress = FourCC("addr");
constexpr AEKeyword kRecipientType = FourCC("rtyp");
constexpr AEKeyword kAccount = FourCC("acct");
constexpr AEKeyword kStatus = FourCC("stts");

// PowerMail's attachment encodings by code (AppleSingle goes as AppleDouble).
const OSType kEncodings[7] = {
    0, FourCC("eNoE"), FourCC("eBnH"), FourCC("eB64"), FourCC("eUUE"), FourCC("eApD"), FourCC("eApD")};

// 'cAtc': one {'file', 'Encd'?, 'Comp'} record per attachment line.
void WriteAttachments(MessageEvent *event, const EmailClientMessage *m) {
  const OSType encoding = EncodingName(m->encoding, kEncodings);
  const OSType compression = m->stuffit ? FourCC("eStC") : FourCC("eNoC");
  MessageEvent_WriteKey(event, kAttachments);
  MessageEvent_OpenList(event);
  AttachmentWalk walk;
  StartAttachmentWalk(&walk, m->attachments, m->attachmentsLength);
  const char *path = nullptr;
  UInt32 pathLength = 0;
  while (NextAttachmentItem(&walk, &path, &pathLength)) {
    MessageEvent_OpenRecord(event, typeAERecord);
    MessageEvent_WriteKeyText(event, kFile, path, pathLength);
    if (encoding != 0) MessageEvent_WriteKeyCode(event, kEncoding, typeEnumerated, encoding);
    MessageEvent_WriteKeyCode(event, kCompression, typeEnumerated, compression);
    MessageEvent_CloseRecord(event);
  }
  MessageEvent_CloseList(event);
}

// The 'prdt' record of the new message.
void WriteProperties(MessageEvent *event, const EmailClientMessage *m) {
  MessageEvent_WriteKey(event, keyAEPropData);
  MessageEvent_OpenRecord(event, typeAERecord);
  if (m->bodyLength != 0) MessageEvent_WriteKeyText(event, kContent, m->body, m->bodyLength);
  if (m->subjectLength != 0) MessageEvent_WriteKeyText(event, kSubject, m->subject, m->subjectLength);
  if (m->attachmentsLength != 0) WriteAttachments(event, m);
  MessageEvent_WriteKey(event, kRecipients);
  MessageEvent_OpenList(event);
  MessageEvent_Keep(event, SendPowerMailRecipients(event, FourCC("!to "), m->to, m->toLength));
  MessageEvent_Keep(event, SendPowerMailRecipients(event, FourCC("!cc "), m->cc, m->ccLength));
  MessageEvent_Keep(event, SendPowerMailRecipients(event, FourCC("!bcc"), m->bcc, m->bccLength));
  MessageEvent_CloseList(event);
  if (m->accountLength != 0) MessageEvent_WriteKeyText(event, kAccount, m->account, m->accountLength);
  if (m->queue) MessageEvent_WriteKeyCode(event, kStatus, typeEnumerated, FourCC("wait"));
  MessageEvent_CloseRecord(event);
}

}  // namespace

SInt32 SendPowerMailRecipients(MessageEvent *event, OSType recipientType, const char *list, UInt32 length) {
  OSErr status = noErr;
  AddressParser *parser = InitializeAddressParser(&status, list, length);
  if (status != noErr) return status;
  const char *address = nullptr;
  UInt32 addressLength = 0;
  while (event->status == noErr && GetNextAddressAngled(parser, &address, &addressLength)) {
    MessageEvent_OpenRecord(event, typeAERecord);
    MessageEvent_WriteKeyText(event, kAddress, address, addressLength);
    MessageEvent_WriteKeyCode(event, kRecipientType, typeEnumerated, recipientType);
    MessageEvent_CloseRecord(event);
  }
  DestroyAddressParser(parser);
  return event->status;
}

SInt32 SendPowerMailMessage(const ProcessSerialNumber *process, const EmailClientMessage *message) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kAECoreSuite, kAECreateElement, process) != noErr) return event.status;
  MessageEvent_WriteKeyCode(&event, keyAEObjectClass, typeType, kMessageClass);
  WriteProperties(&event, message);
  if (!message->queue) return SendAndOpenObject(&event, process);
  return MessageEvent_Send(&event, kSendNoReply, nullptr);
}
