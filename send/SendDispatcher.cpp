#include "send/SendDispatcher.h"

#include <MacErrors.h>

#include "clients/ClientConnection.h"
#include "clients/EmailClients.h"
#include "send/FieldSenders.h"
#include "send/MailAppSender.h"
#include "send/MessageEvent.h"
#include "send/OutlookSender.h"
#include "send/PowerMailSender.h"
#include "send/QuickMailSender.h"

namespace {

// Eudora vocabulary.
constexpr DescType kEudoraMailbox = FourCC("euMB");
constexpr DescType kEudoraMessage = FourCC("euMS");
constexpr DescType kEudoraPersonality = FourCC("euPr");
constexpr AEEventClass kEudoraClass = FourCC("CSOm");
constexpr AEEventID kEudoraAttach = FourCC("eAtc");
constexpr AEEventID kEudoraQueue = FourCC("eQue");
constexpr AEKeyword kEudoraDocumentList = FourCC("eDcl");
constexpr DescType kEudoraAttachmentType = FourCC("eATy");

// Mailsmith vocabulary.
constexpr DescType kMailsmithWindow = FourCC("mWnd");
constexpr DescType kMailsmithEnclosure = FourCC("Encl");
constexpr AEEventClass kMailsmithMail = FourCC("mail");
constexpr AEEventID kMailsmithQueue = FourCC("queu");

// Emailer vocabulary.
constexpr AEEventClass kEmailerClass = FourCC("MMan");
constexpr AEEventID kEmailerCreateMail = FourCC("CRML");

// Eudora field names, length-prefixed; the empty name is the body.
const unsigned char kEudoraBody[] = {0};
const unsigned char kEudoraSubject[] = {7, 's', 'u', 'b', 'j', 'e', 'c', 't'};
const unsigned char kEudoraTo[] = {2, 't', 'o'};
const unsigned char kEudoraCc[] = {2, 'c', 'c'};
const unsigned char kEudoraBcc[] = {3, 'b', 'c', 'c'};

// ---- Size ---------------------------------------------------------------------------

// The most an event may hold of a message's texts: the Apple Event Manager hands no event
// over 16 MiB to another process, and the event's own descriptors need room beside them.
constexpr UInt64 kMaxMessageEventBytes = (UInt64(16) << 20) - 65536;
// What one item of a recipient or attachment list may cost in an event beside its text
// (the headers of its descriptors and of the record around it).
constexpr UInt64 kListItemBytes = 96;

// A list's bytes in an event at most: its text twice (a recipient may travel as name and
// address, and again joined) and one item's cost per item that a comma or CR starts.
UInt64 ListEventBytes(const char *list, UInt32 length) {
  UInt64 items = 1;
  for (UInt32 i = 0; i < length; i++) {
    if (list[i] == ',' || list[i] == '\r') items++;
  }
  return 2 * UInt64(length) + items * kListItemBytes;
}

// Whether every event of the message can be handed over: true when all of its texts would
// fit one event, whichever way a client's dialect spreads them over its events.
bool MessageFitsEvents(const EmailClientMessage *m) {
  UInt64 bytes = UInt64(m->bodyLength) + m->subjectLength + m->accountLength;
  bytes += ListEventBytes(m->to, m->toLength) + ListEventBytes(m->cc, m->ccLength);
  bytes += ListEventBytes(m->bcc, m->bccLength) + ListEventBytes(m->attachments, m->attachmentsLength);
  return bytes <= kMaxMessageEventBytes;
}

// ---- Eudora --------------------------------------------------------------------------

// 'core'/'crel' of a new message at the end of the mailbox "out"; *object receives the
// reply's direct parameter, the new message's object specifier (caller disposes).
SInt32 CreateEudoraMessage(const ProcessSerialNumber *process, AEDesc *object) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kAECoreSuite, kAECreateElement, process) != noErr) return event.status;
  MessageEvent_WriteKey(&event, keyAEInsertHere);
  MessageEvent_OpenRecord(&event, typeInsertionLoc);
  MessageEvent_WriteKey(&event, keyAEObject);
  MessageEvent_WriteObject(&event, formName, kEudoraMailbox, typeChar, "out", 3, nullptr);
  MessageEvent_WriteKeyCode(&event, keyAEPosition, typeEnumerated, kAEEnd);
  MessageEvent_CloseRecord(&event);
  MessageEvent_WriteKeyCode(&event, keyAEObjectClass, typeType, kEudoraMessage);
  // Without the new message's specifier every later event would address nothing.
  return MessageEvent_SendForObject(&event, object);
}

