// FileMaker Pro: the stand-in for the database application ('FMP7'). It serves one SQLite
// database, opened read-only, as FileMaker serves its front database: the user opens the
// file with it ('aevt'/'odoc', the last document opened being the one served), and the
// plug-in asks with 'core'/'getd' for
//   the name of every field   'obj '{ 'form':'prop', 'want':type('prop'), 'seld':type('pnam'),
//                                     'from':'obj '{ 'form':'indx', 'want':type('ccol'),
//                                                    'seld':'abso'('all '), 'from':null() } }
//   record n (1 = the first)  'obj '{ 'form':'indx', 'want':type('crow'), 'seld':n, 'from':null() }
//
// What is served: the database's first table in creation order. Its columns, in order, are
// the fields ('ccol'), and its rows, in rowid order, the records ('crow') 1, 2, ... The field
// names answer as a list of texts; a record as a list of its values, each a text: NULL is
// the empty text, numbers are their decimal text, a BLOB is its bytes, and a text that is a
// JSON array of texts is a repeating field, answered as a list of those texts. Texts go out
// as UTF-8 ('utf8'); the Apple Event Manager turns them into whatever the asker wants. A
// database without a table has no fields. A record that does not exist, a request before any
// database was opened, and a request of any other shape answer errAENoSuchObject with no
// direct parameter.
#include "apps/kit/StandInApp.h"

#include <MacErrors.h>

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr OSType kFileMakerCreator = FourCC("FMP7");
constexpr DescType kFieldClass = FourCC("ccol");
constexpr DescType kRecordClass = FourCC("crow");

struct Closer {
  void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
  void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, Closer>;
using Statement = std::unique_ptr<sqlite3_stmt, Closer>;

Statement Prepare(sqlite3 *db, const std::string &sql) {
  sqlite3_stmt *statement = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &statement, nullptr);
  return Statement(statement);
}

std::string ColumnText(sqlite3_stmt *statement, int column) {
  const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
  return text != nullptr ? std::string(text, size_t(sqlite3_column_bytes(statement, column))) : std::string();
}

