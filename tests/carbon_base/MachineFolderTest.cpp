// The machine folder is the user's alone: one planted by another user, or that others may
// change, is refused with its reason and never used (FindFolder refuses it too); files made
// in it never follow a link.
#include "TestHome.h"

#include <Folders.h>
#include <MacErrors.h>
#include <MachineFolder.h>

#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;  // nobody

class MachineFolderTest : public FreshHome {
 protected:
  void TearDown() override {
    if (!savedHome_.empty()) setenv("HOME", savedHome_.c_str(), 1);
    FreshHome::TearDown();
  }

  // A case's machine folder, home_/<n>/machine; plant makes it (or the folder holding it)
  // what the case needs. The reason it is refused, or "" when it is used.
  std::string Check(void (*plant)(const std::string &holder, const std::string &machine)) {
    std::string holder = home_ + "/" + std::to_string(++cases_);
    std::string machine = holder + "/machine";
    EXPECT_EQ(mkdir(holder.c_str(), 0700), 0);
    plant(holder, machine);
    setenv("QUILLCAST_HOME", machine.c_str(), 1);
    std::string problem;
    std::string found = carbon::MachineFolder(&problem);
    EXPECT_EQ(found.empty(), !problem.empty()) << problem;
    int16_t vRefNum = 0;
    long dirID = 0;
    OSErr status = FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vRefNum, &dirID);
    EXPECT_EQ(status, found.empty() ? OSErr(afpAccessDenied) : OSErr(noErr)) << problem;
    return problem;
  }

  std::string savedHome_;
  int cases_ = 0;
};

void MakeFolder(const std::string &path, mode_t mode) {
  mkdir(path.c_str(), 0700);
  chmod(path.c_str(), mode);
}

TEST_F(MachineFolderTest, FoldersOthersMayChangeAreRefused) {
  struct Case {
    const char *what;
    void (*plant)(const std::string &holder, const std::string &machine);
    const char *reason;  // "" when the machine folder is used
  } cases[] = {
      {"machine folder others may write", [](auto &, auto &m) { MakeFolder(m, 0777); },
       "can be changed by other users (mode 0777)"},
      {"machine folder its group may write", [](auto &, auto &m) { MakeFolder(m, 0770); }, "(mode 0770)"},
      {"run folder its group may write",
       [](auto &, auto &m) {
         MakeFolder(m, 0700);
         MakeFolder(m + "/run", 0730);
       },
       "the run folder"},
      {"Data folder others may write",
       [](auto &, auto &m) {
         MakeFolder(m, 0700);
         MakeFolder(m + "/Data", 0703);
       },
       "the Data folder"},
      {"a file where the machine folder should be", [](auto &, auto &m) { std::ofstream(m) << "x"; },
       "is not a folder"},
      {"held in a folder others may write", [](auto &h, auto &) { chmod(h.c_str(), 0777); },
       "which holds the machine folder, can be changed by other users"},
      {"held in a sticky folder others may write, as /tmp", [](auto &h, auto &) { chmod(h.c_str(), 01777); },
       ""},
      {"folders of the user's that others may only read",
       [](auto &, auto &m) {
         MakeFolder(m, 0755);
         MakeFolder(m + "/Preferences", 0755);
         MakeFolder(m + "/run", 0755);
       },
       ""},
  };
  for (const Case &c : cases) {
    std::string problem = Check(c.plant);
    if (c.reason[0] == 0) {
      EXPECT_EQ(problem, "") << c.what;
    } else {
      EXPECT_NE(problem.find(c.reason), std::string::npos) << c.what << ": " << problem;
    }
  }
  // A run folder of the user's that others may read is narrowed: its sockets are the user's.
  struct stat info;
  ASSERT_EQ(stat((home_ + "/" + std::to_string(cases_) + "/machine/run").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(MachineFolderTest, FoldersOfAnotherUserAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "making another user's folder needs root";
  struct Case {
    const char *what;
    void (*plant)(const std::string &holder, const std::string &machine);
    const char *reason;
  } cases[] = {
      {"machine folder",
       [](auto &, auto &m) {
         MakeFolder(m, 0755);
         chown(m.c_str(), kOtherUser, kOtherUser);
       },
       "the machine folder"},
      {"Preferences folder",
       [](auto &, auto &m) {
         MakeFolder(m, 0700);
         MakeFolder(m + "/Preferences", 0700);
         chown((m + "/Preferences").c_str(), kOtherUser, kOtherUser);
       },
       "the Preferences folder"},
      {"folder holding the machine folder", [](auto &h, auto &) { chown(h.c_str(), kOtherUser, kOtherUser); },
       "which holds the machine folder"},
  };
  for (const Case &c : cases) {
    std::string problem = Check(c.plant);
    EXPECT_NE(problem.find(c.reason), std::string::npos) << c.what << ": " << problem;
    EXPECT_NE(problem.find("belongs to another user (uid 65534)"), std::string::npos)
        << c.what << ": " << problem;
  }
  // Nothing was made in the planted machine folder.
  EXPECT_TRUE(fs::is_empty(home_ + "/1/machine"));
}

TEST_F(MachineFolderTest, NoSharedFallbackAndNoPathTooLongForSockets) {
  std::string problem;
  setenv("QUILLCAST_HOME", (home_ + "/" + std::string(100, 'x')).c_str(), 1);
  EXPECT_EQ(carbon::MachineFolder(&problem), "");
  EXPECT_NE(problem.find("limit of 107 bytes"), std::string::npos) << problem;
  EXPECT_FALSE(fs::exists(home_ + "/" + std::string(100, 'x')));

  savedHome_ = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  unsetenv("QUILLCAST_HOME");
  unsetenv("HOME");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(carbon::MachineFolder(&problem), "");
  EXPECT_NE(problem.find("a shared temporary folder is never used"), std::string::npos) << problem;
  setenv("XDG_RUNTIME_DIR", home_.c_str(), 1);
  EXPECT_EQ(carbon::MachineFolder(&problem), home_ + "/quillcast") << problem;
  unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(MachineFolderTest, ReplacedFilesNeverFollowALink) {
  std::string target = home_ + "/target";
  std::string file = home_ + "/file";
  std::ofstream(target) << "keep";
  ASSERT_EQ(symlink(target.c_str(), file.c_str()), 0);
  ASSERT_EQ(carbon::ReplaceFileContents(file, "new", true), 0);
  std::ifstream in(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
  struct stat info;
  ASSERT_EQ(lstat(file.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(home_), fs::directory_iterator()), 2);
}

}  // namespace
