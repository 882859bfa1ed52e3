#include "apps/mailstore/MailConfig.h"

#include <MacErrors.h>
#include <MachineFolder.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "apps/mailstore/MailAddress.h"
#include "apps/mailstore/MailText.h"

namespace {

constexpr const char *kDefaultFile =
    "# Accounts of this mail client, one per line: account <name> = <From mailbox>, or\n"
    "# imap account <name> = <From mailbox> for an IMAP account where the client has both\n"
    "# kinds. The first account is the default sender. A line \"setting <number> = <text>\" gives a\n"
    "# client setting its value at start-up. To deliver an account's queued mail, give it a\n"
    "# server: smtp <name> = smtp://host:port (or smtps://), and login <name> = <user> <password>.\n"
    "account Quillcast Demo = Quillcast Demo <demo@quillcast.example>\n";

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

bool StartsWithWord(std::string_view line, std::string_view word, std::string_view *rest) {
  if (line.size() <= word.size() || line.substr(0, word.size()) != word) return false;
  if (line[word.size()] != ' ' && line[word.size()] != '\t') return false;
  *rest = line.substr(word.size());
  return true;
}

// "key = value" with both sides non-empty once trimmed.
bool SplitAssignment(std::string_view text, std::string_view *key, std::string_view *value) {
  size_t equals = text.find('=');
  if (equals == std::string_view::npos) return false;
  *key = Trim(text.substr(0, equals));
  *value = Trim(text.substr(equals + 1));
  return !key->empty() && !value->empty();
}

MailServer &ServerOf(MailConfig *config, std::string_view account) {
  for (MailServer &server : config->servers)
    if (server.account == account) return server;
  config->servers.push_back(MailServer{std::string(account), {}, {}, {}, {}});
  return config->servers.back();
}

// smtp, login and certificate lines; false when the line is none of them or malformed.
bool ParseServerLine(std::string_view line, MailConfig *config) {
  std::string_view rest, key, value;
  bool smtp = StartsWithWord(line, "smtp", &rest);
  bool login = !smtp && StartsWithWord(line, "login", &rest);
  bool certificate = !smtp && !login && StartsWithWord(line, "certificate", &rest);
  if (!(smtp || login || certificate) || !SplitAssignment(rest, &key, &value)) return false;
  if (config->servers.size() >= kMailConfigMaxAccounts && !FindMailServer(*config, key)) return false;
  if (smtp) {
    if (!ValidServerURL(value)) return false;
    ServerOf(config, key).url = value;
  } else if (login) {
    size_t blank = value.find_first_of(" \t");
    if (blank == std::string_view::npos) return false;
    MailServer &server = ServerOf(config, key);
    server.user = value.substr(0, blank);
    server.password = Trim(value.substr(blank));
  } else {
    ServerOf(config, key).certificate = value;
  }
  return true;
}

bool ParseLine(std::string_view line, MailConfig *config) {
  std::string_view rest, key, value;
  if (ParseServerLine(line, config)) return true;
  bool imap = StartsWithWord(line, "imap", &rest);
  if (imap) line = Trim(rest);
  if (StartsWithWord(line, "account", &rest)) {
    if (!SplitAssignment(rest, &key, &value) || config->accounts.size() >= kMailConfigMaxAccounts)
      return false;
    MailAddress from = ParseMailbox(value);
    if (from.address.empty()) return false;
    config->accounts.push_back(MailAccount{std::string(key), std::move(from), imap});
    return true;
  }
  if (imap) return false;
  if (StartsWithWord(line, "setting", &rest)) {
    if (!SplitAssignment(rest, &key, &value)) return false;
    int number = 0;
    auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), number);
    if (error != std::errc() || end != key.data() + key.size() || number < 0) return false;
    config->settings.push_back(MailSetting{number, std::string(value)});
    return true;
  }
  return false;
}

MailAccount DefaultAccount() {
  return MailAccount{kDefaultAccountName, ParseMailbox(kDefaultAccountMailbox)};
}

OSErr WriteDefaultFile(const std::string &path, std::string_view clientDefaults) {
  int error = carbon::ReplaceFileContents(path, std::string(kDefaultFile).append(clientDefaults), false);
  return error == 0 ? OSErr(noErr) : error == ENOENT ? OSErr(dirNFErr) : OSErr(ioErr);
}

}  // namespace

int ParseMailConfig(std::string_view text, MailConfig *config, std::vector<int> *badLines) {
  *config = MailConfig{};
  std::string valid = ValidUTF8(text);
  std::string_view rest = valid;
  int lineNumber = 0;
  int bad = 0;
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = Trim(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    lineNumber++;
    if (line.empty() || line.front() == '#' || ParseLine(line, config)) continue;
    bad++;
    if (badLines) badLines->push_back(lineNumber);
  }
  return bad;
}

OSErr LoadMailConfig(const std::string &folder, MailConfig *config, std::string_view clientDefaults) {
  *config = MailConfig{};
  std::string path = folder + "/" + kMailConfigFileName;
  OSErr status = folder.empty() ? OSErr(afpAccessDenied) : OSErr(noErr);  // no folder, no file
  struct stat info;
  if (status == noErr && stat(path.c_str(), &info) != 0) status = WriteDefaultFile(path, clientDefaults);
  std::ifstream in(path, std::ios::binary);
  if (status == noErr && in) {
    std::string text(kMailConfigMaxBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    ParseMailConfig(text, config);
  } else if (status == noErr) {
    status = fnfErr;
  }
  if (config->accounts.empty()) config->accounts.push_back(DefaultAccount());
  return status;
}

const MailAccount *FindMailAccount(const MailConfig &config, std::string_view name, bool ignoreCase) {
  auto same = [ignoreCase, name](const std::string &other) {
    if (!ignoreCase || other.size() != name.size()) return other == name;
    for (size_t i = 0; i < name.size(); i++)
      if (std::tolower(static_cast<unsigned char>(name[i])) !=
          std::tolower(static_cast<unsigned char>(other[i])))
        return false;
    return true;
  };
  for (const MailAccount &account : config.accounts)
    if (same(account.name)) return &account;
  return nullptr;
}

const MailServer *FindMailServer(const MailConfig &config, std::string_view account) {
  for (const MailServer &server : config.servers)
    if (server.account == account && !server.url.empty()) return &server;
  return nullptr;
}

bool ValidServerURL(std::string_view text) {
  std::string_view rest;
  if (text.substr(0, 7) == "smtp://")
    rest = text.substr(7);
  else if (text.substr(0, 8) == "smtps://")
    rest = text.substr(8);
  else
    return false;
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  size_t colon = rest.rfind(':');
  std::string_view host = rest, port;
  if (colon != std::string_view::npos && rest.find(']', colon) == std::string_view::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    int number = 0;
    auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535)
      return false;
  }
  if (host.empty()) return false;
  for (char c : host)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '[' || c == ']' ||
          c == ':'))
      return false;
  return true;
}

std::string MailConfigSetting(const MailConfig &config, int number) {
  for (const MailSetting &setting : config.settings)
    if (setting.number == number) return setting.value;
  return {};
}
