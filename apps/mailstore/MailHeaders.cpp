// Header fields written by hand rather than through GMime's object model, which costs tens of
// microseconds a message; GMime still writes the rare address that is not plain ASCII.
#include "apps/mailstore/MailHeaders.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "apps/mailstore/MailText.h"
#include "apps/mailstore/MimeWriter.h"

namespace {

constexpr size_t kFoldColumn = 78;
// An encoded word is at most 75 characters: "=?UTF-8?B?" and "?=" around 60 of base64,
// which carry 45 bytes.
constexpr size_t kEncodedWordBytes = 45;
constexpr size_t kBase64LineBytes = 57;  // 76 characters

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void AppendBase64(std::string_view bytes, std::string *out) {
  for (size_t at = 0; at < bytes.size(); at += 3) {
    size_t left = bytes.size() - at;
    uint32_t group = uint32_t(uint8_t(bytes[at])) << 16;
    if (left > 1) group |= uint32_t(uint8_t(bytes[at + 1])) << 8;
    if (left > 2) group |= uint8_t(bytes[at + 2]);
    *out += kBase64Digits[group >> 18];
    *out += kBase64Digits[(group >> 12) & 63];
    *out += left > 1 ? kBase64Digits[(group >> 6) & 63] : '=';
    *out += left > 2 ? kBase64Digits[group & 63] : '=';
  }
}

// A value as words joined by single blanks, any of which a fold may replace by a line end
// and a blank; a word itself is never broken.
using Words = std::vector<std::string>;

std::string Field(std::string_view name, const Words &words) {
  std::string out(name);
  out += ':';
  size_t column = out.size();
  for (size_t i = 0; i < words.size(); i++) {
    const std::string &word = words[i];
    // No fold before an empty word: it would leave a line of nothing but a blank.
    bool fold = i > 0 && !word.empty() && column + 1 + word.size() > kFoldColumn;
    out += fold ? "\n " : " ";
    column = fold ? 1 : column + 1;
    out += word;
    column += word.size();
  }
  out += '\n';
  return out;
}

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Text a reader would not take literally: anything past ASCII, or what looks like an
// encoded word already.
bool NeedsEncoding(std::string_view text) {
  return !IsAscii(text) || text.find("=?") != std::string_view::npos;
}

// UTF-8 text as encoded words, cut only between characters.
void AppendEncodedWords(std::string_view text, Words *words) {
  while (!text.empty()) {
    size_t length = std::min(text.size(), kEncodedWordBytes);
    while (length < text.size() && length > 1 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
      length--;
    std::string word = "=?UTF-8?B?";
    AppendBase64(text.substr(0, length), &word);
    word += "?=";
    words->push_back(std::move(word));
    text.remove_prefix(length);
  }
}

std::vector<std::string_view> SplitAtBlanks(std::string_view text) {
  std::vector<std::string_view> parts;
  for (size_t at = 0;;) {
    size_t blank = text.find(' ', at);
    parts.push_back(text.substr(at, blank == std::string_view::npos ? std::string_view::npos : blank - at));
    if (blank == std::string_view::npos) return parts;
    at = blank + 1;
  }
}

// A word of unstructured text that cannot stay as it is: one that needs encoding, or one too
// long for any folded line (encoded words can be cut; a plain word cannot).
bool NeedsEncodedWords(std::string_view word) {
  return NeedsEncoding(word) || word.size() > kFoldColumn - 2;
}

// Plain words stay as they are; a run of words that need encoding, with the blanks between
// them, becomes encoded words (a reader drops the blanks between two encoded words and keeps
// those between an encoded and a plain one).
Words UnstructuredWords(std::string_view text) {
  std::vector<std::string_view> parts = SplitAtBlanks(text);
  Words words;
  for (size_t i = 0; i < parts.size();) {
    if (!NeedsEncodedWords(parts[i])) {
      words.emplace_back(parts[i++]);
      continue;
    }
    size_t end = i + 1;
    for (size_t j = end; j < parts.size() && (parts[j].empty() || NeedsEncodedWords(parts[j])); j++)
      if (!parts[j].empty()) end = j + 1;
    size_t first = size_t(parts[i].data() - text.data());
    size_t last = size_t(parts[end - 1].data() - text.data()) + parts[end - 1].size();
    AppendEncodedWords(text.substr(first, last - first), &words);
    i = end;
  }
  return words;
}

bool IsAtomCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

// local@domain of atom characters and dots: what GMime would write unchanged.
bool IsPlainAddress(std::string_view address) {
  size_t at = address.find('@');
  if (at == 0 || at == std::string_view::npos || at + 1 == address.size()) return false;
  for (size_t i = 0; i < address.size(); i++)
    if (i != at && !IsAtomCharacter(address[i]) && address[i] != '.') return false;
  return true;
}

std::string QuotedString(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// A display name as one word (readers do not all unfold inside a name): plain words, a quoted
// string (also for runs of blanks, which a reader would collapse between plain words), or
// encoded words.
std::string Phrase(const std::string &name) {
  if (NeedsEncoding(name)) {
    Words encoded;
    AppendEncodedWords(name, &encoded);
    std::string phrase;
    for (const std::string &word : encoded) phrase += (phrase.empty() ? "" : " ") + word;
    return phrase;
  }
  bool plain = name.find("  ") == std::string::npos &&
               std::all_of(name.begin(), name.end(), [](char c) { return c == ' ' || IsAtomCharacter(c); });
  return plain ? name : QuotedString(name);
}

// GMime's form of a mailbox, cut into words at blanks outside quoted strings.
void AppendGMimeMailbox(const std::string &name, const std::string &address, Words *words) {
  InitMimeWriter();
  InternetAddress *mailbox = internet_address_mailbox_new(name.c_str(), address.c_str());
  internet_address_set_charset(mailbox, "utf-8");
  char *text = internet_address_to_string(mailbox, nullptr, TRUE);
  g_object_unref(mailbox);
  std::string word;
  bool quoted = false, escaped = false;
  for (const char *c = text ? text : ""; *c; c++) {
    if (*c == ' ' && !quoted) {
      if (!word.empty()) words->push_back(std::move(word));
      word.clear();
      continue;
    }
    if (quoted && *c == '"' && !escaped)
      quoted = false;
    else if (!quoted && *c == '"')
      quoted = true;
    escaped = quoted && *c == '\\' && !escaped;
    word += *c;
  }
  if (!word.empty()) words->push_back(std::move(word));
  g_free(text);
}

// False when the mailbox has no address.
bool AppendMailbox(const MailAddress &mailbox, Words *words) {
  std::string address = ValidUTF8(HeaderValue(mailbox.address));
  if (address.empty()) return false;
  std::string name = ValidUTF8(HeaderValue(mailbox.name));
  if (!IsPlainAddress(address)) {
    AppendGMimeMailbox(name, address, words);
    return true;
  }
  if (!name.empty()) words->push_back(Phrase(name));
  words->push_back(name.empty() ? address : "<" + address + ">");
  return true;
}

}  // namespace

std::string TextHeaderField(std::string_view name, std::string_view text) {
  return Field(name, UnstructuredWords(ValidUTF8(HeaderValue(text))));
}

std::string AddressHeaderField(std::string_view name, const std::vector<MailAddress> &mailboxes) {
  Words words;
  for (const MailAddress &mailbox : mailboxes) {
    size_t before = words.size();
    if (AppendMailbox(mailbox, &words) && before > 0) words[before - 1] += ',';
  }
  return words.empty() ? std::string() : Field(name, words);
}

std::string DateHeaderField(time_t when) {
  static constexpr const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm local {};
  localtime_r(&when, &local);
  long offset = local.tm_gmtoff / 60;
  char line[64];
  std::snprintf(line, sizeof line, "Date: %s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld\n",
                kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', std::labs(offset) / 60,
                std::labs(offset) % 60);
  return line;
}

std::string Base64Lines(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 3 * 4 + bytes.size() / kBase64LineBytes + 8);
  for (size_t at = 0; at < bytes.size(); at += kBase64LineBytes) {
    AppendBase64(bytes.substr(at, kBase64LineBytes), &out);
    out += '\n';
  }
  return out;
}
