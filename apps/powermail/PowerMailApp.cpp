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

OSErr ReadMessage(const AERecord &properties, MailMessage *message, bool *queue) {
  OSErr err = GetOptionalKeyUTF8(properties, keyContent, &message->body);
  if (err == noErr) err = GetOptionalKeyUTF8(properties, keySubject, &message->subject);
  if (err == noErr) err = GetOptionalKeyUTF8(properties, keyAccount, &message->account);
  if (err == noErr)
    err = ForEachKeyItem(properties, keyRecipients,
                         [message](const AEDesc &item) { return AddTypedRecipient(item, message); });
  if (err == noErr)
    err = ForEachKeyItem(properties, keyAttachments,
                         [message](const AEDesc &item) { return AddAttachment(item, message); });
  OSType status = 0;
  *queue = GetKeyCode(properties, keyStatus, &status) == noErr && status == kWaiting;
  return err;
}

OSErr Write(PowerMail &powerMail, MailMessage message, MailFolder folder, AppleEvent &reply) {
  std::string account = message.account;
  OSErr err =
      MailClientWriteFor(powerMail.client, "PowerMail", std::move(message), folder, WantsReply(reply),
                         [&powerMail](const std::string &line) { powerMail.app->Journal("# " + line); });
  if (err == errAENoSuchObject && WantsReply(reply))
    standin::PutTextParam(reply, keyErrorString, "no account named " + account);
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
  SInt32 id = 0;
  OSErr err = DirectObjectID(event, cMessage, powerMail.lastID, &id);
  if (err == noErr) powerMail.app->Journal("# opened message " + std::to_string(id));
  return err;
}

// 'pnam' of obj(form 'indx', want 'acct', seld n or all).
OSErr GetData(PowerMail &powerMail, const AppleEvent &event, AppleEvent &reply) {
  ObjectParts accounts;
  OSType property = 0;
  OSErr err = ReadPropertyQuestion(event, &property, &accounts);
  if (err == noErr && (property != pName || accounts.want != cAccount)) err = errAENoSuchObject;
  if (err != noErr) return err;
  std::vector<std::string> names;
  for (const MailAccount &account : powerMail.client.config.accounts) names.push_back(account.name);
  return AnswerIndexedNames(accounts, names, reply);
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
