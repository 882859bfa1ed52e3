// Outlook Express and Entourage sender: one creation event into the Out Box, and an open
// event for a message that is not queued.
#include "send/OutlookSender.h"

#include <MacErrors.h>

#include "clients/EmailClients.h"
#include "send/AddressParser.h"
#include "support/StringUtils.h"

namespace {

constexpr DescType kOutgoingMessage = FourCC("outm");
constexpr DescType kOutBox = FourCC("pOtB");
constexpr DescType kPOPAccount = FourCC("popA");
constexpr DescType kIMAPAccount = FourCC("impA");
constexpr AEKeyword kContent = FourCC("ctnt");
constexpr AEKeyword kSubject = FourCC("subj");
constexpr AEKeyword kRecipients = FourCC("rcpt");
constexpr AEKeyword kAddress = FourCC("addr");
constexpr AEKeyword kRecipientType = FourCC("rtyp");
constexpr AEKeyword kAttachments = FourCC("cAtc");
constexpr AEKeyword kEncoding = FourCC("Encd");
constexpr AEKeyword kCompression = FourCC("Cmpr");
constexpr AEKeyword kHTML = FourCC("pHtm");
constexpr AEKeyword kAccount = FourCC("cAct");
constexpr Size kLongestName = 256;

// The attachment encodings by code; every code these clients do not offer is AppleDouble.
const OSType kEncodings[7] = {
    0, FourCC("eApD"), FourCC("eBnH"), FourCC("eB64"), FourCC("eUUE"), FourCC("eApD"), FourCC("eApD")};

// 'cAtc' (the paths as text, no alias), then 'Encd' and 'Cmpr'.
void WriteAttachments(MessageEvent *event, const EmailClientMessage *m) {
  MessageEvent_WriteKey(event, kAttachments);
  MessageEvent_OpenList(event);
  AttachmentWalk walk;
  StartAttachmentWalk(&walk, m->attachments, m->attachmentsLength);
  const char *path = nullptr;
  UInt32 pathLength = 0;
  while (NextAttachmentItem(&walk, &path, &pathLength))
    MessageEvent_WriteDesc(event, typeChar, path, Size(pathLength));
  MessageEvent_CloseList(event);
  if (m->encoding != kEncodingServiceDefault) {
    MessageEvent_WriteKeyCode(event, kEncoding, typeEnumerated, EncodingName(m->encoding, kEncodings));
  }
  MessageEvent_WriteKeyCode(event, kCompression, typeEnumerated,
                            m->stuffit ? FourCC("cmSt") : FourCC("cmNo"));
}

// 'cAct' = the named POP or IMAP account; nothing for a name in neither list.
void WriteAccount(MessageEvent *event, const EmailClientMessage *m, const AEDescList *pop,
                  const AEDescList *imap) {
  DescType accountClass = 0;
  if (IsNameInNameList(m->account, m->accountLength, pop)) {
    accountClass = kPOPAccount;
  } else if (IsNameInNameList(m->account, m->accountLength, imap)) {
    accountClass = kIMAPAccount;
  } else {
    return;
  }
  MessageEvent_WriteKey(event, kAccount);
  MessageEvent_WriteObject(event, formName, accountClass, typeChar, m->account, Size(m->accountLength),
                           nullptr);
}

void WriteProperties(MessageEvent *event, const EmailClientMessage *m, OSType signature,
                     const AEDescList *pop, const AEDescList *imap) {
  MessageEvent_WriteKey(event, keyAEPropData);
  MessageEvent_OpenRecord(event, typeAERecord);
  if (m->bodyLength != 0) MessageEvent_WriteKeyText(event, kContent, m->body, m->bodyLength);
  if (m->subjectLength != 0) MessageEvent_WriteKeyText(event, kSubject, m->subject, m->subjectLength);
  MessageEvent_WriteKey(event, kRecipients);
  MessageEvent_OpenList(event);
  MessageEvent_Keep(event, SendOutlookEntourageRecipients(event, FourCC("!to "), false, m->to, m->toLength));
  MessageEvent_Keep(event, SendOutlookEntourageRecipients(event, FourCC("!cc "), false, m->cc, m->ccLength));
  // Outlook Express takes its Bcc recipients as bare addresses.
  const Boolean bareBcc = signature == kOutlookExpressCreator;
  MessageEvent_Keep(event,
                    SendOutlookEntourageRecipients(event, FourCC("!bcc"), bareBcc, m->bcc, m->bccLength));
  MessageEvent_CloseList(event);
  if (m->attachmentsLength != 0) WriteAttachments(event, m);
  if (m->html) MessageEvent_WriteKeyDesc(event, kHTML, typeTrue, nullptr, 0);
  if (m->accountLength != 0) WriteAccount(event, m, pop, imap);
  MessageEvent_CloseRecord(event);
}

}  // namespace

SInt32 SendOutlookEntourageRecipients(MessageEvent *event, OSType recipientType, Boolean addressOnly,
                                      const char *list, UInt32 length) {
  OSErr status = noErr;
  AddressParser *parser = InitializeAddressParser(&status, list, length);
  if (status != noErr) return status;
  const char *name = nullptr;
  const char *text = nullptr;
  UInt32 nameLength = 0;
  UInt32 textLength = 0;
  while (event->status == noErr &&
         (addressOnly ? ParseNextAddress(parser, &name, &nameLength, &text, &textLength)
                      : GetNextAddressRound(parser, &text, &textLength))) {
    MessageEvent_OpenRecord(event, typeAERecord);
    MessageEvent_WriteKeyText(event, kAddress, text, textLength);
    MessageEvent_WriteKeyCode(event, kRecipientType, typeEnumerated, recipientType);
    MessageEvent_CloseRecord(event);
  }
  DestroyAddressParser(parser);
  return event->status;
}

Boolean IsNameInNameList(const char *name, UInt32 nameLength, const AEDescList *list) {
  long count = 0;
  if (AECountItems(list, &count) != noErr) return false;
  for (long index = 1; index <= count; index++) {
    char item[kLongestName];
    AEKeyword key;
    DescType type;
    Size size = 0;
    if (AEGetNthPtr(list, index, typeChar, &key, &type, item, kLongestName, &size) != noErr) return false;
    if (size > kLongestName) return false;
    if (EqualChars(reinterpret_cast<const UInt8 *>(item), UInt32(size), reinterpret_cast<const UInt8 *>(name),
                   nameLength, false)) {
      return true;
    }
  }
  return false;
}

SInt32 SendOutlookEntourageMessage(const ProcessSerialNumber *process, const EmailClientMessage *message,
                                   OSType signature, const AEDescList *popAccounts,
                                   const AEDescList *imapAccounts) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kAECoreSuite, kAECreateElement, process) != noErr) return event.status;
  const DescType outBox = kOutBox;
  MessageEvent_WriteKeyCode(&event, keyAEObjectClass, typeType, kOutgoingMessage);
  MessageEvent_WriteKey(&event, keyAEInsertHere);
  MessageEvent_WriteObject(&event, formPropertyID, typeProperty, typeType, &outBox, sizeof outBox, nullptr);
  WriteProperties(&event, message, signature, popAccounts, imapAccounts);
  // A message for the user is created in the Out Box all the same, then opened on screen.
  if (!message->queue) return SendAndOpenObject(&event, process);
  // Outlook Express takes a queued message without a reply; Entourage is waited for.
  return MessageEvent_Send(&event, signature == kOutlookExpressCreator ? kSendNoReply : kSendWaitReply,
                           nullptr);
}
