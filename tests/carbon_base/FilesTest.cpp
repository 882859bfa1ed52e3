// File and Folder Managers: the calls the preferences file and set-up files rest on, their
// end-of-file and position rules, the fault hook and safe replacement.
#include "TestHome.h"

#include <Files.h>
#include <Folders.h>
#include <MacErrors.h>
#include <TextUtils.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <cstring>

namespace {

class FilesTest : public FreshHome {
 protected:
  // A spec for `name` in the Preferences folder, created there with `contents`.
  FSSpec MakeFile(const char *name, const std::string &contents) {
    FSSpec spec = Spec(name);
    EXPECT_EQ(FSpCreate(&spec, FourCC("Qcst"), FourCC("pref"), smSystemScript), noErr);
    int16_t ref;
    EXPECT_EQ(FSpOpenDF(&spec, fsWrPerm, &ref), noErr);
    long count = long(contents.size());
    EXPECT_EQ(FSWrite(ref, &count, contents.data()), noErr);
    EXPECT_EQ(FSClose(ref), noErr);
    return spec;
  }

  FSSpec Spec(const char *name) {
    int16_t vRefNum;
    long dirID;
    EXPECT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vRefNum, &dirID), noErr);
    Str255 pascal;
    CopyCStringToPascal(name, pascal);
    FSSpec spec;
    OSErr status = FSMakeFSSpec(vRefNum, int32_t(dirID), pascal, &spec);
    EXPECT_TRUE(status == noErr || status == fnfErr) << status;
    return spec;
  }

  std::string ReadAll(const FSSpec &spec) {
    int16_t ref;
    EXPECT_EQ(FSpOpenDF(&spec, fsRdPerm, &ref), noErr);
    char buffer[256];
    long count = sizeof buffer;
    EXPECT_EQ(FSRead(ref, &count, buffer), eofErr);
    FSClose(ref);
    return std::string(buffer, size_t(count));
  }

  void TearDown() override {
    for (int op = 0; op < kCarbonFileOpCount; op++) CarbonFailFileOp(CarbonFileOp(op), -1, noErr);
    FreshHome::TearDown();
  }
};

TEST_F(FilesTest, FindFolderCreatesPreferencesPrivately) {
  int16_t vRefNum;
  long dirID;
  EXPECT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRefNum, &dirID), fnfErr);
  ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vRefNum, &dirID), noErr);
  struct stat info;
  ASSERT_EQ(stat((home_ + "/Preferences").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(FindFolder(kOnSystemDisk, FourCC("zzzz"), kCreateFolder, &vRefNum, &dirID), fnfErr);
}

TEST_F(FilesTest, MissingFileGivesUsableSpecAndCreateRefusesDuplicates) {
  FSSpec spec = Spec("Quillcast Preferences");
  int16_t ref;
  EXPECT_EQ(FSpOpenDF(&spec, fsRdPerm, &ref), fnfErr);
  EXPECT_EQ(FSpCreate(&spec, FourCC("Qcst"), FourCC("pref"), smSystemScript), noErr);
  EXPECT_EQ(FSpCreate(&spec, FourCC("Qcst"), FourCC("pref"), smSystemScript), dupFNErr);
  uint8_t info[8];
  std::string path = home_ + "/Preferences/Quillcast Preferences";
  if (getxattr(path.c_str(), "user.quillcast.FinderInfo", info, sizeof info) == 8) {
    EXPECT_EQ(std::memcmp(info, "prefQcst", 8), 0);
  }
  EXPECT_EQ(FSpDelete(&spec), noErr);
  EXPECT_EQ(FSpDelete(&spec), fnfErr);
}

TEST_F(FilesTest, ReadPastEndReadsWhatIsThereAndSaysEof) {
  FSSpec spec = MakeFile("data", "abcdefgh");
  int16_t ref;
  ASSERT_EQ(FSpOpenDF(&spec, fsRdPerm, &ref), noErr);
  char buffer[16] = {};
  long count = 5;
  EXPECT_EQ(FSRead(ref, &count, buffer), noErr);
  count = 10;
  EXPECT_EQ(FSRead(ref, &count, buffer), eofErr);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::string(buffer, 3), "fgh");
  count = 4;
  EXPECT_EQ(FSRead(ref, &count, buffer), eofErr);
  EXPECT_EQ(count, 0);
  count = 1;
  EXPECT_EQ(FSWrite(ref, &count, "x"), wrPermErr);
  EXPECT_EQ(FSClose(ref), noErr);
  EXPECT_EQ(FSClose(ref), rfNumErr);
  count = 1;
  EXPECT_EQ(FSRead(0, &count, buffer), rfNumErr);  // never a descriptor this layer did not open
}

