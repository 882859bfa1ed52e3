// Apple Mail sender: creates an outgoing message with its content, subject and sender, adds
// the To, Cc and Bcc recipients one event per address, adds each attachment as an alias
// after the last character of the content, and, when the message is to be queued, sends it
// and polls briefly until Mail has taken it. Every event waits for Mail's reply. The order
// is fixed: message, To, Cc, Bcc, attachments, send, polls; a failure part way leaves in
// Mail whatever was created before it.
//
// The sender is the `sender` text of the first account whose name equals the message's
// account exactly, over the whole length of both; with no such account Mail chooses.
//
// Ownership: the message's texts and the account table are the caller's (the table belongs
// to the connection). The message object, every event, reply and alias live inside the
// call and are released on every path.
#pragma once

#include <AEDataModel.h>
#include <MacTypes.h>
#include <Processes.h>

#include "send/SendDispatcher.h"

struct MailAccountEntry;

// Ticks waited before each poll for the sent message's id: 6, 12, 24, 48.
inline constexpr UInt32 kMailAppFirstPollTicks = 6;
inline constexpr int kMailAppPolls = 4;

// 0 or the first failing step's status. An attachment line longer than a full path can be
// (32,767 bytes) answers paramErr and nothing more is sent for the message.
SInt32 SendMailAppMessage(const ProcessSerialNumber *process, const EmailClientMessage *message,
                          const MailAccountEntry *accounts, SInt32 accountCount);

// One 'crel' of a recipient of kind 'trcp', 'crcp' or 'brcp' per address of the list, at the
// end of the message's recipients of that kind. 0 or the first failing step's status.
SInt32 SendMailAppRecipients(const AEDesc *messageObject, const ProcessSerialNumber *process, DescType kind,
                             const char *list, UInt32 length);