SInt32 SendEudoraParts(const AEDesc *object, const ProcessSerialNumber *process,
                       const EmailClientMessage *m) {
  SInt32 status = SendEudoraField(object, process, kEudoraBody, m->body, m->bodyLength);
  if (status == noErr)
    status = SendEudoraField(object, process, kEudoraSubject, m->subject, m->subjectLength);
  if (status == noErr) status = SendEudoraRecipients(object, process, kEudoraTo, m->to, m->toLength);
  if (status == noErr) status = SendEudoraRecipients(object, process, kEudoraCc, m->cc, m->ccLength);
  if (status == noErr) status = SendEudoraRecipients(object, process, kEudoraBcc, m->bcc, m->bccLength);
  return status;
}

SInt16 EudoraAttachmentType(UInt32 encoding) {
  switch (encoding) {
    case kEncodingUUEncode:
      return 3;
    case kEncodingAppleSingle:
      return 1;
    case kEncodingBinHex:
      return 2;
    default:
      return 0;
  }
}

SInt32 SendEudoraAttachments(const AEDesc *object, const ProcessSerialNumber *process,
                             const EmailClientMessage *m) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kEudoraClass, kEudoraAttach, process) != noErr) return event.status;
  MessageEvent_WriteKey(&event, keyDirectObject);
  MessageEvent_WriteAEDesc(&event, object);
  MessageEvent_WriteKey(&event, kEudoraDocumentList);
  MessageEvent_OpenList(&event);
  AttachmentWalk walk;
  StartAttachmentWalk(&walk, m->attachments, m->attachmentsLength);
  const char *path = nullptr;
  UInt32 pathLength = 0;
  while (NextAttachmentItem(&walk, &path, &pathLength)) {
    MessageEvent_WriteObject(&event, formName, typeAlias, typeChar, path, Size(pathLength), nullptr);
  }
  MessageEvent_CloseList(&event);
  SInt32 status = MessageEvent_Send(&event, kSendNoReply, nullptr);
  if (status != noErr || m->encoding == kEncodingServiceDefault) return status;

  if (MessageEvent_Start(&event, kAECoreSuite, kAESetData, process) != noErr) return event.status;
  const DescType property = kEudoraAttachmentType;
  const SInt16 type = EudoraAttachmentType(m->encoding);
  MessageEvent_WriteKey(&event, keyDirectObject);
  MessageEvent_WriteObject(&event, formPropertyID, typeProperty, typeType, &property, sizeof property,
                           object);
  MessageEvent_WriteKeyDesc(&event, keyAEData, typeSInt16, &type, sizeof type);
  return MessageEvent_Send(&event, kSendNoReply, nullptr);
}

// The message's personality becomes the personality of the account's name.
SInt32 SendEudoraPersonality(const AEDesc *object, const ProcessSerialNumber *process,
                             const EmailClientMessage *m) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kAECoreSuite, kAESetData, process) != noErr) return event.status;
  const DescType property = kEudoraPersonality;
  MessageEvent_WriteKey(&event, keyDirectObject);
  MessageEvent_WriteObject(&event, formPropertyID, typeProperty, typeType, &property, sizeof property,
                           object);
  MessageEvent_WriteKey(&event, keyAEData);
  MessageEvent_WriteObject(&event, formName, kEudoraPersonality, typeChar, m->account, Size(m->accountLength),
                           nullptr);
  return MessageEvent_Send(&event, kSendNoReply, nullptr);
}

SInt32 SendEudoraMessage(const ProcessSerialNumber *process, const EmailClientMessage *m) {
  AEDesc object;
  AEInitializeDesc(&object);
  SInt32 status = CreateEudoraMessage(process, &object);
  if (status != noErr) return status;
  status = SendEudoraParts(&object, process, m);
  if (status == noErr && m->attachmentsLength != 0) status = SendEudoraAttachments(&object, process, m);
  if (status == noErr && m->accountLength != 0) status = SendEudoraPersonality(&object, process, m);
  if (status == noErr && m->queue) {
    status = SendObjectEvent(kEudoraClass, kEudoraQueue, &object, process, kSendWaitReply);
  }
  AEDisposeDesc(&object);
  return status;
}

// ---- Mailsmith -----------------------------------------------------------------------

