#include "host/Preflight.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "host/MacRoman.h"

namespace host {

namespace {

namespace fs = std::filesystem;

// How the external compares names: ASCII letters and twelve accented Mac OS Roman letters
// fold to their capitals; every other byte stands for itself.
unsigned char Fold(unsigned char c) {
  static const unsigned char kPairs[][2] = {{0x88, 0xCB}, {0x89, 0x81}, {0x8A, 0x80}, {0x8B, 0xCC},
                                            {0x8C, 0x81}, {0x8D, 0x82}, {0x8E, 0x83}, {0x9A, 0x85},
                                            {0x9B, 0xCD}, {0xB9, 0xB8}, {0xBE, 0xAE}, {0xCF, 0xCE}};
  if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
  for (const auto &pair : kPairs) {
    if (pair[0] == c) return pair[1];
  }
  return c;
}

std::string Folded(const std::string &name) {
  std::string folded(name);
  for (char &c : folded) c = char(Fold(static_cast<unsigned char>(c)));
  return folded;
}

std::string Where(const std::string &path, int line) {
  return path + ":" + std::to_string(line);
}

// --- Records ---------------------------------------------------------------------------

// CRLF and lone CR line ends inside a quoted field become LF, the host's line end.
std::string LineFeeds(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '\r') {
      out += text[i];
    } else if (i + 1 == text.size() || text[i + 1] != '\n') {
      out += '\n';
    }
  }
  return out;
}

// A value as the record store can keep it: Mac OS Roman without NUL (the external takes C
// strings) and without 0xFF, its field separator; what it cannot keep becomes "?", so that a
// forced merge still gets every field whole. Empty *problem when nothing had to change.
std::string ConvertValue(const std::string &utf8, std::string *problem) {
  std::string roman;
  size_t offset = 0;
  problem->clear();
  if (!ToMacRoman(utf8, &roman, problem, &offset)) {
    if ((*problem)[0] == 'U') *problem += " cannot be written in Mac OS Roman";
  } else if (roman.find('\0') != std::string::npos) {
    *problem = "a NUL byte, which a record cannot hold";
  } else if (roman.find('\xFF') != std::string::npos) {
    *problem = "U+02C7 'ˇ', which is the record store's field separator";
  }
  std::replace(roman.begin(), roman.end(), '\0', '?');
  std::replace(roman.begin(), roman.end(), '\xFF', '?');
  return LineFeeds(roman);
}

// --- Recipients ----------------------------------------------------------------------------

bool Blank(char c) {
  return c == ' ' || c == '\r' || c == '\n' || c == '\t';
}

std::string TrimBlanks(std::string_view text) {
  size_t first = 0, last = text.size();
  while (first < last && Blank(text[first])) first++;
  while (last > first && Blank(text[last - 1])) last--;
  return std::string(text.substr(first, last - first));
}

struct Recipient {
  std::string item;     // as written
  std::string address;  // the part that the client takes for the address
};

// The recipients of a list, split as the external splits it: items at commas outside
// parentheses, the address inside <...>, else outside (...), else the whole item.
std::vector<Recipient> Recipients(const std::string &list) {
  std::vector<Recipient> recipients;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i <= list.size(); i++) {
    char c = i < list.size() ? list[i] : ',';
    if (c == '(') depth++;
    if (c == ')' && depth > 0) depth--;
    if (c != ',' || (depth > 0 && i < list.size())) continue;
    std::string item = TrimBlanks(std::string_view(list).substr(start, i - start));
    start = i + 1;
    if (item.empty()) continue;
    std::string address = item;
    size_t open = item.find('<');
    size_t close = open == std::string::npos ? open : item.find('>', open);
    if (close != std::string::npos) {
      address = item.substr(open + 1, close - open - 1);
    } else if ((open = item.find('(')) != std::string::npos &&
               (close = item.find(')', open)) != std::string::npos) {
      address = open <= item.size() - close - 1 ? item.substr(close + 1) : item.substr(0, open);
    }
    recipients.push_back({item, TrimBlanks(address)});
  }
  return recipients;
}

