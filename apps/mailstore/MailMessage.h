// The message model shared by the stand-in email clients: one outgoing message as the
// client holds it before it is written to disk. Every text is UTF-8 already (the clients
// transcode what arrives in events, see MailText.h); line ends may be CR, LF or CRLF.
// Plain values: a MailMessage owns all its texts.
#pragma once

#include <string>
#include <vector>

// One mailbox: a display name (may be empty) and an address.
struct MailAddress {
  std::string name;
  std::string address;
};

// How the attachments travel in the message. Each client maps its own vocabulary onto these
// and takes one as its default for "no encoding" and for the service default.
enum class AttachmentEncoding {
  base64,       // a MIME part of the file's type, base64
  binHex,       // application/mac-binhex40, BinHex 4.0 with name, type and creator
  uuencode,     // a part in x-uuencode: "begin 644 name" ... "end"
  appleSingle,  // application/applefile holding name, Finder information and data
  appleDouble,  // multipart/appledouble: application/applefile header, then the data part
};

struct MailMessage {
  std::string account;  // name of the sending account or personality; empty: the default
  std::vector<MailAddress> to;
  std::vector<MailAddress> cc;
  std::vector<MailAddress> bcc;  // never written into the message's headers
  std::string subject;
  std::string body;
  std::vector<std::string> attachments;  // file paths, read when the message is written
  AttachmentEncoding encoding = AttachmentEncoding::base64;
  // The compression the sender asked for ("StuffIt"), empty for none. Recorded in the
  // message's X-Attachment-Compression header; the files travel uncompressed.
  std::string compression;
  bool html = false;  // the body is HTML
};