SInt32 CreateMailsmithWindow(const ProcessSerialNumber *process, AEDesc *window) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kAECoreSuite, kAECreateElement, process) != noErr) return event.status;
  MessageEvent_WriteKeyCode(&event, keyAEObjectClass, typeType, kMailsmithWindow);
  return MessageEvent_SendForObject(&event, window);
}

// Mailsmith's enclosure encodings by code; "No Encoding" and codes past the table are
// AppleDouble.
const OSType kMailsmithEncodings[7] = {
    0, FourCC("eApD"), FourCC("eHQX"), FourCC("eB64"), FourCC("eUUc"), FourCC("eApS"), FourCC("eApD")};

SInt32 SendMailsmithEnclosures(const AEDesc *window, const ProcessSerialNumber *process,
                               const EmailClientMessage *m) {
  const OSType encoding = EncodingName(m->encoding, kMailsmithEncodings);
  AttachmentWalk walk;
  StartAttachmentWalk(&walk, m->attachments, m->attachmentsLength);
  const char *path = nullptr;
  UInt32 pathLength = 0;
  SInt32 status = noErr;
  while (status == noErr && NextAttachmentItem(&walk, &path, &pathLength)) {
    MessageEvent event;
    if (MessageEvent_Start(&event, kAECoreSuite, kAECreateElement, process) != noErr) return event.status;
    MessageEvent_WriteKeyCode(&event, keyAEObjectClass, typeType, kMailsmithEnclosure);
    MessageEvent_WriteKey(&event, keyAEInsertHere);
    MessageEvent_WriteAEDesc(&event, window);
    MessageEvent_WriteKey(&event, keyAEPropData);
    MessageEvent_OpenRecord(&event, typeAERecord);
    MessageEvent_WriteKeyText(&event, FourCC("file"), path, pathLength);
    if (encoding != 0) MessageEvent_WriteKeyCode(&event, FourCC("Encd"), typeEnumerated, encoding);
    MessageEvent_CloseRecord(&event);
    status = MessageEvent_Send(&event, kSendNoReply, nullptr);
  }
  return status;
}

SInt32 SendMailsmithParts(const AEDesc *window, const ProcessSerialNumber *process,
                          const EmailClientMessage *m) {
  SInt32 status = SendMailsmithField(window, process, FourCC("pcnt"), m->body, m->bodyLength);
  if (status == noErr)
    status = SendMailsmithField(window, process, FourCC("subj"), m->subject, m->subjectLength);
  if (status == noErr)
    status = SendMailsmithField(window, process, FourCC("SeAc"), m->account, m->accountLength);
  if (status == noErr) status = SendMailsmithRecipients(window, process, FourCC("!to "), m->to, m->toLength);
  if (status == noErr) status = SendMailsmithRecipients(window, process, FourCC("!cc "), m->cc, m->ccLength);
  if (status == noErr)
    status = SendMailsmithRecipients(window, process, FourCC("!bcc"), m->bcc, m->bccLength);
  return status;
}

SInt32 SendMailsmithMessage(const ProcessSerialNumber *process, const EmailClientMessage *m) {
  AEDesc window;
  AEInitializeDesc(&window);
  SInt32 status = CreateMailsmithWindow(process, &window);
  if (status != noErr) return status;
  status = SendMailsmithParts(&window, process, m);
  if (status == noErr && m->attachmentsLength != 0) status = SendMailsmithEnclosures(&window, process, m);
  if (status == noErr && m->queue) {
    status = SendObjectEvent(kMailsmithMail, kMailsmithQueue, &window, process, kSendNoReply);
  }
  AEDisposeDesc(&window);
  return status;
}

// ---- Claris Emailer ------------------------------------------------------------------

SInt16 EmailerEncoding(UInt32 encoding) {
  switch (encoding) {
    case kEncodingNone:
      return 1;
    case kEncodingBinHex:
      return 2;
    case kEncodingUUEncode:
      return 4;
    default:
      return 3;
  }
}

