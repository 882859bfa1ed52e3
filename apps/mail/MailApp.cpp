// Mail: the stand-in for Apple Mail, creator 'emal'. Its object model is the accounts of the
// accounts file ('mact': name 'pnam', full name 'flln', e-mail addresses 'emad', a list of
// one) and the outgoing messages it made ('bcke', by unique ID), each with recipient elements
// of the kinds 'trcp', 'crcp' and 'brcp', attachments, and its 'ID  '. Events:
//   'core'/'getd'  the name of every account or of account n; an account's full name or
//                  addresses, the account picked by name; a message's 'ID  ', which answers
//                  until the message has gone (errAENoSuchObject then)
//   'core'/'crel'  a new 'bcke' ('prdt' {'ctnt', 'subj', 'sndr': "Full Name <address>",
//                  'pvis'}): its sender must be an account's address (else errAENoSuchObject
//                  and no message); without one the first account sends. Answers its specifier.
//                  A recipient 'rcpt' ('insh' an insertion location in the message's
//                  recipients of one kind; 'prdt' {'pnam', 'radd'}).
//                  An attachment 'atts' ('insh' after the message's content; 'prdt' {'atfn':
//                  the file, an alias or a path}); fnfErr when the file is missing.
//   'emsg'/'send'  sends the message: it is written to the outbox and is gone
// Mail has no choice of encoding: attachments go in AppleDouble, as the Mac's own Mail sends
// a Macintosh file, its Finder information in the header part beside the data. Messages never
// sent are kept as drafts when Mail quits.
#include <MacErrors.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "apps/kit/StandInApp.h"
#include "apps/mailstore/MailAddress.h"
#include "apps/mailstore/MailClient.h"
#include "apps/mailstore/MailEvents.h"

