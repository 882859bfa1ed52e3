// Apple Mail sender: the message, its recipients and attachments, the send command and the
// polls for the message's id.
#include "send/MailAppSender.h"

#include <Aliases.h>
#include <Events.h>
#include <MacErrors.h>
#include <MacMemory.h>

#include "clients/ClientConnection.h"
#include "send/AddressParser.h"
#include "send/MessageEvent.h"
#include "support/StringUtils.h"

namespace {

constexpr DescType kOutgoingMessage = FourCC("bcke");
constexpr DescType kRecipientClass = FourCC("rcpt");
constexpr DescType kAttachmentClass = FourCC("atts");
constexpr DescType kCharacter = FourCC("cha ");
constexpr DescType kMessageID = FourCC("ID  ");
constexpr AEKeyword kContent = FourCC("ctnt");
constexpr AEKeyword kSubject = FourCC("subj");
constexpr AEKeyword kSender = FourCC("sndr");
constexpr AEKeyword kVisible = FourCC("pvis");
constexpr AEKeyword kAddress = FourCC("radd");
constexpr AEKeyword kFileName = FourCC("atfn");
constexpr AEEventClass kMailSuite = FourCC("emsg");
constexpr AEEventID kSendCommand = FourCC("send");
constexpr UInt32 kLongestPath = 32767;  // a full path's length is a signed 16-bit count

// The sender text of the first account named exactly like the message's account, or null.
const MailAccountEntry *MatchingAccount(const EmailClientMessage *m, const MailAccountEntry *accounts,
                                        SInt32 count) {
  if (m->accountLength == 0) return nullptr;
  const auto *account = reinterpret_cast<const UInt8 *>(m->account);
  for (SInt32 i = 0; i < count; i++) {
    const auto *name = reinterpret_cast<const UInt8 *>(accounts[i].name);
    if (EqualChars(name, accounts[i].nameLength, account, m->accountLength, true)) return &accounts[i];
  }
  return nullptr;
}

// 'core'/'crel' of the outgoing message; *object receives its specifier from the reply.
SInt32 CreateMessage(const ProcessSerialNumber *process, const EmailClientMessage *m,
                     const MailAccountEntry *sender, AEDesc *object) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kAECoreSuite, kAECreateElement, process) != noErr) return event.status;
  MessageEvent_WriteKeyCode(&event, keyAEObjectClass, typeType, kOutgoingMessage);
  MessageEvent_WriteKey(&event, keyAEPropData);
  MessageEvent_OpenRecord(&event, typeAERecord);
  if (m->bodyLength != 0) MessageEvent_WriteKeyText(&event, kContent, m->body, m->bodyLength);
  if (m->subjectLength != 0) MessageEvent_WriteKeyText(&event, kSubject, m->subject, m->subjectLength);
  if (sender != nullptr) MessageEvent_WriteKeyText(&event, kSender, sender->sender, sender->senderLength);
  if (!m->queue) MessageEvent_WriteKeyDesc(&event, kVisible, typeTrue, nullptr, 0);  // left open on screen
  MessageEvent_CloseRecord(&event);
  return MessageEvent_SendForObject(&event, object);
}

// One attachment, made from the path as an alias, after the last character of the content.
SInt32 SendAttachment(const AEDesc *object, const ProcessSerialNumber *process, const char *path,
                      UInt32 length) {
  if (length > kLongestPath) return paramErr;
  AliasHandle alias = nullptr;
  SInt32 status = NewAliasMinimalFromFullPath(short(length), path, nullptr, nullptr, &alias);
  if (status != noErr) return status;
  MessageEvent event;
  if (MessageEvent_Start(&event, kAECoreSuite, kAECreateElement, process) == noErr) {
    const DescType content = kContent;
    const SInt32 last = -1;
    MessageEvent_WriteKeyCode(&event, keyAEObjectClass, typeType, kAttachmentClass);
    MessageEvent_WriteKey(&event, keyAEInsertHere);
    MessageEvent_OpenRecord(&event, typeInsertionLoc);
    MessageEvent_WriteKey(&event, keyAEObject);
    MessageEvent_OpenRecord(&event, typeObjectSpecifier);
    MessageEvent_WriteKeyCode(&event, keyAEKeyForm, typeEnumerated, formAbsolutePosition);
    MessageEvent_WriteKeyCode(&event, keyAEDesiredClass, typeType, kCharacter);
    MessageEvent_WriteKeyDesc(&event, keyAEKeyData, typeSInt32, &last, sizeof last);
    MessageEvent_WriteKey(&event, keyAEContainer);
    MessageEvent_WriteObject(&event, formPropertyID, typeProperty, typeType, &content, sizeof content,
                             object);
    MessageEvent_CloseRecord(&event);
    MessageEvent_WriteKeyCode(&event, keyAEPosition, typeEnumerated, kAEAfter);
    MessageEvent_CloseRecord(&event);
    MessageEvent_WriteKey(&event, keyAEPropData);
    MessageEvent_OpenRecord(&event, typeAERecord);
    auto handle = reinterpret_cast<Handle>(alias);
    MessageEvent_WriteKeyDesc(&event, kFileName, typeAlias, *handle, GetHandleSize(handle));
    MessageEvent_CloseRecord(&event);
  }
  DisposeHandle(reinterpret_cast<Handle>(alias));
  return MessageEvent_Send(&event, kSendWaitReply, nullptr);
}

