// Merge set-up files: the exact bytes "Save" writes, round trips, the older form, damaged
// files, and saves that fail half way, over a fake host's globals.
#include "store/SetupFiles.h"

#include <MacErrors.h>
#include <MacMemory.h>

#include "external/host/HostGlobals.h"
#include "store/Globals.h"
#include "tests/support/FakeHostGlobals.h"
#include "tests/support/PluginResources.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string BigEndian(std::initializer_list<UInt32> words) {
  std::string out;
  for (UInt32 w : words) out += {char(w >> 24), char(w >> 16), char(w >> 8), char(w)};
  return out;
}

std::string Chunk(const char *tag, const std::string &data) {
  return std::string(tag, 4) + BigEndian({UInt32(data.size())}) + data;
}

// The record-store chunk of the given records.
std::string RecordChunk(const char *tag, const std::vector<std::string> &records) {
  std::string block = BigEndian({UInt32(records.size()), 0});
  std::string data;
  for (const std::string &record : records) {
    data += record;
    block += BigEndian({UInt32(data.size())});
  }
  return std::string(tag, 4) + "Dict" + block + data;
}

class SetupFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenPluginResources());
    std::string pattern = (fs::temp_directory_path() / "quillcast-setup-XXXXXX").string();
    folder_ = mkdtemp(pattern.data());
    path_ = folder_ + "/set-up";
    InstallFakeHost();
    blocks_ = CarbonLiveBlocks();
    ASSERT_TRUE(InitDictionary(&globals.records));
  }
  void TearDown() override {
    KillDictionary(&globals.records);
    for (int op = 0; op < kCarbonFileOpCount; op++) CarbonFailFileOp(CarbonFileOp(op), -1, noErr);
    CarbonFailAllocationAfter(-1);
    EXPECT_EQ(CarbonLiveBlocks(), blocks_);
    EXPECT_TRUE(FakeHost().lent.empty()) << "a string of the host was not released";
    fs::remove_all(folder_);
  }

  void Write(const std::string &bytes) { std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes; }
  std::string Read() {
    std::ifstream in(path_, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void Fill(const std::vector<std::string> &records) {
    for (const std::string &record : records) {
      ASSERT_TRUE(DictionaryAppend(&globals.records));
      ASSERT_TRUE(DictionaryWrite(&globals.records, DictionaryItems(&globals.records) - 1, record.data(),
                                  UInt32(record.size())));
    }
  }
  // Every global set: its name with a line feed inside, and the subject as given.
  void SetAllGlobals(const std::string &subject) {
    for (const HostGlobal &global : hostGlobals)
      FakeHost().globals[global.name] = std::string(global.name) + "\n!";
    FakeHost().globals[globSubject] = subject;
  }
  std::vector<std::string> Records() {
    std::vector<std::string> records;
    records.reserve(size_t(DictionaryItems(&globals.records)));
    for (SInt32 i = 0; i < DictionaryItems(&globals.records); i++)
      records.emplace_back(DictionaryData(&globals.records, i), DictionaryLength(&globals.records, i));
    return records;
  }
  size_t FilesInFolder() {
    return size_t(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
  }

  std::string folder_, path_;
  long blocks_ = 0;
};

TEST_F(SetupFiles, SaveWritesTheExactChunksOverALongerFileAndKeepsItsPermissions) {
  Write(std::string(5000, 'x'));
  ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
  Fill({"Ann\xFFSmith", ""});
  SetAllGlobals("Hello\nthere");
  ASSERT_TRUE(SaveFile(path_.c_str()));

  std::string expected = RecordChunk("Dic2", {"Ann\xFFSmith", ""});
  for (const HostGlobal &global : hostGlobals) {
    std::string tag = BigEndian({global.code});
    std::string text = global.code == FourCC("Subj") ? "Hello\rthere" : std::string(global.name) + "\r!";
    expected += Chunk(tag.c_str(), text);
  }
  EXPECT_EQ(Read(), expected);
  struct stat info;
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(FilesInFolder(), 1u) << "the file the save wrote first is left behind";
}

TEST_F(SetupFiles, OpenRestoresRecordsAndGlobalsInFileOrder) {
  Write("");
  Fill(
      {"A\xFF"
       "B",
       "C"});
  SetAllGlobals("Dear\nyou");
  ASSERT_TRUE(SaveFile(path_.c_str()));
  std::map<std::string, std::string> saved = FakeHost().globals;
  FakeHost().globals.clear();
  KillDictionary(&globals.records);
  ASSERT_TRUE(OpenFile(path_.c_str()));
  EXPECT_EQ(Records(), (std::vector<std::string>{"A\xFF"
                                                 "B",
                                                 "C"}));
  EXPECT_EQ(FakeHost().globals, saved);

  // The older form converts; unknown chunks are skipped; a later chunk overrides an earlier one.
  Write(Chunk("Subj", "one") + RecordChunk("Dict", {"x\ry\xFF"}) + Chunk("zzzz", "skipped") +
        Chunk("Subj", "a\rb"));
  ASSERT_TRUE(OpenFile(path_.c_str()));
  EXPECT_EQ(Records(), (std::vector<std::string>{"x\xFFy\xFE"}));
  EXPECT_EQ(FakeHost().globals[globSubject], "a\nb");

  // An empty file is a set-up with nothing in it.
  Write("");
  EXPECT_TRUE(OpenFile(path_.c_str()));
  EXPECT_EQ(Records().size(), 1u);
}

// Damaged files answer false, read nothing out of bounds, and leave a store that a later
// save can write whole.
TEST_F(SetupFiles, DamagedFilesAnswerFalseAndLeaveAStoreThatSaves) {
  struct Case {
    const char *what;
    std::string bytes;
    size_t records;       // in the store afterwards: a bad block leaves it empty
    const char *subject;  // the subject global afterwards
  };
  const std::string good = Chunk("Subj", "ok");
  const std::vector<Case> cases = {
      {"1 to 7 bytes after the last chunk", good + "Mesg", 1, "ok"},
      {"cut inside a text chunk", good + Chunk("Subj", "longer").substr(0, 11), 1, "lon"},
      {"a length of 0xFFFFFFFF", good + "Subj" + BigEndian({0xFFFFFFFF}) + "tail", 1, "tail"},
      {"an unknown chunk longer than the file", good + "zzzz" + BigEndian({100}), 1, "ok"},
      {"a record chunk without its marker", good + "Dic2" + BigEndian({0, 0}), 1, "ok"},
      {"cut inside the record block", good + RecordChunk("Dic2", {"abc"}).substr(0, 18), 0, "ok"},
      {"a count larger than the file", good + "Dic2Dict" + BigEndian({0x40000000, 0, 0}), 0, "ok"},
      {"offsets that decrease", good + "Dic2Dict" + BigEndian({2, 0, 3, 1}) + "abc", 0, "ok"},
      {"offsets past the data", good + "Dic2Dict" + BigEndian({1, 0, 0xFFFFFFF0}) + "abc", 0, "ok"},
      {"a first offset that is not 0", good + "Dic2Dict" + BigEndian({1, 1, 2}) + "ab", 0, "ok"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    KillDictionary(&globals.records);
    ASSERT_TRUE(InitDictionary(&globals.records));
    Fill({"old"});
    Write(c.bytes);
    EXPECT_FALSE(OpenFile(path_.c_str()));
    EXPECT_EQ(Records().size(), c.records);
    EXPECT_EQ(FakeHost().globals[globSubject], c.subject);
    EXPECT_TRUE(DictionaryCheck(&globals.records));
    SetAllGlobals("s");
    EXPECT_TRUE(SaveFile(path_.c_str()));
  }
}

TEST_F(SetupFiles, FailedSavesLeaveTheOldFileWholeAndNothingBehind) {
  std::string missing = folder_ + "/missing";
  SetAllGlobals("s");
  EXPECT_FALSE(SaveFile(missing.c_str()));
  EXPECT_FALSE(fs::exists(missing));

  Write("old contents");
  Fill({"r"});
  FakeHost().globals.erase(globHTML);  // the last global cannot be read
  EXPECT_FALSE(SaveFile(path_.c_str()));
  EXPECT_EQ(Read(), "old contents");
  SetAllGlobals("s");

  long n = 0;
  for (; n < 64; n++) {  // every write of the save, the end of file included
    CarbonFailFileOp(kCarbonFileWrite, n, dskFulErr);
    Boolean saved = SaveFile(path_.c_str());
    CarbonFailFileOp(kCarbonFileWrite, -1, noErr);
    if (saved) break;
    EXPECT_EQ(Read(), "old contents") << "write " << n;
    EXPECT_EQ(FilesInFolder(), 1u) << "write " << n;
  }
  EXPECT_GT(n, 20);
  ASSERT_LT(n, 64);
  Write("old contents");
  CarbonFailFileOp(kCarbonFileRename, 0, ioErr);
  EXPECT_FALSE(SaveFile(path_.c_str()));
  EXPECT_EQ(Read(), "old contents");
  EXPECT_EQ(FilesInFolder(), 1u);

  KillDictionary(&globals.records);  // after "Kill": nothing is touched
  EXPECT_FALSE(SaveFile(path_.c_str()));
  EXPECT_EQ(Read(), "old contents");
  ASSERT_TRUE(InitDictionary(&globals.records));
}

TEST_F(SetupFiles, EveryAllocationFailureOfSaveAndOpenIsSafe) {
  Write("");
  Fill(
      {"a\xFF"
       "b",
       "c"});
  SetAllGlobals("s");
  long n = 0;
  for (; n < 64; n++) {
    CarbonFailAllocationAfter(n);
    Boolean saved = SaveFile(path_.c_str());
    Boolean opened = OpenFile(path_.c_str());
    CarbonFailAllocationAfter(-1);
    EXPECT_TRUE(DictionaryCheck(&globals.records) || globals.records.data == nullptr) << n;
    if (saved && opened) break;
    if (globals.records.data == nullptr) {
      ASSERT_TRUE(InitDictionary(&globals.records));
    }
  }
  EXPECT_GT(n, 3);
  ASSERT_LT(n, 64);
}

TEST_F(SetupFiles, HostPathsAreConvertedFromTheSystemScript) {
  std::ofstream(folder_ + "/caf\xC3\xA9") << "";  // "café" in UTF-8
  FSRef ref;
  std::string macRoman = folder_ + "/caf\x8E";
  EXPECT_EQ(HostPathToFSRef(macRoman.c_str(), &ref), noErr);
  EXPECT_EQ(HostPathToFSRef((folder_ + "/nothing").c_str(), &ref), fnfErr);
  EXPECT_NE(HostPathToFSRef(std::string(70000, 'a').c_str(), &ref), noErr);
}

}  // namespace
