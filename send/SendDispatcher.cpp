#include "send/SendDispatcher.h"

#include "clients/ClientConnection.h"
#include "clients/EmailClients.h"
#include "send/FieldSenders.h"

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

// ---- Eudora --------------------------------------------------------------------------

// 'core'/'crel' of a new message at the end of the mailbox "out"; *object receives the
// reply's direct parameter, the new message's object specifier (caller disposes).
SInt32 CreateEudoraMessage(const ProcessSerialNumber *process, AEDesc *object) {
  AEStream stream;
  SInt32 status = CreateClientEvent(&stream, kAECoreSuite, kAECreateElement, process);
  if (status != noErr) return status;
  const DescType end = kAEEnd;
  const DescType messageClass = kEudoraMessage;
  AEStream_WriteKey(&stream, keyAEInsertHere);
  AEStream_OpenRecord(&stream, typeInsertionLoc);
  AEStream_WriteKey(&stream, keyAEObject);
  WriteObjectSpecifier(&stream, formName, kEudoraMailbox, typeChar, "out", 3, nullptr);
  AEStream_WriteKeyDesc(&stream, keyAEPosition, typeEnumerated, &end, sizeof end);
  AEStream_CloseRecord(&stream);
  AEStream_WriteKeyDesc(&stream, keyAEObjectClass, typeType, &messageClass, sizeof messageClass);
  AppleEvent reply;
  status = CloseAndSendClientEvent(&stream, kSendWaitReply, &reply);
  if (status != noErr) return status;
  // Without the new message's specifier every later event would address nothing.
  status = AEGetParamDesc(&reply, keyDirectObject, typeWildCard, object);
  AEDisposeDesc(&reply);
  return status;
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
  AEStream stream;
  SInt32 status = CreateClientEvent(&stream, kEudoraClass, kEudoraAttach, process);
  if (status != noErr) return status;
  AEStream_WriteKey(&stream, keyDirectObject);
  AEStream_WriteAEDesc(&stream, object);
  AEStream_WriteKey(&stream, kEudoraDocumentList);
  AEStream_OpenList(&stream);
  AttachmentWalk walk;
  StartAttachmentWalk(&walk, m->attachments, m->attachmentsLength);
  const char *path = nullptr;
  UInt32 pathLength = 0;
  while (NextAttachmentItem(&walk, &path, &pathLength)) {
    WriteObjectSpecifier(&stream, formName, typeAlias, typeChar, path, Size(pathLength), nullptr);
  }
  AEStream_CloseList(&stream);
  status = CloseAndSendClientEvent(&stream, kSendNoReply, nullptr);
  if (status != noErr || m->encoding == kEncodingServiceDefault) return status;

  status = CreateClientEvent(&stream, kAECoreSuite, kAESetData, process);
  if (status != noErr) return status;
  const DescType property = kEudoraAttachmentType;
  const SInt16 type = EudoraAttachmentType(m->encoding);
  AEStream_WriteKey(&stream, keyDirectObject);
  WriteObjectSpecifier(&stream, formPropertyID, typeProperty, typeType, &property, sizeof property, object);
  AEStream_WriteKeyDesc(&stream, keyAEData, typeSInt16, &type, sizeof type);
  return CloseAndSendClientEvent(&stream, kSendNoReply, nullptr);
}

// The message's personality becomes the personality of the account's name.
SInt32 SendEudoraPersonality(const AEDesc *object, const ProcessSerialNumber *process,
                             const EmailClientMessage *m) {
  AEStream stream;
  SInt32 status = CreateClientEvent(&stream, kAECoreSuite, kAESetData, process);
  if (status != noErr) return status;
  const DescType property = kEudoraPersonality;
  AEStream_WriteKey(&stream, keyDirectObject);
  WriteObjectSpecifier(&stream, formPropertyID, typeProperty, typeType, &property, sizeof property, object);
  AEStream_WriteKey(&stream, keyAEData);
  WriteObjectSpecifier(&stream, formName, kEudoraPersonality, typeChar, m->account, Size(m->accountLength),
                       nullptr);
  return CloseAndSendClientEvent(&stream, kSendNoReply, nullptr);
}