bool IsAddress(const std::string &address) {
  size_t at = address.rfind('@');
  if (at == std::string::npos || at == 0 || at + 1 == address.size()) return false;
  for (size_t i = 0; i < at; i++) {
    unsigned char c = address[i];
    if (c <= ' ' || c >= 0x7F || std::strchr("()<>[]:;@\\,\"", c) != nullptr) return false;
  }
  std::string_view domain = std::string_view(address).substr(at + 1);
  if (domain.front() == '.' || domain.back() == '.' || domain.find("..") != std::string_view::npos)
    return false;
  return std::all_of(domain.begin(), domain.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
  });
}

std::string Lower(std::string text) {
  for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// --- Attachments ---------------------------------------------------------------------------

bool NamesField(const std::string &text, const FieldIndex &index) {
  for (const Placeholder &place : FindPlaceholders(text)) {
    if (index.Find(place.name) >= 0) return true;
  }
  return false;
}

// The absolute path an Attach line names (relative ones from the template's folder).
std::string AttachmentPath(const std::string &merged, const std::string &folder) {
  std::string path = FromMacRoman(merged);
  if (path.rfind("~/", 0) == 0 && std::getenv("HOME") != nullptr) path = std::getenv("HOME") + path.substr(1);
  fs::path absolute = fs::path(path).is_absolute() ? fs::path(path) : fs::path(folder) / path;
  return absolute.lexically_normal().string();
}

// Why the file cannot be attached, or empty when it can.
std::string AttachmentProblem(const std::string &path, bool fromData, const std::string &folder) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return "attachment " + path + " does not exist";
  if (!S_ISREG(info.st_mode)) return "attachment " + path + " is not a file";
  if (access(path.c_str(), R_OK) != 0) return "attachment " + path + " cannot be read";
  if (!fromData) return "";
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return "attachment " + path + " cannot be resolved";
  std::string real(resolved);
  if (real.size() > folder.size() && real.compare(0, folder.size(), folder) == 0 &&
      (folder == "/" || real[folder.size()] == '/')) {
    return "";
  }
  return "attachment " + path + " comes from the record's data and lies outside the template's folder " +
         folder + " (--allow-any-attachment sends it anyway)";
}

void CheckTemplatePlaceholders(const MergeInput &input, const FieldIndex &index,
                               std::vector<Finding> *findings) {
  for (const TemplatePart &part : input.letter.parts) {
    for (const Placeholder &place : FindPlaceholders(part.text)) {
      if (place.name.empty() || place.name == kRecordNumberName || index.Find(place.name) >= 0) continue;
      int line = part.line + int(std::count(part.text.begin(), part.text.begin() + place.offset, '\n'));
      findings->push_back({Where(input.letter.path, line), "placeholder «" + FromMacRoman(place.name) +
                                                               "» names no field of " + input.dataPath});
    }
  }
}

void CheckRecipients(const MergeInput &input, const MergeRecord &record, const std::string &to,
                     std::map<std::string, int> *seen, std::vector<Finding> *findings) {
  std::string where = Where(input.dataPath, record.line);
  std::vector<Recipient> recipients = Recipients(to);
  if (recipients.empty()) findings->push_back({where, "To is empty"});
  for (const Recipient &recipient : recipients) {
    if (!IsAddress(recipient.address)) {
      findings->push_back(
          {where, "To holds \"" + FromMacRoman(recipient.item) + "\", which is not an address"});
      continue;
    }
    auto [found, added] = seen->emplace(Lower(recipient.address), record.line);
    if (!added) {
      findings->push_back({where, FromMacRoman(recipient.address) + " is already a recipient on line " +
                                      std::to_string(found->second)});
    }
  }
}

}  // namespace

FieldIndex::FieldIndex(const std::vector<std::string> &fields) {
  for (size_t i = 0; i < fields.size(); i++) byName_.emplace(Folded(fields[i]), int(i));
}

