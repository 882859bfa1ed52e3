// Send dispatcher: hands one outgoing message to the connected email client in that
// client's Apple Event dialect. It owns the EmailClientMessage record, the attachment line
// rule and the sending conventions that every sender follows:
// - events are built with the AEStream builder, addressed by the client's process serial
//   number ('psn ', 8 bytes), return ID -1, transaction ID 0;
// - they are sent at normal priority with a 1,200-tick time-out, in mode 0x43 when the reply
//   is read and 0x41 otherwise; the event is disposed right after sending;
// - only the statuses of creating, closing and sending an event decide whether a sequence
//   goes on; single writes into a stream are not checked, and an error the client reports
//   inside its reply is not examined.
// Eudora, Mailsmith and Claris Emailer are driven here; the other dialects have senders of
// their own.
//
// Ownership: the message and the texts it points at belong to the caller for the duration
// of the call; nothing keeps a pointer into them afterwards. Events and replies live only
// inside one call.
#pragma once

#include <AEDataModel.h>
#include <AppleEvents.h>
#include <MacErrors.h>
#include <MacTypes.h>
#include <Processes.h>

#include "aestream/AEStream.h"

struct EmailClientConnection;

// One outgoing message. Every text is a byte range into one buffer of the caller's; texts
// are not NUL-terminated, and a text whose count is 0 is absent (its pointer is not looked
// at). Lines are separated by CR.
struct EmailClientMessage {
  const char *body;          // message text
  UInt32 bodyLength;         //
  const char *subject;       // subject
  const char *to;            // To address list (see AddressParser.h)
  const char *cc;            // Cc address list
  const char *bcc;           // Bcc address list
  const char *attachments;   // attachment file paths, one per line
  const char *account;       // sending account or personality
  UInt32 subjectLength;      //
  UInt32 toLength;           //
  UInt32 ccLength;           //
  UInt32 bccLength;          //
  UInt32 attachmentsLength;  //
  UInt32 accountLength;      //
  UInt32 encoding;           // attachment encoding code, below
  Boolean stuffit;           // compress attachments
  Boolean queue;             // true: into the outgoing queue; false: leave it for the user
  Boolean html;              // the body is HTML
};

// Attachment encoding codes, in the order the clients' encodings are offered to scripts.
// Code 0 means that no encoding is sent at all.
enum : UInt32 {
  kEncodingServiceDefault = 0,
  kEncodingNone = 1,
  kEncodingBinHex = 2,
  kEncodingBase64 = 3,
  kEncodingUUEncode = 4,
  kEncodingAppleSingle = 5,
  kEncodingAppleDouble = 6,
};

// Statuses of SendEmailClientMessage besides 0 and the system's own.
enum : SInt32 {
  unknownClientErr = 1,  // the connection's signature is none of the eight known clients
  // PowerMail, QuickMail, Apple Mail, Outlook Express and Entourage: this plug-in has no
  // sender for their dialects yet, so nothing is sent and the message fails with this.
  senderNotAvailableErr = errAEEventNotHandled,
};

// Sets every byte count, encoding and the three flags to 0; the text pointers stay as they
// were. Afterwards the record describes a message with no parts.
void ClearEmailClientMessage(EmailClientMessage *message);

// Sends the message through the connection's client. 0 on success, unknownClientErr for an
// unknown signature (nothing sent), otherwise the OSErr of the first failing step.
SInt32 SendEmailClientMessage(const EmailClientConnection *connection, const EmailClientMessage *message);

// Attachment line rule: items run up to the next CR, which is not part of the item; the last
// item ends at the end of the text. A CR as the very last byte adds no empty item; two CRs
// in a row give an empty item (a path of length 0). An empty text has no items.
struct AttachmentWalk {
  const char *next;  // start of the next item; null when the text is used up
  const char *end;
};
void StartAttachmentWalk(AttachmentWalk *walk, const char *text, UInt32 length);
// The next item, pointing into the text; false when there are no more.
Boolean NextAttachmentItem(AttachmentWalk *walk, const char **item, UInt32 *length);

// --- Shared by the senders --------------------------------------------------------------

enum : AESendMode {
  kSendNoReply = kAENoReply | kAECanSwitchLayer,      // 0x41
  kSendWaitReply = kAEWaitReply | kAECanSwitchLayer,  // 0x43
};
enum : long { kEmailClientTimeout = 1200 };  // ticks: 20 seconds

// The one place events leave the plug-in: AESend at normal priority with the email-client
// time-out. Tests and benchmarks may point emailClientSend at a stand-in of their own; it
// must fill *reply (the null descriptor for kSendNoReply) and return the send status.
typedef OSErr (*EmailClientSendProc)(const AppleEvent *event, AppleEvent *reply, AESendMode sendMode);
extern EmailClientSendProc emailClientSend;
OSErr SendEmailClientEventNow(const AppleEvent *event, AppleEvent *reply, AESendMode sendMode);

// Starts an event to the process: AEStream_CreateEvent with 'psn ', return ID -1 and
// transaction ID 0.
SInt32 CreateClientEvent(AEStream *stream, AEEventClass eventClass, AEEventID eventID,
                         const ProcessSerialNumber *process);

// Closes the stream into an event, sends it and disposes it. With kSendWaitReply the reply
// goes to *reply, which the caller disposes (on success only: on failure it is the null
// descriptor); with kSendNoReply reply may be null. A stream that cannot be closed is
// released and its status returned; nothing is sent then.
SInt32 CloseAndSendClientEvent(AEStream *stream, AESendMode sendMode, AppleEvent *reply);

// Writes obj(form, want, seld, from) as the next value of the stream: a record of type 'obj '
// with the keys in that order. from null: the application itself ('from' = a 'null'
// descriptor with no data); otherwise a copy of *from.
void WriteObjectSpecifier(AEStream *stream, DescType form, DescType want, DescType seldType, const void *seld,
                          Size seldSize, const AEDesc *from);
