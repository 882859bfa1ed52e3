#include "apps/mailstore/MailConfig.h"

#include <MacErrors.h>

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
    "# client setting its value at start-up.\n"
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

bool ParseLine(std::string_view line, MailConfig *config) {
  std::string_view rest, key, value;
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
  std::string temporary = path + ".new." + std::to_string(getpid());
  FILE *file = std::fopen(temporary.c_str(), "wx");
  if (!file) return errno == ENOENT ? dirNFErr : ioErr;
  std::string text = std::string(kDefaultFile).append(clientDefaults);
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  written = (std::fclose(file) == 0) && written;
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return ioErr;
  }
  return noErr;
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
  OSErr status = noErr;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) status = WriteDefaultFile(path, clientDefaults);
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

std::string MailConfigSetting(const MailConfig &config, int number) {
  for (const MailSetting &setting : config.settings)
    if (setting.number == number) return setting.value;
  return {};
}
