// PowerMail: the stand-in for CTM Development PowerMail, creator 'Cmlt'. Its object model is
// the accounts of the accounts file ('acct', by index) and the messages it made ('msg ', by
// unique ID). A whole message arrives in one event, 'core'/'crel' with 'kocl' 'msg ' and
// 'prdt' a record of:
//   'ctnt', 'subj'  texts (either may be missing)
//   'rcpt'          a list of records {'addr': "Name <address>" or the address alone,
//                   'rtyp': '!to ', '!cc ' or '!bcc'}
//   'cAtc'          a list of records {'file': path, 'Encd': 'eBnH' BinHex, 'eB64' Base64,
//                   'eUUE' UUEncode, 'eApD' AppleDouble, 'eNoE' or none: PowerMail's default,
//                   Base64; 'Comp': 'eStC' compression asked for (recorded, not performed)}
//   'acct'          the sending account's name, exactly; a name no account has answers
//                   errAENoSuchObject and nothing is written
//   'stts'          'wait': the message is queued (written to the outbox); otherwise it is a
//                   draft (written to drafts), and the answer is its specifier, which
//                   'aevt'/'odoc' then opens for the user
// A file that cannot be read answers its error and nothing is written; when no one waits for
// the answer, the message is kept in drafts without it (MailClientWriteKeeping).
// 'core'/'getd' answers the name ('pnam') of account n or of every account.
#include <MacErrors.h>

#include <string>
#include <vector>

#include "apps/kit/StandInApp.h"
#include "apps/mailstore/MailAddress.h"
#include "apps/mailstore/MailClient.h"
#include "apps/mailstore/MailEvents.h"