void WriteEmailerAttachments(MessageEvent *event, const EmailClientMessage *m) {
  MessageEvent_WriteKey(event, FourCC("FILE"));
  MessageEvent_OpenList(event);
  AttachmentWalk walk;
  StartAttachmentWalk(&walk, m->attachments, m->attachmentsLength);
  const char *path = nullptr;
  UInt32 pathLength = 0;
  while (NextAttachmentItem(&walk, &path, &pathLength)) {
    MessageEvent_OpenRecord(event, typeObjectSpecifier);  // no 'from' key in this dialect
    MessageEvent_WriteKeyCode(event, keyAEKeyForm, typeEnumerated, formName);
    MessageEvent_WriteKeyCode(event, keyAEDesiredClass, typeType, FourCC("file"));
    MessageEvent_WriteKeyText(event, keyAEKeyData, path, pathLength);
    MessageEvent_CloseRecord(event);
  }
  MessageEvent_CloseList(event);
  if (m->encoding != kEncodingServiceDefault) {
    const SInt16 encoding = EmailerEncoding(m->encoding);
    MessageEvent_WriteKeyDesc(event, FourCC("ENCD"), typeSInt16, &encoding, sizeof encoding);
  }
  MessageEvent_WriteKeyDesc(event, FourCC("COMP"), m->stuffit ? typeTrue : typeFalse, nullptr, 0);
}

SInt32 SendEmailerMessage(const ProcessSerialNumber *process, const EmailClientMessage *m) {
  MessageEvent event;
  if (MessageEvent_Start(&event, kEmailerClass, kEmailerCreateMail, process) != noErr) return event.status;
  if (m->bodyLength != 0) MessageEvent_WriteKeyText(&event, FourCC("BODY"), m->body, m->bodyLength);
  if (m->subjectLength != 0) MessageEvent_WriteKeyText(&event, FourCC("SUBJ"), m->subject, m->subjectLength);
  MessageEvent_WriteKey(&event, FourCC("RECP"));
  MessageEvent_OpenList(&event);
  MessageEvent_Keep(&event, SendEmailerRecipients(&event, kEmailerTo, m->to, m->toLength));
  MessageEvent_Keep(&event, SendEmailerRecipients(&event, kEmailerCc, m->cc, m->ccLength));
  MessageEvent_Keep(&event, SendEmailerRecipients(&event, kEmailerBcc, m->bcc, m->bccLength));
  MessageEvent_CloseList(&event);
  if (m->attachmentsLength != 0) WriteEmailerAttachments(&event, m);
  if (m->queue) MessageEvent_WriteKeyDesc(&event, FourCC("SAVE"), typeTrue, nullptr, 0);
  return MessageEvent_Send(&event, kSendNoReply, nullptr);
}

}  // namespace

void StartAttachmentWalk(AttachmentWalk *walk, const char *text, UInt32 length) {
  walk->next = length != 0 ? text : nullptr;
  walk->end = length != 0 ? text + length : nullptr;
}

Boolean NextAttachmentItem(AttachmentWalk *walk, const char **item, UInt32 *length) {
  const char *start = walk->next;
  if (start == nullptr) return false;
  const char *stop = start;
  while (stop < walk->end && *stop != '\r') stop++;
  *item = start;
  *length = UInt32(stop - start);
  // A CR as the very last byte ends the last item without starting another.
  walk->next = walk->end - stop > 1 ? stop + 1 : nullptr;
  return true;
}

void ClearEmailClientMessage(EmailClientMessage *message) {
  message->bodyLength = 0;
  message->subjectLength = 0;
  message->toLength = 0;
  message->ccLength = 0;
  message->bccLength = 0;
  message->attachmentsLength = 0;
  message->accountLength = 0;
  message->encoding = kEncodingServiceDefault;
  message->stuffit = false;
  message->queue = false;
  message->html = false;
}

SInt32 SendEmailClientMessage(const EmailClientConnection *connection, const EmailClientMessage *message) {
  // Checked before the first event: most clients are sent a new message or window first and
  // its texts after it, and a text that cannot follow would leave an empty draft behind.
  if (!MessageFitsEvents(message)) return errAEBufferTooSmall;
  const ProcessSerialNumber *process = &connection->process;
  switch (connection->signature) {
    case kEudoraCreator:
      return SendEudoraMessage(process, message);
    case kMailsmithCreator:
      return SendMailsmithMessage(process, message);
    case kEmailerCreator:
      return SendEmailerMessage(process, message);
    case kPowerMailCreator:
      return SendPowerMailMessage(process, message);
    case kQuickMailCreator:
      return SendQuickMailMessage(process, message);
    case kOutlookExpressCreator:
    case kEntourageCreator:
      return SendOutlookEntourageMessage(process, message, connection->signature, &connection->popAccounts,
                                         &connection->imapAccounts);
    case kMailAppCreator:
      return SendMailAppMessage(process, message, connection->accounts, connection->accountCount);
    default:
      return unknownClientErr;
  }
}
