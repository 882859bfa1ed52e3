// Field and recipient senders of the Eudora, Mailsmith and Claris Emailer dialects: the
// steps with which the send dispatcher fills in the parts of a new message one at a time.
// The Eudora and Mailsmith operations send their own events (all without waiting for a
// reply); the Emailer operation only writes into the 'CRML' event the dispatcher is
// building. Recipient lists are split with the address parser.
//
// Ownership: the message or window object is the dispatcher's; these operations copy it into
// their events and never dispose it. Texts are the caller's byte ranges. Each call creates
// and destroys its own parser and events.
#pragma once

#include <AEDataModel.h>
#include <MacTypes.h>
#include <Processes.h>

#include "send/MessageEvent.h"

// Emailer recipient kinds.
enum : SInt16 { kEmailerTo = 0, kEmailerCc = 1, kEmailerBcc = 2 };

// Sets the named field (length-prefixed name; the empty name is the body) of the Eudora
// message to the text. Length 0 sends nothing and answers 0.
SInt32 SendEudoraField(const AEDesc *message, const ProcessSerialNumber *process, ConstStr255Param fieldName,
                       const char *text, UInt32 length);

// Sets the named recipient field to the whole list in round form, joined by commas, in one
// event. A blank or all-empty list sends nothing and answers 0.
SInt32 SendEudoraRecipients(const AEDesc *message, const ProcessSerialNumber *process,
                            ConstStr255Param fieldName, const char *list, UInt32 length);

// Sets a text property ('pcnt', 'subj', 'SeAc') of the Mailsmith message window. Length 0
// sends nothing and answers 0.
SInt32 SendMailsmithField(const AEDesc *window, const ProcessSerialNumber *process, DescType property,
                          const char *text, UInt32 length);

// Creates one recipient element ('!to ', '!cc ', '!bcc') per address of the list, in list
// order. The first failing event ends the call; the addresses before it stay in the window.
SInt32 SendMailsmithRecipients(const AEDesc *window, const ProcessSerialNumber *process,
                               DescType elementClass, const char *list, UInt32 length);

// Appends one {'RCTP': kind, 'RCAD': address in round form} record per address to the open
// 'RECP' list at the top of the event. Sends nothing; answers the parser's failure or the
// event's first failing step, else 0.
SInt32 SendEmailerRecipients(MessageEvent *event, SInt16 kind, const char *list, UInt32 length);