// An SQL identifier in double quotes, whatever it holds.
std::string Quoted(const std::string &name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// A statement of the cache in use: reset, its bindings cleared, once it goes out of scope.
class Cursor {
 public:
  explicit Cursor(sqlite3_stmt *statement) : statement_(statement) {}
  ~Cursor() {
    if (statement_ == nullptr) return;
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Cursor(const Cursor &) = delete;
  Cursor &operator=(const Cursor &) = delete;
  sqlite3_stmt *get() const { return statement_; }
  bool Step() const { return statement_ != nullptr && sqlite3_step(statement_) == SQLITE_ROW; }

 private:
  sqlite3_stmt *statement_;
};

// One field of a record: a plain value, or the values of a repeating field.
struct Field {
  bool repeating = false;
  std::vector<std::string> values;
};

// The database being served. Each request reads in one transaction, with statements prepared
// once. Consecutive records are read from where the last one was found, so a client reading
// records 1, 2, 3, ... never makes the database count rows again; the place is forgotten
// once another process has changed the database.
class Served {
 public:
  // Opens path read-only and checks that it is a database; the SQLite error code otherwise.
  int Open(const std::string &path) {
    sqlite3 *db = nullptr;
    int status = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    Database opened(db);
    if (status == SQLITE_OK)
      status = sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    if (status != SQLITE_OK) return status;
    statements_.clear();
    db_ = std::move(opened);
    place_ = {};
    return SQLITE_OK;
  }

  // The columns of the first table; none for a database without a table.
  bool FieldNames(std::vector<std::string> *names) {
    if (db_ == nullptr) return false;
    Transaction reading(this);
    std::string table;
    if (!FirstTable(&table)) return true;
    Cursor statement = Use("SELECT * FROM " + Quoted(table) + " LIMIT 0");
    if (statement.get() == nullptr) return false;
    for (int column = 0; column < sqlite3_column_count(statement.get()); column++)
      names->push_back(sqlite3_column_name(statement.get(), column));
    return true;
  }

  // Record number index (1 = the first) as its values; false when there is no such record.
  bool Record(int64_t index, std::vector<Field> *fields) {
    if (index < 1 || db_ == nullptr) return false;
    Transaction reading(this);
    ForgetPlaceIfChanged();
    bool next = place_.index != 0 && index == place_.index + 1;
    std::string table;
    if (!FirstTable(&table)) return false;
    // A table without rowids gives its rows in the order SQLite keeps them.
    bool byRowid = HasRowids(table);
    next = next && byRowid;
    Cursor statement = Use("SELECT " + std::string(byRowid ? "rowid" : "NULL") + ", * FROM " + Quoted(table) +
                           (next      ? " WHERE rowid > ?1 ORDER BY rowid LIMIT 1"
                            : byRowid ? " ORDER BY rowid LIMIT 1 OFFSET ?1"
                                      : " LIMIT 1 OFFSET ?1"));
    if (statement.get() == nullptr) return false;
    sqlite3_bind_int64(statement.get(), 1, next ? place_.rowid : index - 1);
    if (!statement.Step()) return false;
    place_ = byRowid ? Place{index, sqlite3_column_int64(statement.get(), 0)} : Place{};
    for (int column = 1; column < sqlite3_column_count(statement.get()); column++) {
      fields->push_back(ReadField(statement.get(), column));
    }
    return true;
  }

 private:
  struct Place {
    int64_t index = 0;  // 0: no record read yet
    int64_t rowid = 0;
  };

  // BEGIN when made, COMMIT when done: one read of the database for a whole request.
  struct Transaction {
    explicit Transaction(Served *served) : served(served) { served->Use("BEGIN").Step(); }
    ~Transaction() { served->Use("COMMIT").Step(); }
    Served *served;
  };

  // The statement for sql, prepared on first use; a cursor over null when it cannot be.
  Cursor Use(const std::string &sql) {
    auto found = statements_.find(sql);
    if (found == statements_.end()) {
      Statement prepared = Prepare(db_.get(), sql);
      if (prepared == nullptr) return Cursor(nullptr);
      found = statements_.emplace(sql, std::move(prepared)).first;
    }
    return Cursor(found->second.get());
  }

  bool FirstTable(std::string *name) {
    Cursor first =
        Use("SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
            "ORDER BY rowid LIMIT 1");
    if (!first.Step()) return false;
    *name = ColumnText(first.get(), 0);
    return true;
  }

  bool HasRowids(const std::string &table) {
    return Use("SELECT rowid FROM " + Quoted(table) + " LIMIT 0").get();
  }

  void ForgetPlaceIfChanged() {
    Cursor version = Use("PRAGMA data_version");
    int64_t now = version.Step() ? sqlite3_column_int64(version.get(), 0) : -1;
    if (now != dataVersion_) place_ = {};
    dataVersion_ = now;
  }

  // A text that is a JSON array of texts is a repeating field; anything else one value.
  Field ReadField(sqlite3_stmt *row, int column) {
    Field plain{false, {ColumnText(row, column)}};
    const std::string &value = plain.values[0];
    if (sqlite3_column_type(row, column) != SQLITE_TEXT || value.empty() || value[0] != '[') return plain;
    Cursor elements =
        Use("SELECT value, type FROM json_each(CASE WHEN json_valid(?1) AND json_type(?1) = 'array' THEN ?1 "
            "ELSE '[0]' END) ORDER BY key");
    if (elements.get() == nullptr) return plain;
    sqlite3_bind_text(elements.get(), 1, value.data(), int(value.size()), SQLITE_STATIC);
    Field repeating{true, {}};
    while (elements.Step()) {
      if (ColumnText(elements.get(), 1) != "text") return plain;
      repeating.values.push_back(ColumnText(elements.get(), 0));
    }
    return repeating;
  }

  Database db_;
  std::map<std::string, Statement> statements_;  // by their SQL; finalized before db_ closes
  Place place_;
  int64_t dataVersion_ = -1;
};

// The parts of an object specifier that tell the two requests apart.
struct Specifier {
  DescType form = 0;
  DescType want = 0;
  AEDesc seld;
  AEDesc from;
};

OSErr ReadSpecifier(const AEDesc &object, Specifier *out) {
  DescType type;
  Size size;
  OSErr err = AEGetKeyPtr(&object, keyAEKeyForm, typeEnumerated, &type, &out->form, sizeof out->form, &size);
  if (err == noErr)
    err = AEGetKeyPtr(&object, keyAEDesiredClass, typeType, &type, &out->want, sizeof out->want, &size);
  if (err == noErr) err = AEGetKeyDesc(&object, keyAEKeyData, typeWildCard, &out->seld);
  if (err == noErr) err = AEGetKeyDesc(&object, keyAEContainer, typeWildCard, &out->from);
  return err;
}

void DisposeSpecifier(Specifier *specifier) {
  AEDisposeDesc(&specifier->seld);
  AEDisposeDesc(&specifier->from);
}

bool IsCode(const AEDesc &desc, DescType type, OSType code) {
  OSType value = 0;
  return desc.descriptorType == type && AEGetDescDataSize(&desc) == 4 &&
         AEGetDescData(&desc, &value, 4) == noErr && value == code;
}

// 'obj '{ 'form':'indx', 'want':type('ccol'), 'seld':'abso'('all '), 'from':null() }
bool IsEveryField(const AEDesc &object) {
  Specifier inner;
  AEInitializeDesc(&inner.seld);
  AEInitializeDesc(&inner.from);
  bool every = object.descriptorType == typeObjectSpecifier && ReadSpecifier(object, &inner) == noErr &&
               inner.form == formAbsolutePosition && inner.want == kFieldClass &&
               IsCode(inner.seld, typeAbsoluteOrdinal, kAEAll) && inner.from.descriptorType == typeNull;
  DisposeSpecifier(&inner);
  return every;
}

OSErr PutTexts(AEDescList *list, const std::vector<std::string> &texts) {
  AEInitializeDesc(list);
  OSErr err = AECreateList(nullptr, 0, false, list);
  for (size_t at = 0; err == noErr && at < texts.size(); at++) {
    err = AEPutPtr(list, 0, typeUTF8Text, texts[at].data(), Size(texts[at].size()));
  }
  return err;
}

OSErr AnswerFieldNames(Served &served, AppleEvent &reply) {
  std::vector<std::string> names;
  if (!served.FieldNames(&names)) return errAENoSuchObject;
  AEDescList list;
  OSErr err = PutTexts(&list, names);
  if (err == noErr) err = AEPutParamDesc(&reply, keyDirectObject, &list);
  AEDisposeDesc(&list);
  return err;
}

OSErr AnswerRecord(Served &served, SInt32 index, AppleEvent &reply) {
  std::vector<Field> fields;
  if (!served.Record(index, &fields)) return errAENoSuchObject;
  AEDescList list;
  OSErr err = AECreateList(nullptr, 0, false, &list);
  for (size_t at = 0; err == noErr && at < fields.size(); at++) {
    const Field &field = fields[at];
    if (!field.repeating) {
      err = AEPutPtr(&list, 0, typeUTF8Text, field.values[0].data(), Size(field.values[0].size()));
      continue;
    }
    AEDescList values;
    if ((err = PutTexts(&values, field.values)) == noErr) err = AEPutDesc(&list, 0, &values);
    AEDisposeDesc(&values);
  }
  if (err == noErr) err = AEPutParamDesc(&reply, keyDirectObject, &list);
  AEDisposeDesc(&list);
  return err;
}

bool IsFieldNamesRequest(const Specifier &request) {
  return request.form == formPropertyID && request.want == formPropertyID &&
         IsCode(request.seld, typeType, pName) && IsEveryField(request.from);
}

bool IsRecordRequest(const Specifier &request, SInt32 *index) {
  return request.form == formAbsolutePosition && request.want == kRecordClass &&
         request.from.descriptorType == typeNull && request.seld.descriptorType == typeSInt32 &&
         AEGetDescData(&request.seld, index, sizeof *index) == noErr;
}

OSErr GetData(Served &served, const AppleEvent &event, AppleEvent &reply) {
  AEDesc object;
  AEInitializeDesc(&object);
  Specifier request;
  AEInitializeDesc(&request.seld);
  AEInitializeDesc(&request.from);
  bool read = AEGetParamDesc(&event, keyDirectObject, typeWildCard, &object) == noErr &&
              object.descriptorType == typeObjectSpecifier && ReadSpecifier(object, &request) == noErr;
  SInt32 index = 0;
  OSErr err = errAENoSuchObject;
  if (read && IsFieldNamesRequest(request)) {
    err = AnswerFieldNames(served, reply);
  } else if (read && IsRecordRequest(request, &index)) {
    err = AnswerRecord(served, index, reply);
  }
  DisposeSpecifier(&request);
  AEDisposeDesc(&object);
  return err;
}

OSErr OpenDocuments(standin::StandInApp &app, Served &served, const AppleEvent &event) {
  std::vector<std::string> paths;
  OSErr err = standin::GetDocumentPaths(event, &paths);
  for (size_t at = 0; err == noErr && at < paths.size(); at++) {
    int status = served.Open(paths[at]);
    app.Journal("# open " + paths[at] +
                (status == SQLITE_OK ? "" : ": " + std::string(sqlite3_errstr(status))));
    if (status == SQLITE_CANTOPEN)
      err = fnfErr;
    else if (status != SQLITE_OK)
      err = errAEEventFailed;
  }
  return err;
}

}  // namespace

int main(int argc, char **argv) {
  Served served;
  return standin::StandInMain(
      argc, argv, kFileMakerCreator, "FileMaker Pro", [&served](standin::StandInApp &app) {
        app.InstallEventHandler(kCoreEventClass, kAEOpenDocuments,
                                [&app, &served](const AppleEvent &event, AppleEvent &) {
                                  return OpenDocuments(app, served, event);
                                });
        app.InstallEventHandler(
            kAECoreSuite, kAEGetData,
            [&served](const AppleEvent &event, AppleEvent &reply) { return GetData(served, event, reply); });
      });
}
