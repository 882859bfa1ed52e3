// QuickMail sender: 'NewM', 'SetD', one 'Eadd' per attachment, and 'Actn' when queued.
#include "send/QuickMailSender.h"

#include <MacErrors.h>

#include "send/AddressParser.h"

namespace {

constexpr AEEventClass kQuickMailClass = FourCC("CeLP");
constexpr AEEventID kNewMessage = FourCC("NewM");
constexpr AEEventID kSetMessage = FourCC("SetD");
constexpr AEEventID kAddAttachment = FourCC("Eadd");
constexpr AEEventID kAction = FourCC("Actn");
constexpr AEKeyword kBody = FourCC("Body");
constexpr AEKeyword kName = FourCC("ALst");
constexpr AEKeyword kAddress = FourCC("Addr");

// 'SetD': the subject travels as the direct parameter.
SInt32 SendMessageParts(const ProcessSerialNumber *process, const EmailClientMessage *m) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kQuickMailClass, kSetMessage, process) != noErr) return event.status;
  if (m->bodyLength != 0) MessageEvent_WriteKeyText(&event, kBody, m->body, m->bodyLength);
  if (m->subjectLength != 0) MessageEvent_WriteKeyText(&event, keyDirectObject, m->subject, m->subjectLength);
  MessageEvent_Keep(&event, SendQuickMailRecipients(&event, FourCC("ToLs"), m->to, m->toLength));
  MessageEvent_Keep(&event, SendQuickMailRecipients(&event, FourCC("CcLs"), m->cc, m->ccLength));
  MessageEvent_Keep(&event, SendQuickMailRecipients(&event, FourCC("BcLs"), m->bcc, m->bccLength));
  return MessageEvent_Send(&event, kSendNoReply, nullptr);
}

// An event of the QuickMail class with at most a direct parameter, sent without a reply.
SInt32 SendSimpleEvent(const ProcessSerialNumber *process, AEEventID eventID, DescType type, const void *data,
                       Size size) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kQuickMailClass, eventID, process) != noErr) return event.status;
  if (type != typeNull) MessageEvent_WriteKeyDesc(&event, keyDirectObject, type, data, size);
  return MessageEvent_Send(&event, kSendNoReply, nullptr);
}

SInt32 SendAttachments(const ProcessSerialNumber *process, const EmailClientMessage *m) {
  AttachmentWalk walk;
  StartAttachmentWalk(&walk, m->attachments, m->attachmentsLength);
  const char *path = nullptr;
  UInt32 pathLength = 0;
  SInt32 status = noErr;
  while (status == noErr && NextAttachmentItem(&walk, &path, &pathLength)) {
    status = SendSimpleEvent(process, kAddAttachment, typeChar, path, Size(pathLength));
  }
  return status;
}

}  // namespace

SInt32 SendQuickMailRecipients(MessageEvent *event, AEKeyword listKey, const char *list, UInt32 length) {
  OSErr status = noErr;
  AddressParser *parser = InitializeAddressParser(&status, list, length);
  if (parser == nullptr) return status;  // a blank list leaves the key out
  MessageEvent_WriteKey(event, listKey);
  MessageEvent_OpenList(event);
  const char *name = nullptr;
  const char *address = nullptr;
  UInt32 nameLength = 0;
  UInt32 addressLength = 0;
  while (event->status == noErr && ParseNextAddress(parser, &name, &nameLength, &address, &addressLength)) {
    MessageEvent_OpenRecord(event, typeAERecord);
    if (nameLength != 0) MessageEvent_WriteKeyText(event, kName, name, nameLength);
    if (addressLength != 0) MessageEvent_WriteKeyText(event, kAddress, address, addressLength);
    MessageEvent_CloseRecord(event);
  }
  MessageEvent_CloseList(event);
  DestroyAddressParser(parser);
  return event->status;
}

SInt32 SendQuickMailMessage(const ProcessSerialNumber *process, const EmailClientMessage *message) {
  SInt32 status = SendSimpleEvent(process, kNewMessage, typeNull, nullptr, 0);
  if (status == noErr) status = SendMessageParts(process, message);
  if (status == noErr && message->attachmentsLength != 0) status = SendAttachments(process, message);
  if (status == noErr && message->queue) {
    const OSType action = FourCC("ActN");
    status = SendSimpleEvent(process, kAction, typeEnumerated, &action, sizeof action);
  }
  return status;
}
