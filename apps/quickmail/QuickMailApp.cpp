// QuickMail: the stand-in for CE Development QuickMail, creator 'CeLP'. It has no object
// model: its events act on "the new message", the one the last 'NewM' opened, strictly in
// the order they arrive, and it answers nothing (a failure goes to the journal and to
// standard error). Events, all of class 'CeLP':
//   'NewM'  opens a new message; one still open is kept as a draft
//   'SetD'  sets the new message's 'Body', its subject (the direct parameter) and its
//           recipients 'ToLs', 'CcLs', 'BcLs': lists of records {'ALst': display name,
//           'Addr': address}, either key may be missing
//   'Eadd'  adds the file whose path is the direct parameter
//   'Actn'  with 'ActN': queues the new message (written to the outbox). A file that can no
//           longer be read keeps the message in drafts without it (MailClientWriteKeeping)
// QuickMail has no choice of account, encoding or compression: a message goes from the first
// account of the accounts file, its attachments as base64 MIME parts. A message still open
// when QuickMail quits is kept as a draft.
#include <MacErrors.h>

#include <optional>
#include <string>
#include <vector>

#include "apps/kit/StandInApp.h"
#include "apps/mailstore/MailClient.h"
#include "apps/mailstore/MailEvents.h"

namespace {

constexpr OSType kCreator = FourCC("CeLP");
constexpr AEEventID kNewMessage = FourCC("NewM");
constexpr AEEventID kSetData = FourCC("SetD");
constexpr AEEventID kAddFile = FourCC("Eadd");
constexpr AEEventID kAction = FourCC("Actn");
constexpr OSType kSendAction = FourCC("ActN");
constexpr AEKeyword keyBody = FourCC("Body");
constexpr AEKeyword keyName = FourCC("ALst");
constexpr AEKeyword keyAddress = FourCC("Addr");

struct QuickMail {
  standin::StandInApp *app = nullptr;  // while it runs
  MailClient client;
  std::optional<MailMessage> current;  // the new message
};

// Writes a message that no one waits for, never dropping it for a file.
void WriteKeeping(QuickMail &quickMail, MailMessage message, MailFolder folder) {
  MailClientWriteFor(quickMail.client, "QuickMail", std::move(message), folder, false,
                     [&quickMail](const std::string &line) {
                       if (quickMail.app) quickMail.app->Journal("# " + line);
                     });
}

// What QuickMail would show in an alert: journaled, since no one reads its replies.
OSErr Refuse(QuickMail &quickMail, const std::string &what, OSErr err) {
  quickMail.app->Journal("# " + what + " (error " + std::to_string(err) + ")");
  return err;
}

OSErr NewMessage(QuickMail &quickMail, const AppleEvent &, AppleEvent &) {
  if (quickMail.current) WriteKeeping(quickMail, std::move(*quickMail.current), MailFolder::drafts);
  quickMail.current.emplace();
  return noErr;
}

OSErr AddRecipient(const AEDesc &record, std::vector<MailAddress> *list) {
  MailAddress mailbox;
  OSErr err = GetKeyUTF8(record, keyName, &mailbox.name);
  if (err == errAEDescNotFound) err = noErr;
  if (err == noErr) err = GetKeyUTF8(record, keyAddress, &mailbox.address);
  if (err == errAEDescNotFound) err = noErr;
  if (err == noErr) list->push_back(std::move(mailbox));
  return err;
}

// A recipient list parameter replaces what the message had; a missing one leaves it.
OSErr SetRecipients(const AppleEvent &event, AEKeyword key, std::vector<MailAddress> *list) {
  OwnedDesc records;
  OSErr err = AEGetParamDesc(&event, key, typeAEList, records.get());
  if (err == errAEDescNotFound) return noErr;
  std::vector<MailAddress> read;
  if (err == noErr)
    err = ForEachListItem(*records, [&read](const AEDesc &record) { return AddRecipient(record, &read); });
  if (err == noErr) *list = std::move(read);
  return err;
}

OSErr OptionalText(const AppleEvent &event, AEKeyword key, std::string *text) {
  OSErr err = GetParamUTF8(event, key, text);
  return err == errAEDescNotFound ? OSErr(noErr) : err;
}

OSErr SetData(QuickMail &quickMail, const AppleEvent &event, AppleEvent &) {
  if (!quickMail.current) return Refuse(quickMail, "no new message to set", errAENoSuchObject);
  MailMessage message = *quickMail.current;
  OSErr err = OptionalText(event, keyBody, &message.body);
  if (err == noErr) err = OptionalText(event, keyDirectObject, &message.subject);
  if (err == noErr) err = SetRecipients(event, FourCC("ToLs"), &message.to);
  if (err == noErr) err = SetRecipients(event, FourCC("CcLs"), &message.cc);
  if (err == noErr) err = SetRecipients(event, FourCC("BcLs"), &message.bcc);
  if (err != noErr) return Refuse(quickMail, "message not set", err);
  *quickMail.current = std::move(message);
  return noErr;
}

// The path is taken now and read when the message is queued.
OSErr AddFile(QuickMail &quickMail, const AppleEvent &event, AppleEvent &) {
  std::string path;
  if (!quickMail.current) return Refuse(quickMail, "no new message to attach to", errAENoSuchObject);
  OSErr err = GetParamUTF8(event, keyDirectObject, &path);
  if (err != noErr) return Refuse(quickMail, "no file to attach", err);
  quickMail.current->attachments.push_back(std::move(path));
  return noErr;
}

OSErr Act(QuickMail &quickMail, const AppleEvent &event, AppleEvent &) {
  OSType action = 0;
  DescType type;
  Size size;
  OSErr err = AEGetParamPtr(&event, keyDirectObject, typeEnumerated, &type, &action, sizeof action, &size);
  if (err == noErr && action != kSendAction) err = errAEEventNotHandled;
  if (err == noErr && !quickMail.current) err = errAENoSuchObject;
  if (err != noErr) return Refuse(quickMail, "nothing to send", err);
  WriteKeeping(quickMail, std::move(*quickMail.current), MailFolder::outbox);
  quickMail.current.reset();
  return noErr;
}

void InstallHandlers(standin::StandInApp &app, QuickMail &quickMail) {
  quickMail.app = &app;
  OpenMailClient(app.DataFolder(), {}, &quickMail.client);
  app.InstallEventHandler(kCreator, kNewMessage, quickMail, NewMessage);
  app.InstallEventHandler(kCreator, kSetData, quickMail, SetData);
  app.InstallEventHandler(kCreator, kAddFile, quickMail, AddFile);
  app.InstallEventHandler(kCreator, kAction, quickMail, Act);
}

}  // namespace

int main(int argc, char **argv) {
  QuickMail quickMail;
  int status =
      standin::StandInMain(argc, argv, kCreator, "QuickMail",
                           [&quickMail](standin::StandInApp &app) { InstallHandlers(app, quickMail); });
  quickMail.app = nullptr;
  if (quickMail.current) WriteKeeping(quickMail, std::move(*quickMail.current), MailFolder::drafts);
  CloseMailClient(&quickMail.client);
  return status;
}
