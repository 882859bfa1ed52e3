// Emailer: the stand-in for Claris Emailer, creator 'MMan'. A message arrives whole in one
// event, 'MMan'/'CRML':
//   'BODY', 'SUBJ'  texts (either may be missing)
//   'RECP'          a list of records {'RCTP': 0 To, 1 Cc, 2 Bcc; 'RCAD': the address}
//   'FILE'          a list of files, obj(form 'name', want 'file', seld path) or paths
//   'ENCD'          attachment encoding: 2 BinHex, 4 UUEncode; 3 Base64, which is also what
//                   1 (no encoding) and a missing 'ENCD' give
//   'COMP'          true: compression asked for (recorded in the message, not performed)
//   'SAVE'          present and true: the message is queued (written to the outbox);
//                   otherwise it is kept as a draft
// It is sent from the first account of the accounts file. A file that cannot be read answers
// fnfErr (or the error of reading it) and nothing is written. When the sender does not wait
// for the answer (as the plug-in does not) it would never learn of that, so the message is
// kept as a draft without the files that could not be read, and each of them is journaled
// ("# attachment not read: PATH (error N), message kept in drafts") and logged.
#include <MacErrors.h>

#include <string>
#include <vector>

#include "apps/kit/StandInApp.h"
#include "apps/mailstore/MailAddress.h"
#include "apps/mailstore/MailClient.h"
#include "apps/mailstore/MailEvents.h"

namespace {

constexpr OSType kCreator = FourCC("MMan");
constexpr AEEventID kCreateMail = FourCC("CRML");
constexpr AEKeyword keyBody = FourCC("BODY");
constexpr AEKeyword keySubject = FourCC("SUBJ");
constexpr AEKeyword keyRecipients = FourCC("RECP");
constexpr AEKeyword keyRecipientKind = FourCC("RCTP");
constexpr AEKeyword keyRecipientAddress = FourCC("RCAD");
constexpr AEKeyword keyFiles = FourCC("FILE");
constexpr AEKeyword keySave = FourCC("SAVE");
constexpr AEKeyword keyEncoding = FourCC("ENCD");
constexpr AEKeyword keyCompress = FourCC("COMP");

// A text parameter that may be missing.
OSErr OptionalText(const AppleEvent &event, AEKeyword key, std::string *text) {
  OSErr err = GetParamUTF8(event, key, text);
  return err == errAEDescNotFound ? OSErr(noErr) : err;
}

OSErr AddRecipient(const AEDesc &record, MailMessage *message) {
  SInt32 kind = 0;
  std::string address;
  OSErr err = GetKeyLong(record, keyRecipientKind, &kind);
  if (err == noErr) err = GetKeyUTF8(record, keyRecipientAddress, &address);
  if (err == noErr && (kind < 0 || kind > 2)) err = paramErr;
  if (err != noErr) return err;
  std::vector<MailAddress> *lists[] = {&message->to, &message->cc, &message->bcc};
  for (MailAddress &mailbox : ParseAddressList(address)) lists[kind]->push_back(std::move(mailbox));
  return noErr;
}

// Calls read for each item of the list parameter key; a missing parameter has no items.
template <typename Read>
OSErr ForEachItem(const AppleEvent &event, AEKeyword key, Read read) {
  OwnedDesc list;
  long count = 0;
  OSErr err = AEGetParamDesc(&event, key, typeAEList, list.get());
  if (err == errAEDescNotFound) return noErr;
  if (err == noErr) err = AECountItems(list.get(), &count);
  for (long i = 1; err == noErr && i <= count; i++) {
    OwnedDesc item;
    err = AEGetNthDesc(list.get(), i, typeWildCard, nullptr, item.get());
    if (err == noErr) err = read(*item);
  }
  return err;
}

bool BooleanParam(const AppleEvent &event, AEKeyword key) {
  Boolean value = false;
  DescType type;
  Size size;
  return AEGetParamPtr(&event, key, typeBoolean, &type, &value, sizeof value, &size) == noErr && value;
}

AttachmentEncoding EncodingParam(const AppleEvent &event) {
  SInt32 code = 3;
  standin::GetLongParam(event, keyEncoding, &code);
  if (code == 2) return AttachmentEncoding::binHex;
  return code == 4 ? AttachmentEncoding::uuencode : AttachmentEncoding::base64;
}

struct Emailer {
  standin::StandInApp *app = nullptr;  // journals what the client could not attach
  MailClient client;
};

OSErr CreateMail(Emailer &emailer, const AppleEvent &event, AppleEvent &reply) {
  MailMessage message;
  OSErr err = OptionalText(event, keyBody, &message.body);
  if (err == noErr) err = OptionalText(event, keySubject, &message.subject);
  if (err == noErr)
    err = ForEachItem(event, keyRecipients, [&](const AEDesc &item) { return AddRecipient(item, &message); });
  if (err == noErr) {
    err = ForEachItem(event, keyFiles, [&](const AEDesc &item) {
      std::string path;
      OSErr status = AttachmentItemPath(item, &path);
      if (status == noErr) message.attachments.push_back(path);
      return status;
    });
  }
  message.encoding = EncodingParam(event);
  if (BooleanParam(event, keyCompress)) message.compression = "StuffIt";
  MailFolder folder = BooleanParam(event, keySave) ? MailFolder::outbox : MailFolder::drafts;
  if (err == noErr)
    err =
        MailClientWriteFor(emailer.client, emailer.app->Name(), std::move(message), folder, WantsReply(reply),
                           [&emailer](const std::string &line) { emailer.app->Journal("# " + line); });
  if (err == fnfErr && WantsReply(reply))
    standin::PutTextParam(reply, keyErrorString, "an attached file is missing");
  return err;
}

}  // namespace

int main(int argc, char **argv) {
  Emailer emailer;
  int status = standin::StandInMain(argc, argv, kCreator, "Emailer", [&emailer](standin::StandInApp &app) {
    emailer.app = &app;
    OpenMailClient(app.DataFolder(), {}, &emailer.client);
    app.InstallEventHandler(kCreator, kCreateMail, emailer, CreateMail);
  });
  CloseMailClient(&emailer.client);
  return status;
}
