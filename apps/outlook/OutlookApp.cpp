// Outlook Express and Entourage: one stand-in for the two Microsoft clients, which share one
// vocabulary. Run under the name "Outlook Express" it is 'MSNM'; under any other (the
// executable is "Entourage") it is 'OPIM'. The build puts both names in apps/bin, so that
// each installs itself and runs with its own data folder and accounts.
//
// Its object model: the POP accounts ('popA': the "account" lines of the accounts file) and
// IMAP accounts ('impA': the "imap account" lines), each with its name ('pnam'), and the Out
// Box, where every message is made and waits to be sent. Events:
//   'core'/'getd'  the name of every POP or IMAP account, or of account n
//   'core'/'crel'  a new 'outm' in the Out Box, its 'prdt' a record of
//       'ctnt', 'subj'  texts; 'pHtm' true: the content is HTML
//       'rcpt'          a list of records {'addr': "address (Name)", "Name <address>" or the
//                       address alone; 'rtyp': '!to ', '!cc ' or '!bcc'}
//       'cAtc'          a list of file paths; 'Encd' 'eBnH' BinHex, 'eB64' Base64, 'eUUE'
//                       UUEncode, 'eApD' AppleDouble (also the default); 'Cmpr' 'cmSt':
//                       compression asked for (recorded, not performed)
//       'cAct'          obj(form 'name', want 'popA' or 'impA', seld name): the sending
//                       account, its name matched ignoring case among the accounts of that
//                       kind; none of that name answers errAENoSuchObject and nothing is written
//     The message is written to the outbox; the answer is its specifier.
//   'aevt'/'odoc'  opens a message of the Out Box in a window (a line in the journal)
// A file that cannot be read answers its error and nothing is written; when no one waits for
// the answer, the message is kept in drafts without it (MailClientWriteKeeping).
#include <MacErrors.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "apps/kit/StandInApp.h"
#include "apps/mailstore/MailAddress.h"
#include "apps/mailstore/MailClient.h"
#include "apps/mailstore/MailEvents.h"

