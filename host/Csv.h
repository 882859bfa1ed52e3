// Reading the records of a merge from a CSV file (RFC 4180): quoted fields with embedded
// commas, quotes and line breaks, CRLF or LF line ends, an optional UTF-8 byte-order mark.
// The first row names the fields. Every row remembers the line of the file it starts on, so
// that messages about it can name that line. Bytes are passed through as they are: what
// the fields may hold is decided by the caller.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// The most columns a header may name: the merge engine numbers fields with 16 bits.
inline constexpr size_t kCsvMaxColumns = 32000;

struct CsvRow {
  int line = 0;                     // 1-based line of the file where the row starts
  std::vector<std::string> fields;  // at most as many as the header names (see extraFields)
  size_t extraFields = 0;           // fields beyond the header's, which are not kept
};

struct CsvTable {
  int headerLine = 1;
  std::vector<std::string> header;
  std::vector<CsvRow> rows;  // blank lines are not rows
};

// Parses bytes into table. False with *error ("line N: ...") for text that is not CSV: an
// unbalanced quotation mark, a quotation mark inside an unquoted field, no header row, or a
// header of more than kCsvMaxColumns names. Rows longer or shorter than the header are not
// errors here; the caller sees them in extraFields and fields.size().
bool ParseCsv(std::string_view bytes, CsvTable *table, std::string *error);

}  // namespace host
