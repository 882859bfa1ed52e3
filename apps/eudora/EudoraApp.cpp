// Eudora: the stand-in for Qualcomm Eudora, creator 'CSOm'. Its object model is the
// mailbox "out" with its messages ('euMS', by index), each message's named fields ('euFd':
// "" the body, "subject", "to", "cc", "bcc"), the personalities of the accounts file
// ('euPr', by index and by name) and the numbered settings ('ePrf'). Events:
//   'core'/'crel'  a new message at the end of mailbox "out"; answers its specifier
//   'core'/'setd'  a message field, the message's attachment type ('eATy', 0-3) or
//                  personality ('euPr'), or a setting (as text)
//   'core'/'getd'  a setting, a message field, or the name ('pnam') of personality n
//                  (past the last: an answer without a direct parameter) or of all
//   'CSOm'/'eAtc'  attaches the files of the list in 'eDcl' (fnfErr, and nothing attached,
//                  when one is missing)
//   'CSOm'/'eQue'  queues the message: it is written to the outbox; when an attached file can
//                  no longer be read and the sender does not wait, the message goes to
//                  drafts without it (MailClientWriteKeeping)
// Messages still not queued when Eudora quits are kept as drafts, likewise.
#include <MacErrors.h>

#include <map>
#include <vector>

#include "apps/kit/StandInApp.h"
#include "apps/mailstore/MailAddress.h"
#include "apps/mailstore/MailClient.h"
#include "apps/mailstore/MailEvents.h"