// Sends '----' = a copy of the object, and nothing else, with the given mode.
SInt32 SendObjectEvent(AEEventClass eventClass, AEEventID eventID, const AEDesc *object,
                       const ProcessSerialNumber *process, AESendMode mode) {
  AEStream stream;
  SInt32 status = CreateClientEvent(&stream, eventClass, eventID, process);
  if (status != noErr) return status;
  AEStream_WriteKey(&stream, keyDirectObject);
  AEStream_WriteAEDesc(&stream, object);
  AppleEvent reply;
  status = CloseAndSendClientEvent(&stream, mode, &reply);
  if (status == noErr) AEDisposeDesc(&reply);
  return status;
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
  AEStream stream;
  SInt32 status = CreateClientEvent(&stream, kAECoreSuite, kAECreateElement, process);
  if (status != noErr) return status;
  const DescType windowClass = kMailsmithWindow;
  AEStream_WriteKeyDesc(&stream, keyAEObjectClass, typeType, &windowClass, sizeof windowClass);
  AppleEvent reply;
  status = CloseAndSendClientEvent(&stream, kSendWaitReply, &reply);
  if (status != noErr) return status;
  status = AEGetParamDesc(&reply, keyDirectObject, typeWildCard, window);
  AEDisposeDesc(&reply);
  return status;
}

DescType MailsmithEncoding(UInt32 encoding) {
  switch (encoding) {
    case kEncodingServiceDefault:
      return 0;
    case kEncodingBinHex:
      return FourCC("eHQX");
    case kEncodingBase64:
      return FourCC("eB64");
    case kEncodingUUEncode:
      return FourCC("eUUc");
    case kEncodingAppleSingle:
      return FourCC("eApS");
    default:
      return FourCC("eApD");  // No Encoding, AppleDouble and anything larger
  }
}

