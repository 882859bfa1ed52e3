// Fuzzes the CSV reader and the conversion of its rows into records: any bytes either are
// refused with a message naming a line, or give a header within the column limit and rows
// that start on lines of the text, in order, no longer than the header; and every row then
// converts into a record (or findings) without reading out of bounds.
#include <algorithm>
#include <cstdint>
#include <string>

#include "host/Csv.h"
#include "host/Preflight.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char *>(data), size);
  host::CsvTable table;
  std::string error;
  if (!host::ParseCsv(bytes, &table, &error)) {
    if (error.rfind("line ", 0) != 0 && error != "no header row naming the fields") __builtin_trap();
    return 0;
  }
  if (table.header.size() > host::kCsvMaxColumns) __builtin_trap();
  int lines =
      1 + int(std::count(bytes.begin(), bytes.end(), '\n') + std::count(bytes.begin(), bytes.end(), '\r'));
  int previous = 0;
  for (const host::CsvRow &row : table.rows) {
    if (row.line <= previous || row.line > lines || row.fields.size() > table.header.size()) __builtin_trap();
    previous = row.line;
  }
  host::MergeInput input;
  input.dataPath = "fuzz.csv";
  std::vector<host::Finding> findings;
  host::ConvertRecords(table, &input, &findings);
  if (input.records.size() != table.rows.size()) __builtin_trap();
  return 0;
}
