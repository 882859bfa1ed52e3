// Send dispatcher: hands one outgoing message to the connected email client in that
// client's Apple Event dialect, chosen by the connection's creator code. It owns the
// EmailClientMessage record and the attachment line rule that every sender shares; the
// sending conventions are in MessageEvent.h. Eudora, Mailsmith and Claris Emailer are driven
// here; PowerMail, QuickMail, Apple Mail, Outlook Express and Entourage have senders of
// their own.
//
// Ownership: the message and the texts it points at belong to the caller for the duration
// of the call; nothing keeps a pointer into them afterwards. Events and replies live only
// inside one call.
#pragma once

#include <MacTypes.h>

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

// The status of SendEmailClientMessage for a connection whose signature is none of the
// eight known clients.
enum : SInt32 { unknownClientErr = 1 };

// Sets every byte count, encoding and the three flags to 0; the text pointers stay as they
// were. Afterwards the record describes a message with no parts.
void ClearEmailClientMessage(EmailClientMessage *message);

// Sends the message through the connection's client. 0 on success, errAEBufferTooSmall for
// a message too large to hand to a client and unknownClientErr for an unknown signature
// (nothing sent either way), otherwise the OSErr of the first failing step.
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
