// Installed applications: the volumes, their desktop databases, Finder information of
// application folders, and Launch Services with the desktop-database search behind it.
#include "ProcTestSupport.h"

#include "CarbonPaths.h"
#include "DesktopDatabase.h"
#include "ProcessTable.h"
#include "apps/kit/StandInApp.h"

#include <Files.h>
#include <LaunchServices.h>
#include <MacErrors.h>

#include <sys/stat.h>
#include <sys/xattr.h>

namespace proctest {
namespace {

class DesktopDatabaseTest : public FreshMachine {
 protected:
  void SetUp() override {
    FreshMachine::SetUp();
    volume_ = home_ + "/Volume";
    mkdir(volume_.c_str(), 0700);
    setenv("QUILLCAST_VOLUMES", (volume_ + ":" + home_ + "/Empty").c_str(), 1);
    mkdir((home_ + "/Empty").c_str(), 0700);
  }

  // The item'th application of the creator in the desktop database of the volume'th volume.
  static OSErr NthApplication(int16_t volumeIndex, OSType creator, int16_t item, FSSpec *file) {
    HParamBlockRec volume{};
    volume.volumeParam.ioVolIndex = volumeIndex;
    if (OSErr err = PBHGetVInfoSync(&volume); err != noErr) return err;
    DTPBRec desktop{};
    desktop.ioVRefNum = volume.volumeParam.ioVRefNum;
    if (OSErr err = PBDTGetPath(&desktop); err != noErr) return err;
    desktop.ioFileCreator = creator;
    desktop.ioIndex = item;
    desktop.ioNamePtr = file->name;
    if (OSErr err = PBDTGetAPPLSync(&desktop); err != noErr) return err;
    file->vRefNum = desktop.ioVRefNum;
    file->parID = desktop.ioAPPLParID;
    return noErr;
  }

  static std::string PathOf(const FSSpec &spec) {
    std::string path;
    EXPECT_EQ(carbon::FSSpecToPath(&spec, &path), noErr);
    return path;
  }

  std::string volume_;
};

TEST_F(DesktopDatabaseTest, VolumesAndTheirDatabases) {
  ASSERT_EQ(InstallEcho(volume_), noErr);
  std::vector<std::pair<std::string, OSErr>> seen;
  for (int16_t index = 1; index <= 5; index++) {
    Str255 name{};
    HParamBlockRec volume{};
    volume.volumeParam.ioVolIndex = index;
    volume.volumeParam.ioNamePtr = name;
    OSErr err = PBHGetVInfoSync(&volume);
    EXPECT_EQ(volume.volumeParam.ioResult, err);
    if (err != noErr) {
      seen.emplace_back("", err);
      continue;
    }
    DTPBRec desktop{};
    desktop.ioVRefNum = volume.volumeParam.ioVRefNum;
    seen.emplace_back(std::string(reinterpret_cast<char *>(name + 1), name[0]), PBDTGetPath(&desktop));
  }
  std::vector<std::pair<std::string, OSErr>> expected{{"Macintosh HD", paramErr},
                                                      {"Applications", paramErr},
                                                      {"Volume", noErr},
                                                      {"Empty", paramErr},
                                                      {"", nsvErr}};
  EXPECT_EQ(seen, expected);
}

TEST_F(DesktopDatabaseTest, EntriesAreHandedOutByCreatorAndIndex) {
  ASSERT_EQ(standin::InstallApplication(volume_, "Old Echo", kEchoCreator, EchoExecutable()), noErr);
  ASSERT_EQ(InstallEcho(volume_), noErr);
  ASSERT_EQ(InstallEcho(volume_), noErr);  // installing again keeps one entry
  std::vector<std::string> found;
  FSSpec spec{};
  FInfo info{};
  for (int16_t item = 1; NthApplication(3, kEchoCreator, item, &spec) == noErr; item++) {
    ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
    EXPECT_EQ(info.fdType, FourCC("APPL"));
    EXPECT_EQ(info.fdCreator, kEchoCreator);
    found.push_back(PathOf(spec));
  }
  EXPECT_EQ(NthApplication(3, kEchoCreator, 3, &spec), afpItemNotFound);
  EXPECT_EQ(found, (std::vector<std::string>{volume_ + "/Old Echo.app", volume_ + "/Echo.app"}));
}

TEST_F(DesktopDatabaseTest, LaunchServicesFindsByCreator) {
  ASSERT_EQ(InstallEcho(volume_), noErr);
  FSRef ref;
  ASSERT_EQ(LSFindApplicationForInfo(kEchoCreator, nullptr, nullptr, &ref, nullptr), noErr);
  FSSpec spec{};
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &spec, nullptr), noErr);
  EXPECT_EQ(PathOf(spec), volume_ + "/Echo.app");
  EXPECT_EQ(LSFindApplicationForInfo(FourCC("None"), nullptr, nullptr, &ref, nullptr),
            kLSApplicationNotFoundErr);

