#include "host/MergeTemplate.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "host/MacRoman.h"

namespace host {

const char *const kEncodingNames[7] = {"Service Default", "No Encoding", "BinHex",     "Base64",
                                       "UUEncode",        "AppleSingle", "AppleDouble"};

namespace {

struct HeaderName {
  const char *name;
  TemplateHeader header;
  bool repeats;
};

constexpr std::array<HeaderName, 8> kHeaders = {{{"To", TemplateHeader::to, true},
                                                 {"Cc", TemplateHeader::cc, true},
                                                 {"Bcc", TemplateHeader::bcc, true},
                                                 {"Subject", TemplateHeader::subject, false},
                                                 {"Attach", TemplateHeader::attach, true},
                                                 {"Account", TemplateHeader::account, false},
                                                 {"Encoding", TemplateHeader::encoding, false},
                                                 {"HTML", TemplateHeader::html, false}}};

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// {{Name}} becomes «Name» (in UTF-8, before the conversion), blanks around the name dropped.
std::string EasyPlaceholders(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t at = 0;
  for (size_t open; (open = text.find("{{", at)) != std::string_view::npos;) {
    size_t close = text.find("}}", open + 2);
    std::string_view name =
        close == std::string_view::npos ? std::string_view() : text.substr(open + 2, close - open - 2);
    if (close == std::string_view::npos || name.find_first_of("{}\r\n") != std::string_view::npos ||
        Trim(name).empty()) {
      out.append(text.substr(at, open + 2 - at));
      at = open + 2;
      continue;
    }
    out.append(text.substr(at, open - at)).append("\xC2\xAB").append(Trim(name)).append("\xC2\xBB");
    at = close + 2;
  }
  return out.append(text.substr(at));
}

std::string Where(const std::string &path, int line) {
  return path + ":" + std::to_string(line) + ": ";
}

// Converts one part to Mac OS Roman; the error names the line of the bad character.
bool ToRoman(const std::string &path, TemplatePart *part, std::string *error) {
  std::string roman, problem;
  size_t offset = 0;
  std::string utf8 = EasyPlaceholders(part->text);
  if (size_t nul = utf8.find('\0'); nul != std::string::npos) {
    *error = Where(path, part->line + int(std::count(utf8.begin(), utf8.begin() + nul, '\n'))) + "a NUL byte";
    return false;
  }
  if (ToMacRoman(utf8, &roman, &problem, &offset)) {
    part->text = std::move(roman);
    return true;
  }
  int line = part->line + int(std::count(utf8.begin(), utf8.begin() + offset, '\n'));
  *error = Where(path, line) + problem + (problem[0] == 'U' ? " cannot be written in Mac OS Roman" : "");
  return false;
}

// Checks the value of an option header and writes it the way the external reads it.
bool NormaliseOption(const std::string &path, TemplatePart *part, std::string *error) {
  if (part->header == TemplateHeader::encoding) {
    for (const char *name : kEncodingNames) {
      if (SameLetters(part->text, name)) return part->text = name, true;
    }
    std::string names;
    for (const char *name : kEncodingNames) names += std::string(names.empty() ? "" : ", ") + name;
    *error = Where(path, part->line) + "unknown encoding \"" + part->text + "\" (one of " + names + ")";
    return false;
  }
  if (part->header == TemplateHeader::html) {
    if (SameLetters(part->text, "true") || SameLetters(part->text, "yes")) return part->text = "true", true;
    if (SameLetters(part->text, "false") || SameLetters(part->text, "no")) return part->text = "false", true;
    *error = Where(path, part->line) + "HTML: must be true or false, not \"" + part->text + "\"";
    return false;
  }
  return true;
}

bool HeaderLine(const std::string &path, int line, std::string_view text, MergeTemplate *result,
                std::string *error) {
  if (text[0] == ' ' || text[0] == '\t') {
    if (result->parts.empty()) {
      *error = Where(path, line) + "a continuation line with no header line above it";
      return false;
    }
    result->parts.back().text += " " + std::string(Trim(text));
    return true;
  }
  size_t colon = text.find(':');
  std::string_view name = colon == std::string_view::npos ? std::string_view() : Trim(text.substr(0, colon));
  if (name.empty() || name.find_first_of(" \t") != std::string_view::npos) {
    *error = Where(path, line) + "\"" + std::string(text.substr(0, 60)) +
             "\" is not a header line (Name: value); the header lines come first, then a blank line, then "
             "the body";
    return false;
  }
  for (const HeaderName &known : kHeaders) {
    if (!SameLetters(name, known.name)) continue;
    for (const TemplatePart &part : result->parts) {
      if (part.header == known.header && !known.repeats) {
        *error = Where(path, line) + known.name + " is given twice (also on line " +
                 std::to_string(part.line) + ")";
        return false;
      }
    }
    result->parts.push_back({known.header, line, std::string(Trim(text.substr(colon + 1)))});
    return true;
  }
  std::string names;
  for (const HeaderName &known : kHeaders) names += std::string(names.empty() ? "" : ", ") + known.name;
  *error = Where(path, line) + "unknown header \"" + std::string(name) + "\" (known: " + names + ")";
  return false;
}

}  // namespace

bool ParseMergeTemplate(const std::string &path, std::string_view bytes, MergeTemplate *result,
                        std::string *error) {
  *result = MergeTemplate{path, {}};
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  std::string text(bytes);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  int line = 1;
  size_t at = 0;
  for (; at < text.size(); line++) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a last line without its line end: no blank line follows
    std::string_view current(text.data() + at, end - at);
    at = end + 1;
    if (Trim(current).empty()) {
      result->parts.push_back({TemplateHeader::body, line + 1, text.substr(at)});
      for (TemplatePart &part : result->parts) {
        if (!ToRoman(path, &part, error) || !NormaliseOption(path, &part, error)) return false;
      }
      return true;
    }
    if (!HeaderLine(path, line, current, result, error)) return false;
  }
  if (at < text.size() && !HeaderLine(path, line, std::string_view(text).substr(at), result, error))
    return false;
  *error =
      path + ": no blank line after the header lines (To:, Subject:, ...); the body follows a blank line";
  return false;
}

std::string TemplateText(const MergeTemplate &merge, TemplateHeader header) {
  const char *separator = header == TemplateHeader::attach ? "\n" : ", ";
  std::string text;
  bool first = true;
  for (const TemplatePart &part : merge.parts) {
    if (part.header != header) continue;
    if (!first) text += separator;
    text += part.text;
    first = false;
  }
  return text;
}

int TemplateLine(const MergeTemplate &merge, TemplateHeader header) {
  for (const TemplatePart &part : merge.parts) {
    if (part.header == header) return part.line;
  }
  return 0;
}

std::vector<Placeholder> FindPlaceholders(std::string_view text) {
  std::vector<Placeholder> found;
  size_t start = std::string_view::npos;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\xC7') {
      start = i;
    } else if (text[i] == '\xC8' && start != std::string_view::npos) {
      found.push_back({start, i + 1 - start, std::string(text.substr(start + 1, i - start - 1))});
      start = std::string_view::npos;
    }
  }
  return found;
}

}  // namespace host
