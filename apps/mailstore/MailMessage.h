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

struct MailMessage {
  std::string account;  // name of the sending account or personality; empty: the default
  std::vector<MailAddress> to;
  std::vector<MailAddress> cc;
  std::vector<MailAddress> bcc;  // never written into the message's headers
  std::string subject;
  std::string body;
  std::vector<std::string> attachments;  // file paths, read when the message is written
};