namespace {

constexpr OSType kCreator = FourCC("Cmlt");
constexpr DescType cMessage = FourCC("msg ");
constexpr DescType cAccount = FourCC("acct");
constexpr AEKeyword keyContent = FourCC("ctnt");
constexpr AEKeyword keySubject = FourCC("subj");
constexpr AEKeyword keyRecipients = FourCC("rcpt");
constexpr AEKeyword keyAddress = FourCC("addr");
constexpr AEKeyword keyRecipientType = FourCC("rtyp");
constexpr AEKeyword keyAttachments = FourCC("cAtc");
constexpr AEKeyword keyFile = FourCC("file");
constexpr AEKeyword keyEncoding = FourCC("Encd");
constexpr AEKeyword keyCompression = FourCC("Comp");
constexpr AEKeyword keyAccount = FourCC("acct");
constexpr AEKeyword keyStatus = FourCC("stts");
constexpr OSType kWaiting = FourCC("wait");

struct PowerMail {
  standin::StandInApp *app = nullptr;
  MailClient client;
  SInt32 lastID = 0;  // messages are numbered from 1 in the order they were made
};

AttachmentEncoding EncodingOf(OSType code) {
  if (code == FourCC("eBnH")) return AttachmentEncoding::binHex;
  if (code == FourCC("eUUE")) return AttachmentEncoding::uuencode;
  if (code == FourCC("eApD")) return AttachmentEncoding::appleDouble;
  return AttachmentEncoding::base64;
}

OSErr OptionalKeyText(const AERecord &record, AEKeyword key, std::string *text) {
  OSErr err = GetKeyUTF8(record, key, text);
  return err == errAEDescNotFound ? OSErr(noErr) : err;
}

OSErr AddRecipient(const AEDesc &record, MailMessage *message) {
  std::string address;
  OSType kind = 0;
  OSErr err = GetKeyUTF8(record, keyAddress, &address);
  if (err == noErr) err = GetKeyCode(record, keyRecipientType, &kind);
  std::vector<MailAddress> *list = err == noErr ? RecipientList(*message, kind) : nullptr;
  if (err == noErr && !list) err = errAEWrongDataType;
  if (err == noErr) list->push_back(ParseMailbox(address));
  return err;
}

OSErr AddAttachment(const AEDesc &record, MailMessage *message) {
  std::string path;
  OSType code = 0;
  OSErr err = GetKeyUTF8(record, keyFile, &path);
  if (err != noErr) return err;
  message->attachments.push_back(std::move(path));
  if (GetKeyCode(record, keyEncoding, &code) == noErr) message->encoding = EncodingOf(code);
  if (GetKeyCode(record, keyCompression, &code) == noErr && code == FourCC("eStC"))
    message->compression = "StuffIt";
  return noErr;
}

// Calls read with each item of the list under key; a missing key has no items.
OSErr ForEachKeyItem(const AERecord &record, AEKeyword key,
                     const std::function<OSErr(const AEDesc &)> &read) {
  OwnedDesc list;
  OSErr err = AEGetKeyDesc(&record, key, typeAEList, list.get());
  if (err == errAEDescNotFound) return noErr;
  return err != noErr ? err : ForEachListItem(*list, read);
}

OSErr ReadMessage(const AERecord &properties, MailMessage *message, bool *queue) {
  OSErr err = OptionalKeyText(properties, keyContent, &message->body);
  if (err == noErr) err = OptionalKeyText(properties, keySubject, &message->subject);
  if (err == noErr) err = OptionalKeyText(properties, keyAccount, &message->account);
  if (err == noErr)
    err = ForEachKeyItem(properties, keyRecipients,
                         [message](const AEDesc &item) { return AddRecipient(item, message); });
  if (err == noErr)
    err = ForEachKeyItem(properties, keyAttachments,
                         [message](const AEDesc &item) { return AddAttachment(item, message); });
  OSType status = 0;
  *queue = GetKeyCode(properties, keyStatus, &status) == noErr && status == kWaiting;
  return err;
}

OSErr Write(PowerMail &powerMail, MailMessage message, MailFolder folder, AppleEvent &reply) {
  if (WantsReply(reply)) {
    OSErr err = MailClientWrite(powerMail.client, message, folder);
    if (err == errAENoSuchObject)
      standin::PutTextParam(reply, keyErrorString, "no account named " + message.account);
    return err;
  }
  std::vector<UnreadAttachment> unread;
  std::string account = message.account;
  OSErr err = MailClientWriteKeeping(powerMail.client, std::move(message), folder, &unread);
  for (const UnreadAttachment &file : unread) powerMail.app->Journal("# " + UnreadAttachmentText(file));
  LogUnreadAttachments("PowerMail", unread);
  LogWriteFailure("PowerMail", account, err);
  return err;
}

OSErr Create(PowerMail &powerMail, const AppleEvent &event, AppleEvent &reply) {
  DescType kind = 0, type;
  Size size;
  OwnedDesc properties;
  OSErr err = AEGetParamPtr(&event, keyAEObjectClass, typeType, &type, &kind, sizeof kind, &size);
  if (err == noErr && kind != cMessage) err = errAECantHandleClass;
  if (err == noErr) err = AEGetParamDesc(&event, keyAEPropData, typeAERecord, properties.get());
  MailMessage message;
  bool queue = false;
  if (err == noErr) err = ReadMessage(*properties, &message, &queue);
  if (err == noErr)
    err = Write(powerMail, std::move(message), queue ? MailFolder::outbox : MailFolder::drafts, reply);
  if (err != noErr) return err;
  SInt32 id = ++powerMail.lastID;
  if (!WantsReply(reply)) return noErr;
  OwnedDesc specifier;
  err = MakeIDSpecifier(cMessage, id, specifier.get());
  return err != noErr ? err : AEPutParamDesc(&reply, keyDirectObject, specifier.get());
}

// Opening a message puts it in a window for the user: here, a line in the journal.
OSErr Open(PowerMail &powerMail, const AppleEvent &event, AppleEvent &) {
  OwnedDesc direct;
  SInt32 id = 0;
  OSErr err = AEGetParamDesc(&event, keyDirectObject, typeWildCard, direct.get());
  if (err == noErr) err = IDOfSpecifier(*direct, cMessage, &id);
  if (err == noErr && (id < 1 || id > powerMail.lastID)) err = errAENoSuchObject;
  if (err == noErr) powerMail.app->Journal("# opened message " + std::to_string(id));
  return err;
}

// 'pnam' of obj(form 'indx', want 'acct', seld n or all).
OSErr GetData(PowerMail &powerMail, const AppleEvent &event, AppleEvent &reply) {
  OwnedDesc direct;
  ObjectParts parts, accountParts;
  OSType property = 0;
  OSErr err = AEGetParamDesc(&event, keyDirectObject, typeWildCard, direct.get());
  if (err == noErr) err = ReadObjectSpecifier(*direct, &parts);
  if (err == noErr) err = PropertyOf(parts, &property);
  if (err == noErr) err = ReadObjectSpecifier(*parts.from, &accountParts);
  if (err == noErr && (property != pName || accountParts.want != cAccount)) err = errAENoSuchObject;
  if (err != noErr) return err;
  std::vector<std::string> names;
  for (const MailAccount &account : powerMail.client.config.accounts) names.push_back(account.name);
  return AnswerIndexedNames(accountParts, names, reply);
}

void InstallHandlers(standin::StandInApp &app, PowerMail &powerMail) {
  powerMail.app = &app;
  OpenMailClient(app.DataFolder(), {}, &powerMail.client);
  app.InstallEventHandler(kAECoreSuite, kAECreateElement, powerMail, Create);
  app.InstallEventHandler(kAECoreSuite, kAEGetData, powerMail, GetData);
  app.InstallEventHandler(kCoreEventClass, kAEOpenDocuments, powerMail, Open);
}

}  // namespace

int main(int argc, char **argv) {
  PowerMail powerMail;
  int status =
      standin::StandInMain(argc, argv, kCreator, "PowerMail",
                           [&powerMail](standin::StandInApp &app) { InstallHandlers(app, powerMail); });
  CloseMailClient(&powerMail.client);
  return status;
}
