#include "apps/mailstore/MailClient.h"

#include <MacErrors.h>
#include <MachineFolder.h>

#include "apps/mailstore/MimeWriter.h"

#include <sys/stat.h>
#include <cstdio>

void OpenMailClient(const std::string &dataFolder, std::string_view clientDefaults, MailClient *client) {
  client->dataFolder = dataFolder;
  // No data folder (the machine folder was refused): nothing is kept anywhere else.
  client->openStatus = dataFolder.empty() ? OSErr(afpAccessDenied) : carbon::MakePrivateFolders(dataFolder);
  // A config file that cannot be read leaves the default account in place: not fatal.
  LoadMailConfig(dataFolder, &client->config, clientDefaults);
  if (client->openStatus == noErr) client->store = MailStoreOpen(dataFolder, &client->openStatus);
  if (client->store) {
    std::string name = dataFolder.substr(dataFolder.rfind('/') + 1);
    client->delivery = StartDeliveryAgent(dataFolder, client->config, [name](const DeliveryReport &report) {
      for (const std::string &note : report.notes)
        std::fprintf(stderr, "%s: %s\n", name.c_str(), note.c_str());
      std::fprintf(stderr, "%s: %s\n", name.c_str(), DeliverySummary(report).c_str());
    });
  }
}

void CloseMailClient(MailClient *client) {
  StopDeliveryAgent(client->delivery);
  client->delivery = nullptr;
  MailStoreClose(client->store);
  client->store = nullptr;
}

const MailAddress *MailClientSender(const MailClient &client, const std::string &account) {
  if (account.empty()) return &client.config.accounts.front().from;
  const MailAccount *found = FindMailAccount(client.config, account);
  return found ? &found->from : nullptr;
}

OSErr MailClientWrite(MailClient &client, const MailMessage &message, MailFolder folder) {
  if (!client.store) return client.openStatus != noErr ? client.openStatus : OSErr(ioErr);
  const MailAddress *from = MailClientSender(client, message.account);
  if (!from) return errAENoSuchObject;
  OSErr err = MailStoreWrite(client.store, message, *from, folder);
  if (err == noErr && folder == MailFolder::outbox) WakeDeliveryAgent(client.delivery);
  return err;
}

OSErr MailClientWriteLater(MailClient &client, MailMessage message, MailFolder folder) {
  if (!client.store) return client.openStatus != noErr ? client.openStatus : OSErr(ioErr);
  const MailAddress *from = MailClientSender(client, message.account);
  if (!from) return errAENoSuchObject;
  for (const std::string &path : message.attachments)
    if (OSErr status = CheckAttachmentPath(path); status != noErr) return status;
  return MailStoreWriteLater(client.store, std::move(message), *from, folder);
}

OSErr MailClientWriteKeeping(MailClient &client, MailMessage message, MailFolder folder,
                             std::vector<UnreadAttachment> *unread) {
  unread->clear();
  OSErr err = MailClientWrite(client, message, folder);
  if (err == noErr || err == errAENoSuchObject || message.attachments.empty()) return err;
  std::vector<std::string> readable;
  for (std::string &path : message.attachments) {
    MimeAttachment attachment;
    OSErr status = ReadMailAttachment(path, &attachment);
    if (status != noErr) {
      unread->push_back({std::move(path), status});
    } else {
      readable.push_back(std::move(path));
    }
  }
  if (unread->empty()) return err;  // the attachments were not the trouble
  message.attachments = std::move(readable);
  err = MailClientWrite(client, message, MailFolder::drafts);
  if (err == noErr || message.attachments.empty()) return err;
  // One went away meanwhile: the message still matters more than its files.
  for (std::string &path : message.attachments) unread->push_back({std::move(path), err});
  message.attachments.clear();
  return MailClientWrite(client, message, MailFolder::drafts);
}

std::string UnreadAttachmentText(const UnreadAttachment &file) {
  return "attachment not read: " + file.path + " (error " + std::to_string(file.status) +
         "), message kept in drafts";
}

void LogUnreadAttachments(const std::string &clientName, const std::vector<UnreadAttachment> &unread) {
  for (const UnreadAttachment &file : unread)
    std::fprintf(stderr, "%s: %s\n", clientName.c_str(), UnreadAttachmentText(file).c_str());
}

OSErr MailClientWriteFor(MailClient &client, const std::string &clientName, MailMessage message,
                         MailFolder folder, bool wantsReply,
                         const std::function<void(const std::string &)> &tell) {
  if (wantsReply) return MailClientWrite(client, message, folder);
  std::vector<UnreadAttachment> unread;
  std::string account = message.account;
  OSErr err = MailClientWriteKeeping(client, std::move(message), folder, &unread);
  if (tell)
    for (const UnreadAttachment &file : unread) tell(UnreadAttachmentText(file));
  LogUnreadAttachments(clientName, unread);
  LogWriteFailure(clientName, account, err);
  return err;
}

void LogWriteFailure(const std::string &clientName, const std::string &account, OSErr status) {
  if (status == errAENoSuchObject)
    std::fprintf(stderr, "%s: no account named \"%s\", message not written\n", clientName.c_str(),
                 account.c_str());
  else if (status != noErr)
    std::fprintf(stderr, "%s: message not written (error %d)\n", clientName.c_str(), status);
}

OSErr CheckAttachmentPath(const std::string &path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return (errno == ENOENT || errno == ENOTDIR) ? fnfErr : ioErr;
  return S_ISREG(info.st_mode) ? OSErr(noErr) : OSErr(notAFileErr);
}
