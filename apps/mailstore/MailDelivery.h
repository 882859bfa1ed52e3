// Delivery of a client's queued mail to the SMTP servers of its accounts (libcurl), and
// where each message goes afterwards, in the client's data folder:
//
//   outbox/new/<name>       queued: not yet delivered
//   unconfirmed/<name>      its end was sent to the server, whose answer never came: it may
//                           or may not have been accepted, and it is never sent again by
//                           itself (move it back to outbox/new to send it again)
//   sent/<name>             accepted by the server
//   failed/<name>           refused for good (5xx); the server's answer is in
//                           failed/<name>.answer
//   delivery.lock           locked (flock) by the one process delivering this folder's mail
//   delivery.inflight       the record of the batch being delivered (see below)
//
// A message goes out through the first account whose From address is the message's and that
// has an smtp line (MailConfig.h); its envelope holds To, Cc and the Bcc recipients of
// envelopes/<name>, and the file's bytes go out as they are, with CRLF line ends. The
// envelope stays in envelopes/ whatever becomes of the message.
//
// The commit point. A server takes a message once it has read its end (the line "."), and
// not before. Just before the last bytes of a message are handed to libcurl, which sends the
// end right after them, the line "end <name>" is appended to delivery.inflight; once the
// server has answered, the message moves to sent/ or failed/, or stays queued after a
// temporary refusal (recorded "back <name>"). A delivering process killed at any point thus
// leaves each message either queued and not marked "end" (the server never saw its end, so
// sending it again cannot make a second copy), or marked: the next pass moves every marked
// message still queued to unconfirmed/ before it sends anything, and reports unconfirmed/
// every time it runs. At most once, and never silently dropped. Marks and moves survive a
// killed process but not a power failure, so before a batch is sent everything earlier is
// flushed (syncfs) and the batch's names are written, flushed, to delivery.inflight with the
// boot id; a pass that finds a record from an earlier boot treats every message of it that
// is still queued as marked.
// Temporary failures leave the message queued and stop delivery to that server for the pass,
// so that later messages never overtake it.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <MacTypes.h>

#include "apps/mailstore/MailConfig.h"

inline constexpr size_t kDeliveryBatch = 4096;
inline constexpr long kDeliveryTimeoutSeconds = 60;
inline constexpr int kDeliveryFirstRetrySeconds = 1;
inline constexpr int kDeliveryLastRetrySeconds = 300;

struct DeliveryOptions {
  long timeoutSeconds = kDeliveryTimeoutSeconds;  // connecting, and each answer of the server
  bool wait = true;  // for another process delivering the same folder; else fBsyErr at once
  const std::atomic<bool> *stop = nullptr;  // looked at between messages; must outlive the call
};

// What one pass did. Each line of notes names a message (its file name) or a server, and
// says what happened with the server's answer, e.g.
//   "1700000000.M1P2Q3.host: refused by smtp://mx:25: 550 5.1.1 <x@y>: no such user"
struct DeliveryReport {
  int delivered = 0;
  int failed = 0;             // moved to failed/ in this pass
  int deferred = 0;           // left queued by a temporary failure, to be tried again
  int unconfirmed = 0;        // moved to unconfirmed/ in this pass
  int unconfirmedBefore = 0;  // found there, left by an earlier delivery
  int unrouted = 0;           // queued for an account without an smtp line: stays in the outbox
  std::vector<std::string> notes;
};

// Who a stored message goes to: the address of its From field, and the addresses of its To
// and Cc fields and of the Bcc field of its envelope file, each once, groups opened. head is
// the message's header block (what follows its first blank line is ignored).
struct MailEnvelope {
  std::string from;
  std::vector<std::string> recipients;
};
MailEnvelope ParseMailEnvelope(std::string_view head, std::string_view envelopeFile);

// One pass over dataFolder's outbox, in the order the messages were queued: every message
// whose account has a server is delivered, refused, deferred or left unconfirmed. Returns
// noErr, fBsyErr when another process is delivering and options.wait is false, or the file
// error that stopped the pass (what was done until then is in report).
OSErr DeliverOutbox(const std::string &dataFolder, const MailConfig &config, const DeliveryOptions &options,
                    DeliveryReport *report);

// One line of counts, e.g. "3 delivered, 1 refused (in failed/)".
std::string DeliverySummary(const DeliveryReport &report);

// The number of messages in outbox/new.
int QueuedMessageCount(const std::string &dataFolder);

// A thread that delivers a running client's outbox whenever mail is queued, and retries
// temporary failures with backoff (kDeliveryFirstRetrySeconds, doubling up to
// kDeliveryLastRetrySeconds). log receives each pass that did or found something.
struct DeliveryAgent;

// Null when config gives no account a server: the mail then stays in the outbox. The caller
// disposes with StopDeliveryAgent.
DeliveryAgent *StartDeliveryAgent(const std::string &dataFolder, const MailConfig &config,
                                  std::function<void(const DeliveryReport &)> log);
// New mail is queued. Accepts null.
void WakeDeliveryAgent(DeliveryAgent *agent);
// Lets the message in hand finish, stops the thread and releases the agent. Accepts null.
void StopDeliveryAgent(DeliveryAgent *agent);
