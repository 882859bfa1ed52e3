// PowerMail sender: the whole message in one 'core'/'crel' event whose property record
// carries text, subject, attachments, recipients, account and status together. A queued
// message ('stts' 'wait') is sent without waiting for a reply; one left for the user is
// created with a wait for the reply and then opened ('aevt'/'odoc') from the object
// specifier PowerMail answers.
//
// Ownership: the message's texts are the caller's; every event and reply lives inside the
// call.
#pragma once

#include <MacTypes.h>
#include <Processes.h>

#include "send/MessageEvent.h"
#include "send/SendDispatcher.h"

// 0 or the first failing step's status; the parser's status when a recipient list cannot be
// parsed (nothing is sent then).
SInt32 SendPowerMailMessage(const ProcessSerialNumber *process, const EmailClientMessage *message);

// Appends one {'addr': address in angled form, 'rtyp': recipientType} record per address
// to the open 'rcpt' list at the top of the event. Answers the parser's failure or the
// event's first failing step, else 0.
SInt32 SendPowerMailRecipients(MessageEvent *event, OSType recipientType, const char *list, UInt32 length);