  // An application whose package now says another creator is passed over, though the
  // desktop database still lists it (application lookup's own search is tested with it).
  ASSERT_EQ(standin::InstallApplication(volume_, "Changed", FourCC("Chgd"), EchoExecutable()), noErr);
  ASSERT_EQ(carbon::ReplaceFile(volume_ + "/Changed.app/Contents/PkgInfo", "APPLElse"), noErr);
  EXPECT_EQ(LSFindApplicationForInfo(FourCC("Chgd"), nullptr, nullptr, &ref, nullptr),
            kLSApplicationNotFoundErr);

  setenv("QUILLCAST_LS_DISABLED", "1", 1);
  EXPECT_EQ(LSFindApplicationForInfo(kEchoCreator, nullptr, nullptr, &ref, nullptr),
            kLSApplicationNotFoundErr);
}

TEST_F(DesktopDatabaseTest, FinderInformationOfFilesAndFolders) {
  std::string file = volume_ + "/Letter";
  ASSERT_EQ(carbon::ReplaceFile(file, "text"), noErr);
  FSSpec spec{};
  FInfo info{};
  ASSERT_EQ(carbon::PathToFSSpec(file, &spec), noErr);
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdType, 0u);  // no type recorded
  uint8_t typed[8] = {'T', 'E', 'X', 'T', 't', 't', 'x', 't'};
  if (setxattr(file.c_str(), carbon::kFinderInfoAttribute, typed, 8, 0) == 0) {
    ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
    EXPECT_EQ(info.fdType, FourCC("TEXT"));
    EXPECT_EQ(info.fdCreator, FourCC("ttxt"));
  }
  ASSERT_EQ(carbon::PathToFSSpec(volume_, &spec), noErr);
  EXPECT_EQ(FSpGetFInfo(&spec, &info), notAFileErr);
  ASSERT_EQ(carbon::PathToFSSpec(volume_ + "/Nothing", &spec), noErr);
  EXPECT_EQ(FSpGetFInfo(&spec, &info), fnfErr);
}

TEST(DesktopDatabaseFormat, MalformedAndUnsafeLinesArePassedOver) {
  std::string text =
      "Echo\tEcho.app\n"
      "Echo\t../Outside.app\n"
      "Echo\t/Absolute.app\n"
      "Echo\tSub//Twice.app\n"
      "Ech\tShort.app\n"
      "EchoXNoTab.app\n"
      "Echo\t\n"
      "MMan\tTools/Emailer.app\n"
      "Echo\tUnfinished.app";
  std::vector<carbon::DesktopEntry> entries = carbon::ParseDesktopDatabase(text);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].relativePath, "Echo.app");
  EXPECT_EQ(entries[1].creator, FourCC("MMan"));
  EXPECT_EQ(entries[1].relativePath, "Tools/Emailer.app");
  EXPECT_EQ(carbon::ParseDesktopDatabase(carbon::FormatDesktopDatabase(entries)).size(), 2u);
}

}  // namespace
}  // namespace proctest
