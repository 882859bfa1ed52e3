// What `quillcast merge` knows before anything is sent: the records in the external's
// character set, each record's recipients and attachments merged as the external will merge
// them, and the findings that keep a merge from starting (unless forced): placeholders that
// name no field, rows that do not fit the header, characters Mac OS Roman cannot hold,
// recipients that are missing, not addresses or repeated, and attachments that are missing,
// unreadable or, when a record's data names them, outside the template's folder.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/Csv.h"
#include "host/MergeTemplate.h"

namespace host {

// One finding: where ("people.csv:7" names a record by its line in the file) and what.
struct Finding {
  std::string where;
  std::string what;
};

struct MergeRecord {
  int line = 0;                          // where the record starts in the data file
  std::vector<std::string> values;       // Mac OS Roman, one per field of the header
  std::vector<std::string> attachments;  // absolute paths (UTF-8) of its files, in template order
  bool hasRecipients = false;            // To, Cc or Bcc merge to a text that is not empty
};

struct MergeInput {
  std::string dataPath;
  std::vector<std::string> fields;  // the header's names, Mac OS Roman
  std::vector<MergeRecord> records;
  MergeTemplate letter;
  std::string templateFolder;  // absolute, symbolic links resolved
};

// The external's lookup of a placeholder's name in the field list: the first field whose
// name equals it without regard to case (folded as the external folds Mac OS Roman).
class FieldIndex {
 public:
  explicit FieldIndex(const std::vector<std::string> &fields);
  int Find(const std::string &name) const;  // -1 when no field has that name

 private:
  std::map<std::string, int> byName_;
};

// A template text merged with one record, as the external merges it: every placeholder that
// names a field becomes the record's value (empty when the record is short), «§∆» becomes
// number, and every other text stays as it is.
std::string MergeRecordText(const std::string &text, const FieldIndex &index,
                            const std::vector<std::string> &values, int number);

// Converts the table's header and rows into input (fields, records with line and values),
// adding a finding for each character Mac OS Roman cannot hold or the record store cannot
// keep, and for each row longer or shorter than the header.
void ConvertRecords(const CsvTable &table, MergeInput *input, std::vector<Finding> *findings);

// Merges each record's recipients and attachments (filling hasRecipients and attachments)
// and adds the findings about the template's placeholders, recipients and attachments.
void CheckRecords(MergeInput *input, bool allowAnyAttachment, std::vector<Finding> *findings);

}  // namespace host