SInt32 SendMailsmithEnclosures(const AEDesc *window, const ProcessSerialNumber *process,
                               const EmailClientMessage *m) {
  const DescType encoding = MailsmithEncoding(m->encoding);
  const DescType enclosureClass = kMailsmithEnclosure;
  AttachmentWalk walk;
  StartAttachmentWalk(&walk, m->attachments, m->attachmentsLength);
  const char *path = nullptr;
  UInt32 pathLength = 0;
  SInt32 status = noErr;
  while (status == noErr && NextAttachmentItem(&walk, &path, &pathLength)) {
    AEStream stream;
    status = CreateClientEvent(&stream, kAECoreSuite, kAECreateElement, process);
    if (status != noErr) break;
    AEStream_WriteKeyDesc(&stream, keyAEObjectClass, typeType, &enclosureClass, sizeof enclosureClass);
    AEStream_WriteKey(&stream, keyAEInsertHere);
    AEStream_WriteAEDesc(&stream, window);
    AEStream_WriteKey(&stream, keyAEPropData);
    AEStream_OpenRecord(&stream, typeAERecord);
    AEStream_WriteKeyDesc(&stream, FourCC("file"), typeChar, path, Size(pathLength));
    if (encoding != 0)
      AEStream_WriteKeyDesc(&stream, FourCC("Encd"), typeEnumerated, &encoding, sizeof encoding);
    AEStream_CloseRecord(&stream);
    status = CloseAndSendClientEvent(&stream, kSendNoReply, nullptr);
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

void WriteEmailerAttachments(AEStream *stream, const EmailClientMessage *m) {
  const DescType form = formName;
  const DescType want = FourCC("file");
  AEStream_WriteKey(stream, FourCC("FILE"));
  AEStream_OpenList(stream);
  AttachmentWalk walk;
  StartAttachmentWalk(&walk, m->attachments, m->attachmentsLength);
  const char *path = nullptr;
  UInt32 pathLength = 0;
  while (NextAttachmentItem(&walk, &path, &pathLength)) {
    AEStream_OpenRecord(stream, typeObjectSpecifier);  // no 'from' key in this dialect
    AEStream_WriteKeyDesc(stream, keyAEKeyForm, typeEnumerated, &form, sizeof form);
    AEStream_WriteKeyDesc(stream, keyAEDesiredClass, typeType, &want, sizeof want);
    AEStream_WriteKeyDesc(stream, keyAEKeyData, typeChar, path, Size(pathLength));
    AEStream_CloseRecord(stream);
  }
  AEStream_CloseList(stream);
  if (m->encoding != kEncodingServiceDefault) {
    const SInt16 encoding = EmailerEncoding(m->encoding);
    AEStream_WriteKeyDesc(stream, FourCC("ENCD"), typeSInt16, &encoding, sizeof encoding);
  }
  AEStream_WriteKeyDesc(stream, FourCC("COMP"), m->stuffit ? typeTrue : typeFalse, nullptr, 0);
}

SInt32 SendEmailerMessage(const ProcessSerialNumber *process, const EmailClientMessage *m) {
  AEStream stream;
  SInt32 status = CreateClientEvent(&stream, kEmailerClass, kEmailerCreateMail, process);
  if (status != noErr) return status;
  if (m->bodyLength != 0)
    AEStream_WriteKeyDesc(&stream, FourCC("BODY"), typeChar, m->body, Size(m->bodyLength));
  if (m->subjectLength != 0) {
    AEStream_WriteKeyDesc(&stream, FourCC("SUBJ"), typeChar, m->subject, Size(m->subjectLength));
  }
  AEStream_WriteKey(&stream, FourCC("RECP"));
  AEStream_OpenList(&stream);
  status = SendEmailerRecipients(&stream, kEmailerTo, m->to, m->toLength);
  if (status == noErr) status = SendEmailerRecipients(&stream, kEmailerCc, m->cc, m->ccLength);
  if (status == noErr) status = SendEmailerRecipients(&stream, kEmailerBcc, m->bcc, m->bccLength);
  if (status != noErr) {
    AEStream_Dispose(&stream);
    return status;
  }
  AEStream_CloseList(&stream);
  if (m->attachmentsLength != 0) WriteEmailerAttachments(&stream, m);
  if (m->queue) AEStream_WriteKeyDesc(&stream, FourCC("SAVE"), typeTrue, nullptr, 0);
  return CloseAndSendClientEvent(&stream, kSendNoReply, nullptr);
}

}  // namespace

// ---- Shared by the senders -------------------------------------------------------------

OSErr SendEmailClientEventNow(const AppleEvent *event, AppleEvent *reply, AESendMode sendMode) {
  return AESend(event, reply, sendMode, kAENormalPriority, kEmailClientTimeout, nullptr, nullptr);
}

EmailClientSendProc emailClientSend = SendEmailClientEventNow;

SInt32 CreateClientEvent(AEStream *stream, AEEventClass eventClass, AEEventID eventID,
                         const ProcessSerialNumber *process) {
  return AEStream_CreateEvent(stream, eventClass, eventID, typeProcessSerialNumber, process,
                              sizeof(ProcessSerialNumber), kAutoGenerateReturnID, kAnyTransactionID);
}

SInt32 CloseAndSendClientEvent(AEStream *stream, AESendMode sendMode, AppleEvent *reply) {
  AppleEvent event;
  AEInitializeDesc(&event);
  AppleEvent unwanted;
  if (reply == nullptr) reply = &unwanted;
  AEInitializeDesc(reply);
  SInt32 status = AEStream_Close(stream, &event);
  if (status == noErr) status = emailClientSend(&event, reply, sendMode);
  AEDisposeDesc(&event);
  if (status != noErr || reply == &unwanted) AEDisposeDesc(reply);
  return status;
}

void WriteObjectSpecifier(AEStream *stream, DescType form, DescType want, DescType seldType, const void *seld,
                          Size seldSize, const AEDesc *from) {
  AEStream_OpenRecord(stream, typeObjectSpecifier);
  AEStream_WriteKeyDesc(stream, keyAEKeyForm, typeEnumerated, &form, sizeof form);
  AEStream_WriteKeyDesc(stream, keyAEDesiredClass, typeType, &want, sizeof want);
  AEStream_WriteKeyDesc(stream, keyAEKeyData, seldType, seld, seldSize);
  if (from == nullptr) {
    AEStream_WriteKeyDesc(stream, keyAEContainer, typeNull, nullptr, 0);
  } else {
    AEStream_WriteKey(stream, keyAEContainer);
    AEStream_WriteAEDesc(stream, from);
  }
  AEStream_CloseRecord(stream);
}

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
  const ProcessSerialNumber *process = &connection->process;
  switch (connection->signature) {
    case kEudoraCreator:
      return SendEudoraMessage(process, message);
    case kMailsmithCreator:
      return SendMailsmithMessage(process, message);
    case kEmailerCreator:
      return SendEmailerMessage(process, message);
    case kPowerMailCreator:
    case kQuickMailCreator:
    case kOutlookExpressCreator:
    case kEntourageCreator:
    case kMailAppCreator:
      return senderNotAvailableErr;
    default:
      return unknownClientErr;
  }
}
