// QuickMail sender: events of QuickMail's own class 'CeLP', without object specifiers, that
// act on QuickMail's current new message and so must arrive in this order: 'NewM' creates
// the message, 'SetD' sets text, subject and recipients, one 'Eadd' per attachment adds the
// file, and 'Actn' hands the message on for sending when it is to be queued. All are sent
// without waiting for a reply; QuickMail ignores the account, encoding, compression and
// HTML flag.
//
// Ownership: the message's texts are the caller's; every event lives inside the call.
#pragma once

#include <MacTypes.h>
#include <Processes.h>

#include "send/MessageEvent.h"
#include "send/SendDispatcher.h"

// 0 or the first failing step's status. What QuickMail received before a failure stays.
SInt32 SendQuickMailMessage(const ProcessSerialNumber *process, const EmailClientMessage *message);

// Writes listKey ('ToLs', 'CcLs', 'BcLs') and a list of {'ALst': name, 'Addr': address}
// records, each key only when its text is not empty; a blank list writes nothing at all.
// Answers the parser's failure or the event's first failing step, else 0.
SInt32 SendQuickMailRecipients(MessageEvent *event, AEKeyword listKey, const char *list, UInt32 length);
