// The configuration file of a stand-in email client, "accounts.conf" in the client's data
// folder: its accounts (Eudora calls them personalities) and the start-up values of client
// settings. UTF-8 text, one entry per line; blank lines and lines starting with "#" are
// comments:
//
//   account <name> = <From mailbox>      e.g.  account Work = Ann Lee <ann@work.example>
//   imap account <name> = <From mailbox>  e.g.  imap account Lab = Ann Lee <ann@lab.example>
//   setting <number> = <text>            e.g.  setting 169 = y
//   smtp <account> = <server URL>        e.g.  smtp Work = smtp://mail.work.example:587
//   login <account> = <user> <password>  e.g.  login Work = ann s3cret
//   certificate <account> = <PEM file>   the certificate (or bundle) to trust for that server,
//                                        e.g. a relay's self-signed one
//
// A server URL is smtp://host[:port] (port 25; STARTTLS when the server offers it, and
// required when there is a login, so that a password never crosses the network in clear)
// or smtps://host[:port] (port 465, TLS from the start). An account without an smtp line
// keeps its mail in the outbox. The password runs from the first blank after the user to
// the end of the line.
//
// A plain account is a POP account for the clients that tell POP from IMAP; the others take
// both kinds alike. The first account is the default sender. Blanks around names and values are trimmed; a
// name runs up to the first "=". The file is read with fixed limits (kMailConfigMaxBytes,
// kMailConfigMaxAccounts) and malformed lines are skipped, never fatal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <MacTypes.h>

#include "apps/mailstore/MailMessage.h"

inline constexpr const char *kMailConfigFileName = "accounts.conf";
inline constexpr size_t kMailConfigMaxBytes = 1 << 20;
inline constexpr size_t kMailConfigMaxAccounts = 1000;
inline constexpr const char *kDefaultAccountName = "Quillcast Demo";
inline constexpr const char *kDefaultAccountMailbox = "Quillcast Demo <demo@quillcast.example>";

struct MailAccount {
  std::string name;
  MailAddress from;
  bool imap = false;
};

struct MailSetting {
  int number;
  std::string value;
};

// How an account's mail leaves the machine.
struct MailServer {
  std::string account;
  std::string url;  // empty when the file gives a login or certificate but no smtp line
  std::string user;
  std::string password;
  std::string certificate;
};

struct MailConfig {
  std::vector<MailAccount> accounts;  // never empty after LoadMailConfig
  std::vector<MailSetting> settings;
  std::vector<MailServer> servers;  // one per account named by smtp, login or certificate
};

// Parses the text of a configuration file into config (which it clears first). Returns
// the number of lines skipped as malformed; their 1-based numbers go to badLines if given.
int ParseMailConfig(std::string_view text, MailConfig *config, std::vector<int> *badLines = nullptr);

// Reads the file in folder, first writing the default file when there is none: one demo
// account, then clientDefaults (lines of the client's own, such as its settings). A file
// with no usable account gets the default account in memory. Returns noErr, or the File
// Manager style error of creating or reading the file (config then holds the default
// account).
OSErr LoadMailConfig(const std::string &folder, MailConfig *config, std::string_view clientDefaults = {});

// The first account of that name, or null. The name is compared whole, byte for byte, or
// with ASCII letters of either case alike when ignoreCase. The pointer is into config and
// must not outlive it.
const MailAccount *FindMailAccount(const MailConfig &config, std::string_view name, bool ignoreCase = false);

// The server of the account of that name when the file gives it one (a URL), else null.
// The pointer is into config and must not outlive it.
const MailServer *FindMailServer(const MailConfig &config, std::string_view account);

// Whether text is a server URL as an smtp line takes it.
bool ValidServerURL(std::string_view text);

// The value of a setting, or empty when the file gives none.
std::string MailConfigSetting(const MailConfig &config, int number);
