// The message template of `quillcast merge`: a UTF-8 text file of header lines, a blank line,
// then the body.
//
//   To: {{First}} {{Last}} <{{Email}}>
//   Cc: office@example.com
//   Subject: Your invoice, «First»
//   Attach: invoices/{{Invoice}}.pdf
//
//   Dear {{First}}, ...
//
// Header names (case does not matter): To, Cc, Bcc (repeated lines add recipients), Subject,
// Attach (one file per line; relative paths are taken from the template's folder), Account,
// Encoding (one of the external's encoding names) and HTML (true or false). A line that
// starts with a blank continues the header line above it. «Field» is a placeholder as the
// external knows it, {{Field}} an easier spelling of the same; «§∆» is the record number.
// The text is converted to Mac OS Roman, the external's character set, on the way in.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace host {

enum class TemplateHeader { to, cc, bcc, subject, attach, account, encoding, html, body };

// One header line (continuations joined), or the body; text in Mac OS Roman with LF line ends.
struct TemplatePart {
  TemplateHeader header;
  int line;  // 1-based line of the file where it starts
  std::string text;
};

struct MergeTemplate {
  std::string path;
  std::vector<TemplatePart> parts;  // in file order; the body, if any, last
};

// The encoding names the external offers, in the order of its codes.
extern const char *const kEncodingNames[7];

// Parses the file's bytes. False with *error "PATH:LINE: ..." (or "PATH: ...") for a file
// without the blank line that ends the header lines, a line that is not "Name: value", an
// unknown header name, Subject, Account, Encoding or HTML given twice, an encoding or HTML
// value the external does not know, bytes that are not UTF-8 or a character Mac OS Roman
// cannot hold.
bool ParseMergeTemplate(const std::string &path, std::string_view bytes, MergeTemplate *result,
                        std::string *error);

// The text the external's host global of that header gets: the header's lines joined (To,
// Cc and Bcc with ", ", Attach one per line), empty when the template has none.
std::string TemplateText(const MergeTemplate &merge, TemplateHeader header);

// The line of the header's first part, 0 when the template has none.
int TemplateLine(const MergeTemplate &merge, TemplateHeader header);

// A placeholder as the external finds it: the name between « and » (bytes 0xC7, 0xC8), a
// second « restarting the name. offset is where its « is.
struct Placeholder {
  size_t offset;
  size_t length;  // both marks included
  std::string name;
};
std::vector<Placeholder> FindPlaceholders(std::string_view text);

// The name of the record-number placeholder, «§∆», in Mac OS Roman.
inline constexpr std::string_view kRecordNumberName = "\xA4\xC6";

}  // namespace host