namespace {

constexpr OSType kCreator = FourCC("emal");
constexpr DescType cOutgoingMessage = FourCC("bcke");
constexpr DescType cAccount = FourCC("mact");
constexpr DescType cRecipient = FourCC("rcpt");
constexpr DescType cAttachment = FourCC("atts");
constexpr DescType pFullName = FourCC("flln");
constexpr DescType pAddresses = FourCC("emad");
constexpr DescType pID = FourCC("ID  ");
constexpr AEKeyword keyContent = FourCC("ctnt");
constexpr AEKeyword keySubject = FourCC("subj");
constexpr AEKeyword keySender = FourCC("sndr");
constexpr AEKeyword keyName = FourCC("pnam");
constexpr AEKeyword keyAddress = FourCC("radd");
constexpr AEKeyword keyFile = FourCC("atfn");
constexpr AEEventClass kMailClass = FourCC("emsg");
constexpr AEEventID kSend = FourCC("send");

struct Mail {
  MailClient client;
  std::map<SInt32, MailMessage> outgoing;  // by ID, until sent
  SInt32 lastID = 0;
};

std::vector<MailAddress> *RecipientsOfKind(MailMessage &message, DescType kind) {
  if (kind == FourCC("trcp")) return &message.to;
  if (kind == FourCC("crcp")) return &message.cc;
  return kind == FourCC("brcp") ? &message.bcc : nullptr;
}

OSErr ResolveMessage(Mail &mail, const AEDesc &specifier, MailMessage **message) {
  SInt32 id = 0;
  OSErr err = IDOfSpecifier(specifier, cOutgoingMessage, &id);
  auto found = err == noErr ? mail.outgoing.find(id) : mail.outgoing.end();
  if (err == noErr && found == mail.outgoing.end()) err = errAENoSuchObject;
  if (err == noErr) *message = &found->second;
  return err;
}

bool SameAddress(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The account whose address the sender text has.
OSErr AccountOfSender(const Mail &mail, const std::string &sender, std::string *account) {
  MailAddress mailbox = ParseMailbox(sender);
  for (const MailAccount &candidate : mail.client.config.accounts) {
    if (!SameAddress(candidate.from.address, mailbox.address)) continue;
    *account = candidate.name;
    return noErr;
  }
  return errAENoSuchObject;
}

OSErr CreateMessage(Mail &mail, const AppleEvent &event, AppleEvent &reply) {
  OwnedDesc properties;
  MailMessage message;
  std::string sender;
  OSErr err = AEGetParamDesc(&event, keyAEPropData, typeAERecord, properties.get());
  if (err == errAEDescNotFound) err = AECreateList(nullptr, 0, true, properties.get());
  if (err == noErr) err = GetOptionalKeyUTF8(*properties, keyContent, &message.body);
  if (err == noErr) err = GetOptionalKeyUTF8(*properties, keySubject, &message.subject);
  if (err == noErr) err = GetOptionalKeyUTF8(*properties, keySender, &sender);
  if (err == noErr && !sender.empty() && AccountOfSender(mail, sender, &message.account) != noErr) {
    if (WantsReply(reply)) standin::PutTextParam(reply, keyErrorString, "no account sends as " + sender);
    err = errAENoSuchObject;
  }
  if (err != noErr) return err;
  message.encoding = AttachmentEncoding::appleDouble;
  SInt32 id = ++mail.lastID;
  mail.outgoing.emplace(id, std::move(message));
  if (!WantsReply(reply)) return noErr;
  OwnedDesc specifier;
  err = MakeIDSpecifier(cOutgoingMessage, id, specifier.get());
  return err != noErr ? err : AEPutParamDesc(&reply, keyDirectObject, specifier.get());
}

// 'insh' is an insertion location whose 'kobj' lies in a message: the message, and the
// object specifier in it ('want' and 'from' of 'kobj').
OSErr InsertionMessage(Mail &mail, const AppleEvent &event, MailMessage **message, ObjectParts *inside) {
  OwnedDesc location, object;
  OSErr err = AEGetParamDesc(&event, keyAEInsertHere, typeInsertionLoc, location.get());
  if (err == noErr) err = AEGetKeyDesc(location.get(), keyAEObject, typeWildCard, object.get());
  if (err == noErr) err = ReadObjectSpecifier(*object, inside);
  if (err != noErr) return err;
  if (inside->want != FourCC("cha ")) return ResolveMessage(mail, *inside->from, message);
  ObjectParts content;  // characters of the content of the message
  OSType property = 0;
  err = ReadObjectSpecifier(*inside->from, &content);
  if (err == noErr) err = PropertyOf(content, &property);
  if (err == noErr && property != keyContent) err = errAENoSuchObject;
  return err != noErr ? err : ResolveMessage(mail, *content.from, message);
}

OSErr CreateRecipient(Mail &mail, const AppleEvent &event) {
  MailMessage *message = nullptr;
  ObjectParts inside;
  OwnedDesc properties;
  MailAddress mailbox;
  OSErr err = InsertionMessage(mail, event, &message, &inside);
  std::vector<MailAddress> *list = err == noErr ? RecipientsOfKind(*message, inside.want) : nullptr;
  if (err == noErr && !list) err = errAECantHandleClass;
  if (err == noErr) err = AEGetParamDesc(&event, keyAEPropData, typeAERecord, properties.get());
  if (err == noErr) err = GetOptionalKeyUTF8(*properties, keyName, &mailbox.name);
  if (err == noErr) err = GetOptionalKeyUTF8(*properties, keyAddress, &mailbox.address);
  if (err == noErr) list->push_back(std::move(mailbox));
  return err;
}

OSErr CreateAttachment(Mail &mail, const AppleEvent &event, AppleEvent &reply) {
  MailMessage *message = nullptr;
  ObjectParts inside;
  OwnedDesc properties, file;
  std::string path;
  OSErr err = InsertionMessage(mail, event, &message, &inside);
  if (err == noErr && inside.want != FourCC("cha ")) err = errAENoSuchObject;
  if (err == noErr) err = AEGetParamDesc(&event, keyAEPropData, typeAERecord, properties.get());
  if (err == noErr) err = AEGetKeyDesc(properties.get(), keyFile, typeWildCard, file.get());
  if (err == noErr) err = AliasItemPath(*file, &path);
  if (err == noErr) err = CheckAttachmentPath(path);
  if (err != noErr && WantsReply(reply))
    standin::PutTextParam(reply, keyErrorString, "cannot attach " + path);
  if (err == noErr) message->attachments.push_back(std::move(path));
  return err;
}

OSErr Create(Mail &mail, const AppleEvent &event, AppleEvent &reply) {
  DescType kind = 0, type;
  Size size;
  OSErr err = AEGetParamPtr(&event, keyAEObjectClass, typeType, &type, &kind, sizeof kind, &size);
  if (err != noErr) return err;
  if (kind == cOutgoingMessage) return CreateMessage(mail, event, reply);
  if (kind == cRecipient) return CreateRecipient(mail, event);
  if (kind == cAttachment) return CreateAttachment(mail, event, reply);
  return errAECantHandleClass;
}

OSErr Send(Mail &mail, const AppleEvent &event, AppleEvent &) {
  OwnedDesc direct;
  SInt32 id = 0;
  OSErr err = AEGetParamDesc(&event, keyDirectObject, typeWildCard, direct.get());
  if (err == noErr) err = IDOfSpecifier(*direct, cOutgoingMessage, &id);
  auto found = err == noErr ? mail.outgoing.find(id) : mail.outgoing.end();
  if (err == noErr && found == mail.outgoing.end()) err = errAENoSuchObject;
  if (err == noErr) err = MailClientWrite(mail.client, found->second, MailFolder::outbox);
  if (err == noErr) mail.outgoing.erase(found);
  return err;
}

// An account's full name or its addresses; the account picked by name.
OSErr GetAccountProperty(Mail &mail, OSType property, const ObjectParts &account, AppleEvent &reply) {
  std::string name;
  OSErr err = account.form == formName ? DescToUTF8(*account.seld, &name) : OSErr(errAENoSuchObject);
  const MailAccount *found = err == noErr ? FindMailAccount(mail.client.config, name) : nullptr;
  if (err == noErr && !found) err = errAENoSuchObject;
  if (err != noErr) return err;
  if (property == pFullName) return PutReplyText(reply, found->from.name);
  OwnedDesc list;
  err = AECreateList(nullptr, 0, false, list.get());
  if (err == noErr) err = AppendListText(list.get(), found->from.address);
  return err != noErr ? err : AEPutParamDesc(&reply, keyDirectObject, list.get());
}

OSErr GetData(Mail &mail, const AppleEvent &event, AppleEvent &reply) {
  ObjectParts of;
  OSType property = 0;
  OSErr err = ReadPropertyQuestion(event, &property, &of);
  if (err != noErr) return err;
  if (property == pID && of.want == cOutgoingMessage) {
    SInt32 id = 0;
    err = of.form == formUniqueID ? DescToLong(*of.seld, &id) : OSErr(errAENoSuchObject);
    if (err == noErr && mail.outgoing.count(id) == 0) err = errAENoSuchObject;  // sent: gone
    return err != noErr ? err : standin::PutLongParam(reply, keyDirectObject, id);
  }
  if (of.want != cAccount) return errAENoSuchObject;
  if (property == pFullName || property == pAddresses) return GetAccountProperty(mail, property, of, reply);
  if (property != pName) return errAENoSuchObject;
  std::vector<std::string> names;
  for (const MailAccount &account : mail.client.config.accounts) names.push_back(account.name);
  return AnswerIndexedNames(of, names, reply);
}

void InstallHandlers(standin::StandInApp &app, Mail &mail) {
  OpenMailClient(app.DataFolder(), {}, &mail.client);
  app.InstallEventHandler(kAECoreSuite, kAECreateElement, mail, Create);
  app.InstallEventHandler(kAECoreSuite, kAEGetData, mail, GetData);
  app.InstallEventHandler(kMailClass, kSend, mail, Send);
}

}  // namespace

int main(int argc, char **argv) {
  Mail mail;
  int status = standin::StandInMain(argc, argv, kCreator, "Mail",
                                    [&mail](standin::StandInApp &app) { InstallHandlers(app, mail); });
  for (auto &[id, message] : mail.outgoing)
    MailClientWriteFor(mail.client, "Mail", std::move(message), MailFolder::drafts, false, {});
  CloseMailClient(&mail.client);
  return status;
}