namespace {

constexpr OSType kCreator = FourCC("CSOm");
constexpr DescType cMessage = FourCC("euMS");
constexpr DescType cMailbox = FourCC("euMB");
constexpr DescType cField = FourCC("euFd");
constexpr DescType cPersonality = FourCC("euPr");
constexpr DescType cSetting = FourCC("ePrf");
constexpr DescType pAttachmentType = FourCC("eATy");
constexpr AEEventID kAttach = FourCC("eAtc");
constexpr AEEventID kQueue = FourCC("eQue");
constexpr AEKeyword keyFileList = FourCC("eDcl");
constexpr const char *kOutMailbox = "out";
// Settings a new accounts file starts with.
constexpr const char *kDefaultSettings = "setting 169 = y\n";

struct EudoraMessage {
  MailMessage mail;
  SInt16 attachmentType = 0;
  bool queued = false;  // then written, and its texts released
};

struct Eudora {
  MailClient client;
  std::vector<EudoraMessage> out;  // mailbox "out"; message n is out[n - 1]
  std::map<SInt32, std::string> settings;
};

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Mailbox "out" is the only one; a null container means it too.
OSErr ResolveMailbox(const AEDesc &specifier) {
  if (specifier.descriptorType == typeNull) return noErr;
  ObjectParts parts;
  std::string name;
  OSErr err = ReadObjectSpecifier(specifier, &parts);
  if (err == noErr && (parts.want != cMailbox || parts.form != formName)) err = errAENoSuchObject;
  if (err == noErr) err = DescToUTF8(*parts.seld, &name);
  return err != noErr ? err : SameText(name, kOutMailbox) ? OSErr(noErr) : OSErr(errAENoSuchObject);
}

OSErr ResolveMessage(Eudora &eudora, const AEDesc &specifier, EudoraMessage **message) {
  ObjectParts parts;
  long index = 0;
  bool all = false;
  OSErr err = ReadObjectSpecifier(specifier, &parts);
  if (err == noErr && (parts.want != cMessage || parts.form != formAbsolutePosition)) err = errAENoSuchObject;
  if (err == noErr) err = ResolveMailbox(*parts.from);
  if (err == noErr) err = ReadIndexSelector(*parts.seld, static_cast<long>(eudora.out.size()), &index, &all);
  if (err == noErr && all) err = errAENoSuchObject;
  if (err == noErr) *message = &eudora.out[static_cast<size_t>(index - 1)];
  return err == errAEIllegalIndex ? OSErr(errAENoSuchObject) : err;
}

OSErr ResolveDirectMessage(Eudora &eudora, const AppleEvent &event, EudoraMessage **message) {
  OwnedDesc specifier;
  OSErr err = AEGetParamDesc(&event, keyDirectObject, typeWildCard, specifier.get());
  return err != noErr ? err : ResolveMessage(eudora, *specifier, message);
}

OSErr MessageSpecifier(long index, AEDesc *result) {
  OwnedDesc mailbox;
  OSErr err = MakeObjectSpecifier(formName, cMailbox, typeChar, kOutMailbox, 3, nullptr, mailbox.get());
  SInt32 number = static_cast<SInt32>(index);
  return err != noErr ? err
                      : MakeObjectSpecifier(formAbsolutePosition, cMessage, typeSInt32, &number,
                                            sizeof number, mailbox.get(), result);
}

// 'insh' is an insertion location {kobj: mailbox "out", kpos: end} or the mailbox alone.
OSErr CheckInsertion(const AppleEvent &event) {
  OwnedDesc location;
  OSErr err = AEGetParamDesc(&event, keyAEInsertHere, typeWildCard, location.get());
  if (err == errAEDescNotFound) return noErr;
  if (err != noErr || location.type() != typeInsertionLoc)
    return err != noErr ? err : ResolveMailbox(*location);
  OwnedDesc mailbox;
  OSType position = kAEEnd;
  err = AEGetKeyDesc(location.get(), keyAEObject, typeWildCard, mailbox.get());
  if (err == noErr) err = ResolveMailbox(*mailbox);
  if (err == noErr && GetKeyCode(*location, keyAEPosition, &position) == noErr && position != kAEEnd &&
      position != FourCC("bgng"))
    err = errAEEventNotHandled;  // before or after a message: not in this stand-in
  return err;
}

OSErr CreateMessage(Eudora &eudora, const AppleEvent &event, AppleEvent &reply) {
  DescType kind = 0, type;
  Size size;
  OSErr err = AEGetParamPtr(&event, keyAEObjectClass, typeType, &type, &kind, sizeof kind, &size);
  if (err == noErr && kind != cMessage) err = errAECantHandleClass;
  if (err == noErr) err = CheckInsertion(event);
  if (err != noErr) return err;
  eudora.out.emplace_back();
  if (!WantsReply(reply)) return noErr;
  OwnedDesc specifier;
  err = MessageSpecifier(static_cast<long>(eudora.out.size()), specifier.get());
  return err != noErr ? err : AEPutParamDesc(&reply, keyDirectObject, specifier.get());
}

std::string *TextField(MailMessage &mail, const std::string &name) {
  if (name.empty()) return &mail.body;
  if (SameText(name, "subject")) return &mail.subject;
  return nullptr;
}

std::vector<MailAddress> *RecipientField(MailMessage &mail, const std::string &name) {
  if (SameText(name, "to")) return &mail.to;
  if (SameText(name, "cc")) return &mail.cc;
  if (SameText(name, "bcc")) return &mail.bcc;
  return nullptr;
}

OSErr ResolveField(Eudora &eudora, const ObjectParts &parts, MailMessage **mail, std::string *name) {
  EudoraMessage *message = nullptr;
  OSErr err = ResolveMessage(eudora, *parts.from, &message);
  if (err == noErr) err = DescToUTF8(*parts.seld, name);
  if (err == noErr && message->queued) err = errAENotModifiable;
  if (err == noErr) *mail = &message->mail;
  return err;
}

OSErr SetField(Eudora &eudora, const ObjectParts &parts, const AppleEvent &event) {
  MailMessage *mail = nullptr;
  std::string name, value;
  OSErr err = ResolveField(eudora, parts, &mail, &name);
  if (err == noErr) err = GetParamUTF8(event, keyAEData, &value);
  if (err != noErr) return err;
  if (std::string *text = TextField(*mail, name))
    *text = std::move(value);
  else if (std::vector<MailAddress> *list = RecipientField(*mail, name))
    *list = ParseAddressList(value);
  else
    return errAENoSuchObject;
  return noErr;
}

// The personality named in 'data': obj(form 'name', want 'euPr', seld name) or the name.
OSErr PersonalityName(const AppleEvent &event, std::string *name) {
  OwnedDesc data;
  OSErr err = AEGetParamDesc(&event, keyAEData, typeWildCard, data.get());
  if (err != noErr || data.type() != typeObjectSpecifier) return err != noErr ? err : DescToUTF8(*data, name);
  ObjectParts parts;
  err = ReadObjectSpecifier(*data, &parts);
  if (err == noErr && (parts.want != cPersonality || parts.form != formName)) err = errAENoSuchObject;
  return err != noErr ? err : DescToUTF8(*parts.seld, name);
}

OSErr SetMessageProperty(Eudora &eudora, const ObjectParts &parts, const AppleEvent &event) {
  OSType property = 0;
  EudoraMessage *message = nullptr;
  OSErr err = PropertyOf(parts, &property);
  if (err == noErr) err = ResolveMessage(eudora, *parts.from, &message);
  if (err == noErr && message->queued) err = errAENotModifiable;
  if (err != noErr) return err;
  if (property == pAttachmentType) {
    SInt32 type = 0;
    err = standin::GetLongParam(event, keyAEData, &type);
    if (err == noErr && (type < 0 || type > 3)) err = paramErr;
    if (err == noErr) message->attachmentType = static_cast<SInt16>(type);
    return err;
  }
  if (property != cPersonality) return errAENoSuchObject;
  std::string name;
  err = PersonalityName(event, &name);
  if (err != noErr) return err;
  // Kept even when unknown, so that the message is refused rather than sent from another.
  message->mail.account = name;
  return FindMailAccount(eudora.client.config, name) ? OSErr(noErr) : OSErr(errAENoSuchObject);
}

OSErr SettingNumber(const ObjectParts &parts, SInt32 *number) {
  if (parts.form != formAbsolutePosition || parts.from.type() != typeNull) return errAENoSuchObject;
  return DescToLong(*parts.seld, number);
}

OSErr SetData(Eudora &eudora, const AppleEvent &event, AppleEvent &) {
  OwnedDesc direct;
  ObjectParts parts;
  OSErr err = AEGetParamDesc(&event, keyDirectObject, typeWildCard, direct.get());
  if (err == noErr) err = ReadObjectSpecifier(*direct, &parts);
  if (err != noErr) return err;
  if (parts.want == cField && parts.form == formName) return SetField(eudora, parts, event);
  if (parts.form == formPropertyID) return SetMessageProperty(eudora, parts, event);
  if (parts.want != cSetting) return errAENoSuchObject;
  SInt32 number = 0;
  std::string value;
  err = SettingNumber(parts, &number);
  if (err == noErr) err = GetParamUTF8(event, keyAEData, &value);
  if (err == noErr) eudora.settings[number] = value;
  return err;
}

// 'pnam' of obj(form 'indx', want 'euPr', seld n or all): the name, or a list of all names.
// Past the last personality the answer carries no direct parameter, which ends a listing.
OSErr GetPersonalityNames(Eudora &eudora, const ObjectParts &property, AppleEvent &reply) {
  ObjectParts parts;
  OSErr err = ReadObjectSpecifier(*property.from, &parts);
  if (err == noErr && (parts.want != cPersonality || parts.form != formAbsolutePosition))
    err = errAENoSuchObject;
  if (err != noErr) return err;
  const std::vector<MailAccount> &accounts = eudora.client.config.accounts;
  long index = 0;
  bool all = false;
  err = ReadIndexSelector(*parts.seld, static_cast<long>(accounts.size()), &index, &all);
  if (err == errAEIllegalIndex) return noErr;
  if (err != noErr || !all) return err != noErr ? err : PutReplyText(reply, accounts[size_t(index - 1)].name);
  OwnedDesc list;
  err = AECreateList(nullptr, 0, false, list.get());
  for (size_t i = 0; err == noErr && i < accounts.size(); i++)
    err = AppendListText(list.get(), accounts[i].name);
  return err != noErr ? err : AEPutParamDesc(&reply, keyDirectObject, list.get());
}

OSErr GetData(Eudora &eudora, const AppleEvent &event, AppleEvent &reply) {
  OwnedDesc direct;
  ObjectParts parts;
  OSErr err = AEGetParamDesc(&event, keyDirectObject, typeWildCard, direct.get());
  if (err == noErr) err = ReadObjectSpecifier(*direct, &parts);
  if (err != noErr) return err;
  if (parts.want == cSetting) {
    SInt32 number = 0;
    err = SettingNumber(parts, &number);
    auto found = eudora.settings.find(number);
    return err != noErr ? err : PutReplyText(reply, found == eudora.settings.end() ? "" : found->second);
  }
  OSType property = 0;
  if (PropertyOf(parts, &property) == noErr && property == pName)
    return GetPersonalityNames(eudora, parts, reply);
  if (parts.want != cField || parts.form != formName) return errAENoSuchObject;
  MailMessage *mail = nullptr;
  std::string name;
  err = ResolveField(eudora, parts, &mail, &name);
  if (err != noErr) return err;
  if (std::string *text = TextField(*mail, name)) return PutReplyText(reply, *text);
  std::vector<MailAddress> *list = RecipientField(*mail, name);
  if (!list) return errAENoSuchObject;
  std::string joined;
  for (const MailAddress &mailbox : *list) joined += (joined.empty() ? "" : ", ") + FormatMailbox(mailbox);
  return PutReplyText(reply, joined);
}

OSErr Attach(Eudora &eudora, const AppleEvent &event, AppleEvent &reply) {
  EudoraMessage *message = nullptr;
  OwnedDesc files;
  OSErr err = ResolveDirectMessage(eudora, event, &message);
  if (err == noErr && message->queued) err = errAENotModifiable;
  if (err == noErr) err = AEGetParamDesc(&event, keyFileList, typeWildCard, files.get());
  if (err != noErr) return err;
  std::vector<std::string> paths;
  long count = 1;
  if (files.type() == typeAEList) err = AECountItems(files.get(), &count);
  for (long i = 1; err == noErr && i <= count; i++) {
    OwnedDesc item;
    std::string path;
    if (files.type() == typeAEList) err = AEGetNthDesc(files.get(), i, typeWildCard, nullptr, item.get());
    if (err == noErr) err = AttachmentItemPath(files.type() == typeAEList ? *item : *files, &path);
    if (err == noErr) err = CheckAttachmentPath(path);
    if (err != noErr && WantsReply(reply))
      standin::PutTextParam(reply, keyErrorString, "cannot attach " + path);
    paths.push_back(std::move(path));
  }
  if (err == noErr)
    message->mail.attachments.insert(message->mail.attachments.end(), paths.begin(), paths.end());
  return err;
}

// Writes a message that no one waits for, never dropping it for an attached file.
OSErr WriteKeeping(Eudora &eudora, const MailMessage &message, MailFolder folder) {
  return MailClientWriteFor(eudora.client, "Eudora", message, folder, false, {});
}

// Eudora's attachment types 0-3; 0, AppleDouble, is also what a message gets by default.
AttachmentEncoding EncodingOf(SInt16 attachmentType) {
  constexpr AttachmentEncoding kEncodings[] = {AttachmentEncoding::appleDouble,
                                               AttachmentEncoding::appleSingle, AttachmentEncoding::binHex,
                                               AttachmentEncoding::uuencode};
  return kEncodings[attachmentType & 3];
}

OSErr Queue(Eudora &eudora, const AppleEvent &event, AppleEvent &reply) {
  EudoraMessage *message = nullptr;
  OSErr err = ResolveDirectMessage(eudora, event, &message);
  if (err != noErr || message->queued) return err;
  message->mail.encoding = EncodingOf(message->attachmentType);
  if (WantsReply(reply)) {
    err = MailClientWrite(eudora.client, message->mail, MailFolder::outbox);
  } else {
    err = WriteKeeping(eudora, message->mail, MailFolder::outbox);
  }
  if (err != noErr) return err;
  message->queued = true;
  message->mail = MailMessage{};
  return noErr;
}

void InstallHandlers(standin::StandInApp &app, Eudora &eudora) {
  OpenMailClient(app.DataFolder(), kDefaultSettings, &eudora.client);
  for (const MailSetting &setting : eudora.client.config.settings)
    eudora.settings[setting.number] = setting.value;
  app.InstallEventHandler(kAECoreSuite, kAECreateElement, eudora, CreateMessage);
  app.InstallEventHandler(kAECoreSuite, kAESetData, eudora, SetData);
  app.InstallEventHandler(kAECoreSuite, kAEGetData, eudora, GetData);
  app.InstallEventHandler(kCreator, kAttach, eudora, Attach);
  app.InstallEventHandler(kCreator, kQueue, eudora, Queue);
}

}  // namespace

int main(int argc, char **argv) {
  Eudora eudora;
  int status = standin::StandInMain(argc, argv, kCreator, "Eudora",
                                    [&eudora](standin::StandInApp &app) { InstallHandlers(app, eudora); });
  for (EudoraMessage &message : eudora.out) {
    message.mail.encoding = EncodingOf(message.attachmentType);
    if (!message.queued) WriteKeeping(eudora, message.mail, MailFolder::drafts);
  }
  CloseMailClient(&eudora.client);
  return status;
}