TEST_F(FilesTest, SetFPosModes) {
  FSSpec spec = MakeFile("data", "0123456789");
  int16_t ref;
  ASSERT_EQ(FSpOpenDF(&spec, fsRdPerm, &ref), noErr);
  struct {
    int16_t mode;
    long offset;
    OSErr status;
    long mark;
  } rows[] = {
      {fsFromStart, 4, noErr, 4},    {fsFromMark, 2, noErr, 6},     {fsFromMark, -4, noErr, 2},
      {fsAtMark, 99, noErr, 2},      {fsFromLEOF, -1, noErr, 9},    {fsFromLEOF, 0, noErr, 10},
      {fsFromStart, -1, posErr, 10}, {fsFromStart, 11, eofErr, 10}, {fsFromStart, 0, noErr, 0},
  };
  for (const auto &row : rows) {
    EXPECT_EQ(SetFPos(ref, row.mode, row.offset), row.status) << row.mode << " " << row.offset;
    long mark = -1;
    EXPECT_EQ(GetFPos(ref, &mark), noErr);
    EXPECT_EQ(mark, row.mark) << row.mode << " " << row.offset;
  }
  FSClose(ref);
}

TEST_F(FilesTest, SetEOFTruncatesAndPullsTheMarkBack) {
  FSSpec spec = MakeFile("data", "a longer older file");
  int16_t ref;
  ASSERT_EQ(FSpOpenDF(&spec, fsWrPerm, &ref), noErr);
  long count = 3;
  ASSERT_EQ(FSWrite(ref, &count, "new"), noErr);
  long mark;
  ASSERT_EQ(GetFPos(ref, &mark), noErr);
  EXPECT_EQ(SetEOF(ref, mark), noErr);
  long eof;
  EXPECT_EQ(GetEOF(ref, &eof), noErr);
  EXPECT_EQ(eof, 3);
  EXPECT_EQ(SetFPos(ref, fsFromStart, 3), noErr);
  EXPECT_EQ(SetEOF(ref, 1), noErr);
  EXPECT_EQ(GetFPos(ref, &mark), noErr);
  EXPECT_EQ(mark, 1);
  FSClose(ref);
  EXPECT_EQ(ReadAll(spec), "n");
}

TEST_F(FilesTest, FaultHookFailsExactlyTheChosenOperation) {
  FSSpec spec = MakeFile("data", "");
  int16_t ref;
  ASSERT_EQ(FSpOpenDF(&spec, fsWrPerm, &ref), noErr);
  CarbonFailFileOp(kCarbonFileWrite, 1, dskFulErr);
  long count = 2;
  EXPECT_EQ(FSWrite(ref, &count, "ab"), noErr);
  count = 2;
  EXPECT_EQ(FSWrite(ref, &count, "cd"), dskFulErr);
  EXPECT_EQ(count, 0);
  count = 2;
  EXPECT_EQ(FSWrite(ref, &count, "ef"), noErr);
  FSClose(ref);
  EXPECT_EQ(ReadAll(spec), "abef");

  CarbonFailFileOp(kCarbonFileOpen, 0, permErr);
  EXPECT_EQ(FSpOpenDF(&spec, fsRdPerm, &ref), permErr);
  CarbonFailFileOp(kCarbonFileRead, 0, ioErr);
  ASSERT_EQ(FSpOpenDF(&spec, fsRdPerm, &ref), noErr);
  char buffer[4];
  count = 4;
  EXPECT_EQ(FSRead(ref, &count, buffer), ioErr);
  EXPECT_EQ(count, 0);
  FSClose(ref);
}

TEST_F(FilesTest, ExchangeFilesSwapsWholeContentsOrNothing) {
  FSSpec old = MakeFile("Quillcast Preferences", "old contents");
  FSSpec fresh = MakeFile("Quillcast Preferences (new)", "new");
  CarbonFailFileOp(kCarbonFileRename, 0, ioErr);
  EXPECT_EQ(FSpExchangeFiles(&fresh, &old), ioErr);
  EXPECT_EQ(ReadAll(old), "old contents");
  EXPECT_EQ(FSpExchangeFiles(&fresh, &old), noErr);
  EXPECT_EQ(ReadAll(old), "new");
  EXPECT_EQ(ReadAll(fresh), "old contents");
  FSSpec missing = Spec("missing");
  EXPECT_EQ(FSpExchangeFiles(&fresh, &missing), fnfErr);
  EXPECT_EQ(ReadAll(fresh), "old contents");

  FSSpec other = MakeFile("other", "x");
  EXPECT_EQ(FSpRename(&other, old.name), dupFNErr);
}

