// The CSV reader, over libcsv in strict mode. libcsv does not count lines, so the text is fed
// to it one line at a time, and a row starts on the first line fed after the previous row
// ended that is not empty.
#include "host/Csv.h"

#include <csv.h>

#include <memory>

namespace host {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct Reader {
  CsvTable *table = nullptr;
  int line = 1;            // the line being fed
  bool atRowStart = true;  // no byte of the next row has been fed yet
  int rowLine = 1;         // where the row being read starts
  bool inHeader = true;    // the first row is still being read
  bool tooManyColumns = false;
  CsvRow row;  // the row being read
  size_t fieldsInRow = 0;
};

void EndField(void *bytes, size_t length, void *data) {
  auto *reader = static_cast<Reader *>(data);
  std::string_view field(static_cast<const char *>(bytes), bytes != nullptr ? length : 0);
  if (reader->fieldsInRow++ == 0) reader->row.line = reader->rowLine;
  if (reader->inHeader) {
    if (reader->row.fields.size() >= kCsvMaxColumns) {
      reader->tooManyColumns = true;
      return;
    }
  } else if (reader->row.fields.size() >= reader->table->header.size()) {
    reader->row.extraFields++;
    return;
  }
  reader->row.fields.emplace_back(field);
}

void EndRow(int, void *data) {
  auto *reader = static_cast<Reader *>(data);
  if (reader->inHeader) {
    reader->table->headerLine = reader->row.line;
    reader->table->header = std::move(reader->row.fields);
    reader->inHeader = false;
  } else {
    reader->table->rows.push_back(std::move(reader->row));
  }
  reader->row = CsvRow();
  reader->fieldsInRow = 0;
  reader->atRowStart = true;
}

struct ParserDeleter {
  void operator()(csv_parser *parser) const {
    csv_free(parser);
    delete parser;
  }
};

std::string ParseError(int line) {
  return "line " + std::to_string(line) +
         ": a quotation mark inside an unquoted field, or text after a closing quotation mark";
}

std::string TooManyColumns(int line) {
  return "line " + std::to_string(line) + ": more than " + std::to_string(kCsvMaxColumns) + " columns";
}

}  // namespace

bool ParseCsv(std::string_view bytes, CsvTable *table, std::string *error) {
  *table = CsvTable();
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) bytes.remove_prefix(kByteOrderMark.size());
  std::unique_ptr<csv_parser, ParserDeleter> parser(new csv_parser);
  if (csv_init(parser.get(), CSV_STRICT | CSV_STRICT_FINI) != 0) {
    *error = "out of memory";
    return false;
  }
  Reader reader;
  reader.table = table;
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find_first_of("\r\n", start);
    end = end == std::string_view::npos ? bytes.size() : end + 1;
    std::string_view chunk = bytes.substr(start, end - start);
    if (reader.atRowStart && chunk.find_first_not_of("\r\n") != std::string_view::npos) {
      reader.atRowStart = false;
      reader.rowLine = reader.line;
    }
    if (csv_parse(parser.get(), bytes.data() + start, end - start, EndField, EndRow, &reader) !=
        end - start) {
      *error = csv_error(parser.get()) == CSV_EPARSE ? ParseError(reader.line) : "out of memory";
      return false;
    }
    if (reader.tooManyColumns) {
      *error = TooManyColumns(reader.line);
      return false;
    }
    bool lineEnds = bytes[end - 1] == '\n' || (end == bytes.size() || bytes[end] != '\n');
    if (lineEnds) reader.line++;
    start = end;
  }
  if (csv_fini(parser.get(), EndField, EndRow, &reader) != 0) {
    *error = "line " + std::to_string(reader.rowLine) + ": a quotation mark that never closes";
    return false;
  }
  if (reader.tooManyColumns) {
    *error = TooManyColumns(reader.rowLine);
    return false;
  }
  if (reader.inHeader) {
    *error = "no header row naming the fields";
    return false;
  }
  return true;
}

}  // namespace host