SInt32 SendAttachments(const AEDesc *object, const ProcessSerialNumber *process,
                       const EmailClientMessage *m) {
  AttachmentWalk walk;
  StartAttachmentWalk(&walk, m->attachments, m->attachmentsLength);
  const char *path = nullptr;
  UInt32 pathLength = 0;
  SInt32 status = noErr;
  while (status == noErr && NextAttachmentItem(&walk, &path, &pathLength)) {
    status = SendAttachment(object, process, path, pathLength);
  }
  return status;
}

// Asks for the message's id; *gone is set when Mail no longer has the outgoing message.
SInt32 PollMessage(const AEDesc *object, const ProcessSerialNumber *process, bool *gone) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kAECoreSuite, kAEGetData, process) != noErr) return event.status;
  const DescType id = kMessageID;
  MessageEvent_WriteKey(&event, keyDirectObject);
  MessageEvent_WriteObject(&event, formPropertyID, typeProperty, typeType, &id, sizeof id, object);
  // Mail answers with an error once the message has gone.
  AppleEvent reply;
  SInt32 status = MessageEvent_Ask(&event, kSendWaitReply, &reply);
  if (status != noErr) return status;
  SInt32 value = 0;
  DescType actualType = typeNull;
  Size actualSize = 0;
  *gone = AEGetParamPtr(&reply, keyDirectObject, typeSInt32, &actualType, &value, sizeof value,
                        &actualSize) != noErr;
  AEDisposeDesc(&reply);
  return noErr;
}

// The send command, then up to four polls, 6, 12, 24 and 48 ticks apart, until the message
// is gone. Whether Mail took it in that time or not, the result is 0.
SInt32 SendAndWait(const AEDesc *object, const ProcessSerialNumber *process) {
  SInt32 status = SendObjectEvent(kMailSuite, kSendCommand, object, process, kSendWaitReply);
  bool gone = false;
  for (int poll = 0; status == noErr && !gone && poll < kMailAppPolls; poll++) {
    Delay(kMailAppFirstPollTicks << poll, nullptr);
    status = PollMessage(object, process, &gone);
  }
  return status;
}

}  // namespace

SInt32 SendMailAppRecipients(const AEDesc *messageObject, const ProcessSerialNumber *process, DescType kind,
                             const char *list, UInt32 length) {
  OSErr parserStatus = noErr;
  AddressParser *parser = InitializeAddressParser(&parserStatus, list, length);
  if (parserStatus != noErr) return parserStatus;
  const char *name = nullptr;
  const char *address = nullptr;
  UInt32 nameLength = 0;
  UInt32 addressLength = 0;
  const UInt32 all = kAEAll;
  SInt32 status = noErr;
  while (status == noErr && ParseNextAddress(parser, &name, &nameLength, &address, &addressLength)) {
    MessageEvent event;
    if (MessageEvent_Start(&event, kAECoreSuite, kAECreateElement, process) != noErr) {
      status = event.status;
      break;
    }
    MessageEvent_WriteKeyCode(&event, keyAEObjectClass, typeType, kRecipientClass);
    MessageEvent_WriteKey(&event, keyAEInsertHere);
    MessageEvent_OpenRecord(&event, typeInsertionLoc);
    MessageEvent_WriteKey(&event, keyAEObject);
    MessageEvent_WriteObject(&event, formAbsolutePosition, kind, typeAbsoluteOrdinal, &all, sizeof all,
                             messageObject);
    MessageEvent_WriteKeyCode(&event, keyAEPosition, typeEnumerated, kAEEnd);
    MessageEvent_CloseRecord(&event);
    MessageEvent_WriteKey(&event, keyAEPropData);
    MessageEvent_OpenRecord(&event, typeAERecord);
    if (nameLength != 0) MessageEvent_WriteKeyText(&event, pName, name, nameLength);
    if (addressLength != 0) MessageEvent_WriteKeyText(&event, kAddress, address, addressLength);
    MessageEvent_CloseRecord(&event);
    status = MessageEvent_Send(&event, kSendWaitReply, nullptr);
  }
  DestroyAddressParser(parser);
  return status;
}

SInt32 SendMailAppMessage(const ProcessSerialNumber *process, const EmailClientMessage *message,
                          const MailAccountEntry *accounts, SInt32 accountCount) {
  AEDesc object;
  AEInitializeDesc(&object);
  SInt32 status = CreateMessage(process, message, MatchingAccount(message, accounts, accountCount), &object);
  if (status != noErr) return status;
  status = SendMailAppRecipients(&object, process, FourCC("trcp"), message->to, message->toLength);
  if (status == noErr)
    status = SendMailAppRecipients(&object, process, FourCC("crcp"), message->cc, message->ccLength);
  if (status == noErr)
    status = SendMailAppRecipients(&object, process, FourCC("brcp"), message->bcc, message->bccLength);
  if (status == noErr && message->attachmentsLength != 0) status = SendAttachments(&object, process, message);
  if (status == noErr && message->queue) status = SendAndWait(&object, process);
  AEDisposeDesc(&object);
  return status;
}
