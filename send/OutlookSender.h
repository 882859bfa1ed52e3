// Outlook Express and Entourage sender: the whole message, recipients and attachments
// included, in one 'core'/'crel' event that creates it in the Out Box; an open event
// ('aevt'/'odoc') follows only when the message is to be left on screen instead of queued.
// Outlook Express takes a queued message without a reply; Entourage, and every unqueued
// message, is waited for.
//
// The sending account is named by class: 'popA' when the message's account is one of the
// POP account names, else 'impA' when it is one of the IMAP names (compared without regard
// to case, over the whole length); with neither the client uses its default account.
//
// Ownership: the message's texts and the two name lists are the caller's (the lists belong
// to the connection). Every event and reply lives inside the call.
#pragma once

#include <AEDataModel.h>
#include <MacTypes.h>
#include <Processes.h>

#include "send/MessageEvent.h"
#include "send/SendDispatcher.h"

// 0 or the first failing step's status; the parser's status when a recipient list cannot
// be parsed (nothing is sent then).
SInt32 SendOutlookEntourageMessage(const ProcessSerialNumber *process, const EmailClientMessage *message,
                                   OSType signature, const AEDescList *popAccounts,
                                   const AEDescList *imapAccounts);

// Appends one {'addr', 'rtyp': recipientType} record per address to the open 'rcpt' list at
// the top of the event: the bare address when addressOnly, else the round form ("address
// (name)"). Answers the parser's failure or the event's first failing step, else 0.
SInt32 SendOutlookEntourageRecipients(MessageEvent *event, OSType recipientType, Boolean addressOnly,
                                      const char *list, UInt32 length);

// True when one of the list's text items equals the name without regard to case. A list
// that cannot be counted, an item that cannot be read as text or is over 256 bytes, ends
// the search with false.
Boolean IsNameInNameList(const char *name, UInt32 nameLength, const AEDescList *list);
