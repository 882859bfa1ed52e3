// The mail a stand-in email client keeps on disk, in its data folder:
//
//   outbox/{tmp,new,cur}   queued messages, a Maildir: one RFC 5322 file per message
//   drafts/{tmp,new,cur}   messages that were not queued, in the same form
//   envelopes/<name>       for a message with Bcc recipients, its envelope: a header block
//                          with one "Bcc:" field listing them; <name> is the message's
//                          file name (up to any ":2,..." info a reader may add)
//
// A message is written under tmp/ and renamed into new/, its envelope written first, so a
// file in new/ is always whole and its envelope already there. Durability is batched rather
// than paid per message (an fsync per file would cap a client at a few hundred messages a
// second): a background thread of the store flushes everything written so far with one
// syncfs when kMailStoreSyncBatch messages are pending or kMailStoreSyncSeconds after the
// last flush, and MailStoreClose flushes the rest. A power failure can thus lose at most the
// messages of the last second or batch, never damage what was flushed before.
#pragma once

#include <string>

#include <MacTypes.h>

#include "apps/mailstore/MailMessage.h"

inline constexpr int kMailStoreSyncBatch = 2048;
inline constexpr int kMailStoreSyncSeconds = 1;
inline constexpr size_t kMailStoreQueueLimit = 1024;

enum class MailFolder { outbox, drafts };

struct MailStore;

// Opens (creating as needed, mode 0700) the folders under dataFolder, which must exist,
// and starts the store's flushing thread. Null on failure, with the error in *status. The
// caller disposes with MailStoreClose. One thread at a time may call the store.
MailStore *MailStoreOpen(const std::string &dataFolder, OSErr *status);

// Writes what was handed over with MailStoreWriteLater, stops the store's threads, syncs
// what is pending and releases the store. Accepts null.
void MailStoreClose(MailStore *store);

// Writes message into folder, sent from `from`; its file name goes to fileName if given.
// The attachments are read first: a missing one gives fnfErr (notAFileErr for a folder)
// and nothing is written. Otherwise noErr, or ioErr / dskFulErr when the disk fails.
OSErr MailStoreWrite(MailStore *store, const MailMessage &message, const MailAddress &from, MailFolder folder,
                     std::string *fileName = nullptr);

// Hands message over to the store's writer thread and returns at once (waiting only when
// kMailStoreQueueLimit messages are already queued), so that a client answering no one can
// take the next event while this one is written. For senders that do not wait for the
// outcome: a failure is reported on standard error only. Messages are written in the order
// handed over; MailStoreWrite first waits for all of them.
OSErr MailStoreWriteLater(MailStore *store, MailMessage message, const MailAddress &from, MailFolder folder);

// Flushes every message written so far to the disk now; does nothing when none is pending.
OSErr MailStoreSync(MailStore *store);

// Number of messages written and not yet flushed.
int MailStorePending(const MailStore *store);

// The absolute path of a folder's Maildir ("<dataFolder>/outbox").
std::string MailStoreFolderPath(const MailStore *store, MailFolder folder);
