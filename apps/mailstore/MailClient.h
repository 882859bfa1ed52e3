// The mail side of a stand-in email client: its accounts file and its mail store, opened
// together in the client's data folder, and the two ways a message leaves the client's
// object model: queued into the outbox, or kept as a draft.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <MacTypes.h>

#include "apps/mailstore/MailConfig.h"
#include "apps/mailstore/MailDelivery.h"
#include "apps/mailstore/MailMessage.h"
#include "apps/mailstore/MailStore.h"

struct MailClient {
  std::string dataFolder;
  MailConfig config;
  MailStore *store = nullptr;         // null when the folder could not be opened
  OSErr openStatus = noErr;           // why, then
  DeliveryAgent *delivery = nullptr;  // null when no account has an SMTP server
};

// Creates dataFolder (and its parents) when missing, reads or writes the accounts file
// (clientDefaults as in LoadMailConfig) and opens the mail store. On failure client->store
// is null and every later write answers client->openStatus; the client keeps running.
// When an account has an SMTP server, a delivery agent sends the outbox there as mail is
// queued, and reports each pass on standard error.
void OpenMailClient(const std::string &dataFolder, std::string_view clientDefaults, MailClient *client);
void CloseMailClient(MailClient *client);

// The From mailbox of the account of that name (exact match), the first account's for an
// empty name, null for a name no account has: mail never goes out under another sender.
const MailAddress *MailClientSender(const MailClient &client, const std::string &account);

// Writes message to the outbox (queue) or to drafts, from its account's mailbox. Errors as
// MailStoreWrite (fnfErr for a missing attachment: nothing is written), and
// errAENoSuchObject for an account no one has (nothing is written either).
OSErr MailClientWrite(MailClient &client, const MailMessage &message, MailFolder folder);

// The same for a sender that does not wait for the answer: the attachments are checked
// now (the first missing one's error is returned and nothing is written), and the message
// is written by the store's own thread (MailStoreWriteLater).
OSErr MailClientWriteLater(MailClient &client, MailMessage message, MailFolder folder);

// An attachment left out of a message because it could not be read, and why.
struct UnreadAttachment {
  std::string path;
  OSErr status;
};

// MailClientWrite for a sender that does not wait for the answer, who would never learn that
// its message was refused: a message is not dropped for an attachment (one from an unknown
// account is: no sender can be chosen for it). When one cannot be
// read, the message goes to drafts without the attachments that cannot be read, and *unread
// lists them, so that the user finds it there and attaches them again. Errors are those of
// the disk and of opening the store.
OSErr MailClientWriteKeeping(MailClient &client, MailMessage message, MailFolder folder,
                             std::vector<UnreadAttachment> *unread);
// A line on standard error for each attachment left out: "<client>: attachment not read: ...".
void LogUnreadAttachments(const std::string &clientName, const std::vector<UnreadAttachment> &unread);
// The text of that line after "<client>: ".
std::string UnreadAttachmentText(const UnreadAttachment &file);

// Writes a message as a client does when an event asks it to: when the sender waits for the
// answer (wantsReply), as MailClientWrite, the error going back in the reply; when no one
// waits, as MailClientWriteKeeping, with each file left out and any failure told to `tell`
// (a line for the client's journal; may be empty) and to standard error.
OSErr MailClientWriteFor(MailClient &client, const std::string &clientName, MailMessage message,
                         MailFolder folder, bool wantsReply,
                         const std::function<void(const std::string &)> &tell);

// For a sender that does not wait: a line on standard error when a message could not be
// written, "<client>: no account named "NAME", message not written" or "<client>: message
// not written (error N)"; nothing for noErr.
void LogWriteFailure(const std::string &clientName, const std::string &account, OSErr status);

// Whether an attachment path can be read now: noErr, fnfErr, or notAFileErr for a folder
// or special file. Checked when a client is told to attach, so the sender hears at once.
OSErr CheckAttachmentPath(const std::string &path);