TEST_F(FilesTest, ForkCallsReadWriteAndResize) {
  std::string path = home_ + "/setup";
  FSRef ref;
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr), fnfErr);
  MakeFile("x", "");  // the Preferences folder exists now
  FILE *file = fopen(path.c_str(), "w");
  fputs("0123456789", file);
  fclose(file);
  Boolean isDirectory = true;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, &isDirectory), noErr);
  EXPECT_FALSE(isDirectory);
  UInt8 back[8];
  EXPECT_EQ(FSRefMakePath(&ref, back, sizeof back), pathTooLongErr);

  HFSUniStr255 forkName;
  FSGetDataForkName(&forkName);
  int16_t fork;
  ASSERT_EQ(FSOpenFork(&ref, forkName.length, forkName.unicode, fsRdWrPerm, &fork), noErr);
  char buffer[16];
  ByteCount actual = 99;
  EXPECT_EQ(FSReadFork(fork, fsFromStart, 6, 8, buffer, &actual), eofErr);
  EXPECT_EQ(actual, 4u);
  EXPECT_EQ(FSWriteFork(fork, fsFromStart, 2, 2, "ab", &actual), noErr);
  EXPECT_EQ(FSSetForkSize(fork, fsAtMark, 0), noErr);
  SInt64 position;
  EXPECT_EQ(FSGetForkPosition(fork, &position), noErr);
  EXPECT_EQ(position, 4);
  EXPECT_EQ(FSReadFork(fork, fsFromStart, 0, 8, buffer, &actual), eofErr);
  EXPECT_EQ(std::string(buffer, actual), "01ab");
  EXPECT_EQ(FSCloseFork(fork), noErr);
}

// A save through FSRefs: a new private file beside the old one, never through a link, then an
// exchange in which each name keeps its permissions, type and creator.
TEST_F(FilesTest, CreateBesideExchangeAndDeleteByRef) {
  FSSpec old = MakeFile("setup", "old");
  std::string path = home_ + "/Preferences/setup";
  bool finderKept = getxattr(path.c_str(), "user.quillcast.FinderInfo", nullptr, 0) == 8;
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  std::string link = home_ + "/Preferences/link";
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  FSRef oldRef, parent, fresh;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(link.c_str()), &oldRef, nullptr), noErr);
  UInt8 resolved[1024];
  ASSERT_EQ(FSRefMakePath(&oldRef, resolved, sizeof resolved), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(resolved)), path);
  std::string folder = home_ + "/Preferences";
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(folder.c_str()), &parent, nullptr), noErr);

  const UniChar taken[] = {'l', 'i', 'n', 'k'};
  EXPECT_EQ(FSCreateFileUnicode(&parent, 4, taken, kFSCatInfoNone, nullptr, &fresh, nullptr), dupFNErr);
  const UniChar slash[] = {'a', '/', 'b'};
  EXPECT_EQ(FSCreateFileUnicode(&parent, 3, slash, kFSCatInfoNone, nullptr, &fresh, nullptr), bdNamErr);
  const UniChar tempName[] = {'.', 't', 'm', 'p'};
  ASSERT_EQ(FSCreateFileUnicode(&parent, 4, tempName, kFSCatInfoNone, nullptr, &fresh, nullptr), noErr);
  struct stat info;
  ASSERT_EQ(stat((home_ + "/Preferences/.tmp").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  int16_t fork;
  ASSERT_EQ(FSOpenFork(&fresh, 0, nullptr, fsWrPerm, &fork), noErr);
  EXPECT_EQ(FSWriteFork(fork, fsAtMark, 0, 3, "new", nullptr), noErr);
  EXPECT_EQ(FSCloseFork(fork), noErr);

  ASSERT_EQ(FSExchangeObjects(&fresh, &oldRef), noErr);
  EXPECT_EQ(ReadAll(old), "new");
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  char finder[8];
  if (finderKept) {  // where the file system keeps type and creator at all
    ASSERT_EQ(getxattr(path.c_str(), "user.quillcast.FinderInfo", finder, sizeof finder), 8);
    EXPECT_EQ(std::string(finder + 4, 4), "Qcst");
  }
  EXPECT_EQ(FSDeleteObject(&fresh), noErr);
  EXPECT_EQ(FSDeleteObject(&fresh), fnfErr);
}

}  // namespace
