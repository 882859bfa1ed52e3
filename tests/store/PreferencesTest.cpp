// The record-store block and the preferences file, over a fresh QUILLCAST_HOME.
#include "store/Globals.h"
#include "store/Preferences.h"

#include <Folders.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <Resources.h>

#include "tests/support/PluginResources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// One machine folder per test process, removed when the process ends: gtest runs each test
// in a process of its own, so a folder left behind per process adds up.
struct PrivateHome {
  std::string path;
  PrivateHome() {
    std::string pattern = (fs::temp_directory_path() / "quillcast-store-XXXXXX").string();
    path = mkdtemp(pattern.data());
    setenv("QUILLCAST_HOME", path.c_str(), 1);
  }
  ~PrivateHome() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

std::string Home() {
  static PrivateHome home;
  return home.path;
}

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string BigEndian(std::initializer_list<UInt32> words) {
  std::string out;
  for (UInt32 w : words) out += {char(w >> 24), char(w >> 16), char(w >> 8), char(w)};
  return out;
}

std::vector<std::string> Contents(const RecordStore &store) {
  std::vector<std::string> records;
  records.reserve(size_t(store.items));
  for (SInt32 i = 0; i < store.items; i++)
    records.emplace_back(DictionaryData(&store, i), DictionaryLength(&store, i));
  return records;
}

class Preferences : public ::testing::Test {
 protected:
  void SetUp() override {
    Home();
    ASSERT_TRUE(OpenPluginResources()) << "the bundle's resource file is missing";
    Str255 name;
    GetIndString(name, kPreferencesStrings, kPreferencesNameIndex);
    path_ = Home() + "/Preferences/" + std::string(reinterpret_cast<char *>(name + 1), name[0]);
    fs::create_directories(fs::path(path_).parent_path());
    fs::remove(path_);
    blocks_ = CarbonLiveBlocks();
    ASSERT_TRUE(InitDictionary(&globals.records));
  }
  void TearDown() override {
    KillDictionary(&globals.records);
    for (int op = 0; op < kCarbonFileOpCount; op++) CarbonFailFileOp(CarbonFileOp(op), -1, noErr);
    CarbonFailAllocationAfter(-1);
    EXPECT_EQ(CarbonLiveBlocks(), blocks_);
  }

  // Loads bytes as the preferences file; the text as a string, or "(null)".
  std::string Load(const std::string &bytes) {
    WriteAll(path_, bytes);
    char *text = LoadPreferences();
    std::string result = text ? text : "(null)";
    std::free(text);
    return result;
  }

  std::string path_;
  long blocks_ = 0;
};

TEST_F(Preferences, SavedTextComesBack) {
  struct Case {
    const char *text;
    std::string file;
  } cases[] = {
      {"abc", BigEndian({0, 3}) + "abc"},
      {nullptr, BigEndian({0})},
      {"", BigEndian({0, 0})},
      {"a\rline\xFF", BigEndian({0, 7}) + "a\rline\xFF"},
  };
  for (const Case &c : cases) {
    WriteAll(path_, std::string(100, 'o'));  // an older, longer file
    SavePreferences(c.text);
    EXPECT_EQ(ReadAll(path_), c.file);
    char *text = LoadPreferences();
    EXPECT_EQ(text ? std::string(text) : "(null)", c.text ? c.text : "(null)");
    std::free(text);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path_).parent_path()), fs::directory_iterator()),
            1);
}

TEST_F(Preferences, RecordSectionLoadsWithConversion) {
  std::string block = BigEndian({2, 0, 3, 4}) + "A\rB\xFF";
  EXPECT_EQ(Load(block + BigEndian({2}) + "hi"), "hi");
  EXPECT_EQ(Contents(globals.records), (std::vector<std::string>{"A\xFF"
                                                                 "B",
                                                                 "\xFE"}));
  EXPECT_EQ(globals.records.dataCapacity, 4);
  EXPECT_EQ(globals.records.offsetsCapacity, 12);
  ASSERT_TRUE(DictionaryAppend(&globals.records));  // a loaded store goes on growing
  EXPECT_TRUE(DictionaryCheck(&globals.records));
}