int FieldIndex::Find(const std::string &name) const {
  if (name.empty()) return -1;
  auto found = byName_.find(Folded(name));
  return found == byName_.end() ? -1 : found->second;
}

std::string MergeRecordText(const std::string &text, const FieldIndex &index,
                            const std::vector<std::string> &values, int number) {
  std::string merged;
  size_t copied = 0;
  for (const Placeholder &place : FindPlaceholders(text)) {
    std::string value;
    if (place.name == kRecordNumberName) {
      value = std::to_string(number);
    } else if (int field = index.Find(place.name); field >= 0) {
      value = size_t(field) < values.size() ? values[field] : std::string();
    } else {
      continue;
    }
    merged.append(text, copied, place.offset - copied).append(value);
    copied = place.offset + place.length;
  }
  return merged.append(text, copied, std::string::npos);
}

void ConvertRecords(const CsvTable &table, MergeInput *input, std::vector<Finding> *findings) {
  std::string problem;
  input->fields.clear();
  for (const std::string &name : table.header) {
    input->fields.push_back(ConvertValue(name, &problem));
    if (problem.empty() && input->fields.back().find('\n') != std::string::npos) problem = "a line break";
    if (!problem.empty()) {
      std::string what = "the field name \"" + name;
      findings->push_back(
          {Where(input->dataPath, table.headerLine), what.append("\" holds ").append(problem)});
    }
  }
  input->records.clear();
  input->records.reserve(table.rows.size());
  for (const CsvRow &row : table.rows) {
    MergeRecord record;
    record.line = row.line;
    std::string where = Where(input->dataPath, row.line);
    size_t count = row.fields.size() + row.extraFields;
    if (count != table.header.size()) {
      findings->push_back({where, std::to_string(count) + " fields, but the header names " +
                                      std::to_string(table.header.size())});
    }
    for (size_t i = 0; i < row.fields.size(); i++) {
      record.values.push_back(ConvertValue(row.fields[i], &problem));
      if (!problem.empty())
        findings->push_back({where, "field \"" + table.header[i] + "\" holds " + problem});
    }
    input->records.push_back(std::move(record));
  }
}

void CheckRecords(MergeInput *input, bool allowAnyAttachment, std::vector<Finding> *findings) {
  FieldIndex index(input->fields);
  CheckTemplatePlaceholders(*input, index, findings);
  std::string to = TemplateText(input->letter, TemplateHeader::to);
  std::string copies =
      TemplateText(input->letter, TemplateHeader::cc) + TemplateText(input->letter, TemplateHeader::bcc);
  std::set<std::string> reported;  // problems of fixed attachments, reported once
  std::map<std::string, int> seen;
  for (size_t n = 0; n < input->records.size(); n++) {
    MergeRecord &record = input->records[n];
    std::string mergedTo = MergeRecordText(to, index, record.values, int(n + 1));
    record.hasRecipients =
        !mergedTo.empty() || !MergeRecordText(copies, index, record.values, int(n + 1)).empty();
    CheckRecipients(*input, record, mergedTo, &seen, findings);
    for (const TemplatePart &part : input->letter.parts) {
      if (part.header != TemplateHeader::attach) continue;
      std::string merged = MergeRecordText(part.text, index, record.values, int(n + 1));
      if (TrimBlanks(merged).empty()) continue;
      bool fromData = NamesField(part.text, index);
      std::string path = AttachmentPath(merged, input->templateFolder);
      record.attachments.push_back(path);
      std::string problem = AttachmentProblem(path, fromData && !allowAnyAttachment, input->templateFolder);
      if (problem.empty()) continue;
      if (fromData) {
        findings->push_back({Where(input->dataPath, record.line), problem});
      } else if (reported.insert(problem).second) {
        findings->push_back({Where(input->letter.path, part.line), problem});
      }
    }
  }
}

}  // namespace host
