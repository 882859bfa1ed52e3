// The RFC 5322 form of a message, built with GMime: headers From, To, Cc, Subject, Date,
// Message-ID and MIME-Version (names and subject RFC 2047-encoded when not ASCII), a UTF-8
// text/plain (or text/html) body in 7bit, quoted-printable or base64 as its bytes need, and
// each attachment in the message's AttachmentEncoding (MailMessage.h; the byte formats are
// in MacFileFormats.h). Bcc recipients never appear in the result.
//
// InitMimeWriter must be called once before the first BuildMimeMessage (MailStoreOpen
// does it); it is cheap to call again.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <MacTypes.h>

#include "apps/mailstore/MailMessage.h"

struct MimeAttachment {
  std::string fileName;     // last component of the path, UTF-8
  std::string contentType;  // "type/subtype"
  std::string data;
  OSType macType = 0;  // the file's Finder type and creator
  OSType macCreator = 0;
};

void InitMimeWriter();

// The content type for a file name, from its extension (case-insensitive);
// "application/octet-stream" for anything unknown.
std::string GuessContentType(std::string_view fileName);

// Reads the file at path, with the type and creator the File Manager keeps for it (in the
// extended attribute "user.quillcast.FinderInfo"); a file without them gets 'TEXT' for a
// text type and '????' otherwise, creator '????'. fnfErr when it does not exist, notAFileErr when it is a
// folder or another kind of special file, ioErr when it cannot be read.
OSErr ReadMailAttachment(const std::string &path, MimeAttachment *attachment);

// Writes the message into out (replacing its content). Recipients without an address are
// left out; header texts lose their control characters (see HeaderValue). messageId is
// given without angle brackets. Returns noErr, or paramErr when GMime fails to write.
OSErr BuildMimeMessage(const MailMessage &message, const MailAddress &from,
                       const std::vector<MimeAttachment> &attachments, const std::string &messageId,
                       std::string *out);
