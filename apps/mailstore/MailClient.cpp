#include "apps/mailstore/MailClient.h"

#include <MacErrors.h>

#include <sys/stat.h>
#include <cerrno>

namespace {

OSErr MakeFolders(const std::string &path) {
  for (size_t at = 1; at <= path.size(); at++) {
    if (at != path.size() && path[at] != '/') continue;
    if (mkdir(path.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST)
      return errno == ENOENT ? dirNFErr : ioErr;
  }
  return noErr;
}

}  // namespace

void OpenMailClient(const std::string &dataFolder, std::string_view clientDefaults, MailClient *client) {
  client->dataFolder = dataFolder;
  client->openStatus = MakeFolders(dataFolder);
  // A config file that cannot be read leaves the default account in place: not fatal.
  LoadMailConfig(dataFolder, &client->config, clientDefaults);
  if (client->openStatus == noErr) client->store = MailStoreOpen(dataFolder, &client->openStatus);
}

void CloseMailClient(MailClient *client) {
  MailStoreClose(client->store);
  client->store = nullptr;
}

const MailAddress &MailClientSender(const MailClient &client, const std::string &account) {
  const MailAccount *found = FindMailAccount(client.config, account);
  return (found ? found : &client.config.accounts.front())->from;
}

OSErr MailClientWrite(MailClient &client, const MailMessage &message, MailFolder folder) {
  if (!client.store) return client.openStatus != noErr ? client.openStatus : ioErr;
  return MailStoreWrite(client.store, message, MailClientSender(client, message.account), folder);
}

OSErr MailClientWriteLater(MailClient &client, MailMessage message, MailFolder folder) {
  if (!client.store) return client.openStatus != noErr ? client.openStatus : ioErr;
  for (const std::string &path : message.attachments)
    if (OSErr status = CheckAttachmentPath(path); status != noErr) return status;
  const MailAddress &from = MailClientSender(client, message.account);
  return MailStoreWriteLater(client.store, std::move(message), from, folder);
}

OSErr CheckAttachmentPath(const std::string &path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return (errno == ENOENT || errno == ENOTDIR) ? fnfErr : ioErr;
  return S_ISREG(info.st_mode) ? OSErr(noErr) : OSErr(notAFileErr);
}