// Damaged files load nothing and leave the store as it was; nothing is read out of bounds.
TEST_F(Preferences, DamagedFilesAreRejected) {
  ASSERT_TRUE(DictionaryAppend(&globals.records));
  ASSERT_TRUE(DictionaryWrite(&globals.records, 0, "keep", 4));
  const std::string text = BigEndian({1}) + "x";
  struct Case {
    const char *what;
    std::string file;
  } cases[] = {
      {"empty file", ""},
      {"ends inside the settings text", BigEndian({0, 5}) + "abc"},
      {"ends inside the settings length", BigEndian({0}) + std::string(2, '\0')},
      {"offsets do not start at 0", BigEndian({1, 1, 2}) + "ab" + text},
      {"offsets decrease", BigEndian({2, 0, 3, 1}) + "abc" + text},
      {"offsets end beyond the data", BigEndian({1, 0, 9}) + "abc"},
      {"ends inside the offsets", BigEndian({3, 0, 1})},
      {"huge count", BigEndian({0xFFFFFFFF, 0, 0})},
      {"count needs more than the file", BigEndian({0x40000000}) + std::string(64, '\0')},
      {"huge text length", BigEndian({0, 0xFFFFFFFF}) + "abc"},
      {"a whole file, then zeros (a torn save)", BigEndian({0, 3}) + "abc" + std::string(4096, '\0')},
      {"a byte after the settings text", BigEndian({0, 0}) + "x"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(Load(c.file), "(null)") << c.what;
    EXPECT_EQ(Contents(globals.records), std::vector<std::string>{"keep"}) << c.what;
    EXPECT_TRUE(DictionaryCheck(&globals.records)) << c.what;
  }
}

TEST_F(Preferences, FailedSavesKeepTheOldFile) {
  SavePreferences("old");
  const std::string old = ReadAll(path_);
  for (CarbonFileOp op : {kCarbonFileWrite, kCarbonFileRename, kCarbonFileOpen}) {
    for (long after = 0; after < 4; after++) {
      CarbonFailFileOp(op, after, ioErr);
      SavePreferences("a new and longer text");
      CarbonFailFileOp(op, -1, noErr);
      std::string now = ReadAll(path_);
      EXPECT_TRUE(now == old || now == BigEndian({0, 21}) + "a new and longer text") << op << " " << after;
      SavePreferences("old");
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path_).parent_path()), fs::directory_iterator()),
            1);
}

TEST_F(Preferences, BlockRoundTripAndAllocationFailures) {
  for (int i = 0; i < 3000; i++) {
    ASSERT_TRUE(DictionaryAppend(&globals.records));
    std::string record(i % 7, char(i));
    ASSERT_TRUE(DictionaryWrite(&globals.records, i, record.data(), UInt32(record.size())));
  }
  const std::vector<std::string> records = Contents(globals.records);
  FSSpec spec;
  ASSERT_EQ(GetPreferencesFile(&spec), noErr);
  OSErr status;
  SInt16 ref = OpenWritePreferences(&spec, &status, kPreferencesCreator);
  ASSERT_EQ(status, noErr);
  ASSERT_TRUE(WriteDictionary(ref, &globals.records));
  FSClose(ref);
  EXPECT_EQ(Contents(globals.records), records);

  for (long failAt = 0; failAt < 3; failAt++) {
    RecordStore store{};
    ASSERT_TRUE(InitDictionary(&store));
    ref = OpenReadPreferences(&status);
    CarbonFailAllocationAfter(failAt);
    Boolean loaded = ReadDictionary(ref, &store, false);
    CarbonFailAllocationAfter(-1);
    FSClose(ref);
    EXPECT_EQ(Contents(store), loaded ? records : std::vector<std::string>{}) << failAt;
    EXPECT_EQ(loaded, failAt >= 2);
    KillDictionary(&store);
  }
}

}  // namespace
