// FileMaker record retrieval against the FileMaker Pro stand-in, a real process serving a
// SQLite database that each test makes, opened with the host's open-app.
#include "filemaker/FileMaker.h"

#include <MacErrors.h>
#include <MacMemory.h>

#include "host/StandIns.h"
#include "store/Globals.h"
#include "store/RecordStore.h"
#include "tests/support/PluginResources.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char kFileMaker[] = "FileMaker Pro";

// The text of a result handle, which the caller no longer needs; "(null)" for none.
std::string Take(Handle text) {
  if (text == nullptr) return "(null)";
  std::string bytes(*text, size_t(GetHandleSize(text)));
  DisposeHandle(text);
  EXPECT_FALSE(bytes.empty());
  EXPECT_EQ(bytes.back(), '\0');
  return bytes.substr(0, bytes.size() - 1);
}

class FileMaker : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenPluginResources());
    std::string pattern = (fs::temp_directory_path() / "quillcast-filemaker-XXXXXX").string();
    home_ = mkdtemp(pattern.data());
    setenv("QUILLCAST_HOME", home_.c_str(), 1);
    unsetenv("QUILLCAST_TIME_SCALE");
    std::string standIn = std::string(std::getenv("QUILLCAST_BUILD_DIR")) + "/apps/bin/" + kFileMaker;
    ASSERT_EQ(host::InstallStandIns({standIn}, host::ApplicationsVolume(), false, stderr), 0);
    ASSERT_TRUE(InitDictionary(&globals.records));
    blocks_ = CarbonLiveBlocks();
  }
  void TearDown() override {
    for (int pid : host::RunningApplications(kFileMaker)) kill(pid, SIGCONT);
    host::KillApplications(kFileMaker, 10);
    unsetenv("QUILLCAST_TIME_SCALE");
    EXPECT_EQ(CarbonLiveBlocks(), blocks_);
    KillDictionary(&globals.records);
    fs::remove_all(home_);
  }

  // A database whose first table is made by the statements given.
  std::string Database(const std::string &name, const std::string &sql) {
    std::string path = home_ + "/" + name;
    sqlite3 *db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char *error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
    return path;
  }

  void Open(const std::string &database) {
    std::string message;
    ASSERT_EQ(host::OpenApplication(kFileMaker, {database}, &message), noErr) << message;
    ASSERT_TRUE(FindFileMaker());
  }

  std::vector<std::string> Records() {
    std::vector<std::string> records;
    records.reserve(size_t(DictionaryItems(&globals.records)));
    for (SInt32 i = 0; i < DictionaryItems(&globals.records); i++)
      records.emplace_back(DictionaryData(&globals.records, i), DictionaryLength(&globals.records, i));
    return records;
  }

  std::string home_;
  long blocks_ = 0;
};

TEST_F(FileMaker, ReceivesInBatchesOfTenUntilTheLastRecord) {
  std::string sql = "CREATE TABLE contacts(n INTEGER, name TEXT); CREATE TABLE later(x);";
  for (int n = 1; n <= 25; n++)
    sql += "INSERT INTO contacts VALUES(" + std::to_string(n) + ", 'name" + std::to_string(n) + "');";
  Open(Database("25.sqlite", sql + "DELETE FROM contacts WHERE n = 0;"));
  EXPECT_EQ(Take(GetFieldNames()), "n\rname");
  EXPECT_TRUE(ReceiveRecords(1, 10));
  EXPECT_TRUE(ReceiveRecords(11, 10));
  EXPECT_FALSE(ReceiveRecords(21, 10));
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 25u);
  EXPECT_EQ(records[0], "1\xFFname1\xFF");
  EXPECT_EQ(records[24], "25\xFFname25\xFF");
  EXPECT_EQ(Take(RetrieveRecord(25)), "25\xFFname25");
  EXPECT_EQ(Take(RetrieveRecord(3)), "3\xFFname3");  // out of order after a batch
  EXPECT_EQ(Take(RetrieveRecord(26)), "(null)");
  EXPECT_EQ(Take(RetrieveRecord(0)), "(null)");
  EXPECT_FALSE(ReceiveRecords(INT32_MAX, 10));  // never wraps to record -2147483648
  EXPECT_EQ(Records().size(), 25u);

  // Another process changes the database between two requests: record 4 is the fourth row
  // of the table as it is now, not the row after the one read last.
  EXPECT_EQ(Take(RetrieveRecord(3)), "3\xFFname3");
  Database("25.sqlite", "DELETE FROM contacts WHERE n = 1;");
  EXPECT_EQ(Take(RetrieveRecord(4)), "5\xFFname5");
}