namespace {

constexpr DescType cOutgoingMessage = FourCC("outm");
constexpr DescType cPOPAccount = FourCC("popA");
constexpr DescType cIMAPAccount = FourCC("impA");
constexpr DescType pOutBox = FourCC("pOtB");
constexpr AEKeyword keyContent = FourCC("ctnt");
constexpr AEKeyword keySubject = FourCC("subj");
constexpr AEKeyword keyRecipients = FourCC("rcpt");
constexpr AEKeyword keyAttachments = FourCC("cAtc");
constexpr AEKeyword keyEncoding = FourCC("Encd");
constexpr AEKeyword keyCompression = FourCC("Cmpr");
constexpr AEKeyword keyHTML = FourCC("pHtm");
constexpr AEKeyword keyAccount = FourCC("cAct");

struct Outlook {
  standin::StandInApp *app = nullptr;
  MailClient client;
  SInt32 lastID = 0;  // messages of the Out Box, numbered from 1
};

AttachmentEncoding EncodingOf(OSType code) {
  if (code == FourCC("eBnH")) return AttachmentEncoding::binHex;
  if (code == FourCC("eB64")) return AttachmentEncoding::base64;
  if (code == FourCC("eUUE")) return AttachmentEncoding::uuencode;
  return AttachmentEncoding::appleDouble;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The account that 'cAct' names: the first of its kind whose name is that name, ignoring
// case. *name is the name as given, then the account's own.
OSErr AccountNamed(const Outlook &outlook, const AEDesc &specifier, std::string *name) {
  ObjectParts parts;
  OSErr err = ReadObjectSpecifier(specifier, &parts);
  if (err == noErr && (parts.form != formName || (parts.want != cPOPAccount && parts.want != cIMAPAccount)))
    err = errAENoSuchObject;
  if (err == noErr) err = DescToUTF8(*parts.seld, name);
  if (err != noErr) return err;
  for (const MailAccount &account : outlook.client.config.accounts) {
    if (account.imap != (parts.want == cIMAPAccount) || !SameIgnoringCase(account.name, *name)) continue;
    *name = account.name;
    return noErr;
  }
  return errAENoSuchObject;
}

OSErr ReadMessage(const Outlook &outlook, const AERecord &properties, MailMessage *message) {
  OSErr err = GetOptionalKeyUTF8(properties, keyContent, &message->body);
  if (err == noErr) err = GetOptionalKeyUTF8(properties, keySubject, &message->subject);
  if (err == noErr)
    err = ForEachKeyItem(properties, keyRecipients,
                         [message](const AEDesc &item) { return AddTypedRecipient(item, message); });
  if (err == noErr)
    err = ForEachKeyItem(properties, keyAttachments, [message](const AEDesc &item) {
      std::string path;
      OSErr status = DescToUTF8(item, &path);
      if (status == noErr) message->attachments.push_back(std::move(path));
      return status;
    });
  OSType code = kAEAll;
  message->encoding = EncodingOf(GetKeyCode(properties, keyEncoding, &code) == noErr ? code : 0);
  if (GetKeyCode(properties, keyCompression, &code) == noErr && code == FourCC("cmSt"))
    message->compression = "StuffIt";
  Boolean html = false;
  DescType type;
  Size size;
  message->html =
      AEGetKeyPtr(&properties, keyHTML, typeBoolean, &type, &html, sizeof html, &size) == noErr && html;
  OwnedDesc account;
  if (err == noErr && AEGetKeyDesc(&properties, keyAccount, typeWildCard, account.get()) == noErr)
    err = AccountNamed(outlook, *account, &message->account);
  return err;
}

OSErr Write(Outlook &outlook, MailMessage message, AppleEvent &reply) {
  return MailClientWriteFor(outlook.client, outlook.app->Name(), std::move(message), MailFolder::outbox,
                            WantsReply(reply),
                            [&outlook](const std::string &line) { outlook.app->Journal("# " + line); });
}

// 'insh' is the Out Box, obj(form 'prop', want 'prop', seld 'pOtB'), or missing.
OSErr CheckOutBox(const AppleEvent &event) {
  OwnedDesc location;
  ObjectParts parts;
  OSType property = 0;
  OSErr err = AEGetParamDesc(&event, keyAEInsertHere, typeWildCard, location.get());
  if (err == errAEDescNotFound) return noErr;
  if (err == noErr) err = ReadObjectSpecifier(*location, &parts);
  if (err == noErr) err = PropertyOf(parts, &property);
  return err == noErr && property != pOutBox ? OSErr(errAENoSuchObject) : err;
}

OSErr Create(Outlook &outlook, const AppleEvent &event, AppleEvent &reply) {
  DescType kind = 0, type;
  Size size;
  OwnedDesc properties;
  OSErr err = AEGetParamPtr(&event, keyAEObjectClass, typeType, &type, &kind, sizeof kind, &size);
  if (err == noErr && kind != cOutgoingMessage) err = errAECantHandleClass;
  if (err == noErr) err = CheckOutBox(event);
  if (err == noErr) err = AEGetParamDesc(&event, keyAEPropData, typeAERecord, properties.get());
  MailMessage message;
  if (err == noErr) err = ReadMessage(outlook, *properties, &message);
  if (err == errAENoSuchObject) {
    LogWriteFailure(outlook.app->Name(), message.account, err);
    if (WantsReply(reply))
      standin::PutTextParam(reply, keyErrorString, "no account named " + message.account);
  }
  if (err == noErr) err = Write(outlook, std::move(message), reply);
  if (err != noErr) return err;
  SInt32 id = ++outlook.lastID;
  if (!WantsReply(reply)) return noErr;
  OwnedDesc specifier;
  err = MakeIDSpecifier(cOutgoingMessage, id, specifier.get());
  return err != noErr ? err : AEPutParamDesc(&reply, keyDirectObject, specifier.get());
}

// Opening a message puts it in a window for the user: here, a line in the journal.
OSErr Open(Outlook &outlook, const AppleEvent &event, AppleEvent &) {
  SInt32 id = 0;
  OSErr err = DirectObjectID(event, cOutgoingMessage, outlook.lastID, &id);
  if (err == noErr) outlook.app->Journal("# opened message " + std::to_string(id));
  return err;
}

// 'pnam' of obj(form 'indx', want 'popA' or 'impA', seld n or all).
OSErr GetData(Outlook &outlook, const AppleEvent &event, AppleEvent &reply) {
  ObjectParts accounts;
  OSType property = 0;
  OSErr err = ReadPropertyQuestion(event, &property, &accounts);
  bool imap = accounts.want == cIMAPAccount;
  if (err == noErr && (property != pName || (!imap && accounts.want != cPOPAccount))) err = errAENoSuchObject;
  if (err != noErr) return err;
  std::vector<std::string> names;
  for (const MailAccount &account : outlook.client.config.accounts)
    if (account.imap == imap) names.push_back(account.name);
  return AnswerIndexedNames(accounts, names, reply);
}

void InstallHandlers(standin::StandInApp &app, Outlook &outlook) {
  outlook.app = &app;
  OpenMailClient(app.DataFolder(), {}, &outlook.client);
  app.InstallEventHandler(kAECoreSuite, kAECreateElement, outlook, Create);
  app.InstallEventHandler(kAECoreSuite, kAEGetData, outlook, GetData);
  app.InstallEventHandler(kCoreEventClass, kAEOpenDocuments, outlook, Open);
}

}  // namespace

int main(int argc, char **argv) {
  const char *slash = argc > 0 ? std::strrchr(argv[0], '/') : nullptr;
  std::string name = argc == 0 ? "" : slash ? slash + 1 : argv[0];
  bool outlookExpress = name == "Outlook Express";
  Outlook outlook;
  int status = standin::StandInMain(argc, argv, outlookExpress ? FourCC("MSNM") : FourCC("OPIM"),
                                    outlookExpress ? "Outlook Express" : "Entourage",
                                    [&outlook](standin::StandInApp &app) { InstallHandlers(app, outlook); });
  CloseMailClient(&outlook.client);
  return status;
}