// Values of every kind: a repeating field with an empty value, NULL, numbers, a BLOB, NUL and
// 0xFF inside values, thousands of columns and a huge value.
TEST_F(FileMaker, ValuesOfEveryKindKeepTheirFields) {
  std::string wide = "CREATE TABLE t(a, b, c, d, e, f, g, h";
  for (int i = 0; i < 1990; i++) wide += ", c" + std::to_string(i);
  Open(Database("values.sqlite",
                wide +
                    ");"
                    "INSERT INTO t(a, b, c, d, e, f, g, h) VALUES('x', '[\"a\",\"\",\"b\"]', NULL, 42, 2.5,"
                    " x'41004142', 'p' || char(0) || 'q', '[1,\"2\"]');"
                    "INSERT INTO t(a) VALUES(printf('%.*c', 3000000, 'v'));"));
  std::string names = Take(GetFieldNames());
  EXPECT_EQ(names.substr(0, 16), "a\rb\rc\rd\re\rf\rg\rh\r");
  EXPECT_EQ(std::count(names.begin(), names.end(), '\r'), 1997);
  ASSERT_TRUE(ReceiveRecords(1, 2));
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  std::string expected = std::string(
                             "x\xFF"
                             "a\rb\r\xFF\xFF"
                             "42\xFF"
                             "2.5\xFF") +
                         std::string(
                             "A\0AB\xFF"
                             "p\0q\xFF",
                             9) +
                         "[1,\"2\"]\xFF" + std::string(1990, '\xFF');
  EXPECT_EQ(records[0], expected);
  EXPECT_EQ(Take(RetrieveRecord(1)) + "\xFF", expected);  // the same, without the last separator
  EXPECT_EQ(records[1].size(), 3000000u + 1998);
}

TEST_F(FileMaker, TablesOfEveryShape) {
  Open(Database("empty-table.sqlite", "CREATE TABLE t(first, last);"));
  EXPECT_EQ(Take(GetFieldNames()), "first\rlast");
  EXPECT_FALSE(ReceiveRecords(1, 10));
  EXPECT_EQ(Records().size(), 0u);
  Open(Database("no-table.sqlite", "PRAGMA user_version = 1;"));
  EXPECT_EQ(Take(GetFieldNames()), "");  // an empty list: the NUL alone
  Open(Database("keyed.sqlite",
                "CREATE TABLE t(k TEXT PRIMARY KEY, v) WITHOUT ROWID;"
                "INSERT INTO t VALUES('b', 2), ('a', 1), ('c', 3);"));
  EXPECT_TRUE(ReceiveRecords(1, 2));
  EXPECT_EQ(Records(), (std::vector<std::string>{"a\xFF"
                                                 "1\xFF",
                                                 "b\xFF"
                                                 "2\xFF"}));
}

TEST_F(FileMaker, AnApplicationMissingKilledOrHungGivesNoResult) {
  EXPECT_FALSE(FindFileMaker());
  EXPECT_EQ(Take(GetFieldNames()), "(null)");
  EXPECT_FALSE(ReceiveRecords(1, 10));
  std::string database = Database("two.sqlite", "CREATE TABLE t(a); INSERT INTO t VALUES(1), (2);");

  Open(database);
  ASSERT_TRUE(host::KillApplications(kFileMaker, 10));
  EXPECT_FALSE(ReceiveRecords(1, 10));
  EXPECT_EQ(Records().size(), 0u);

  Open(database);
  setenv("QUILLCAST_TIME_SCALE", "0.01", 1);  // the default time-out of a minute becomes 0.6 s
  std::vector<int> running = host::RunningApplications(kFileMaker);
  ASSERT_EQ(running.size(), 1u);
  kill(running[0], SIGSTOP);
  EXPECT_FALSE(ReceiveRecords(1, 10));
  EXPECT_EQ(Records().size(), 0u);
}

}  // namespace
