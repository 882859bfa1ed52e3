// The Process Manager over the process table, with entries written for ordinary child
// processes, so that stale, reused and out-of-order entries can be arranged exactly.
#include "ProcTestSupport.h"

#include "CarbonPaths.h"
#include "ProcessTable.h"

#include <MacErrors.h>

#include <sys/wait.h>
#include <unistd.h>

namespace proctest {
namespace {

using carbon::ProcessEntry;

class ProcessManagerTest : public FreshMachine {
 protected:
  // Writes an entry as the application with that pid would have registered it.
  ProcessEntry WriteEntry(pid_t pid, uint64_t order, OSType creator = kEchoCreator, bool rightStart = true) {
    ProcessEntry entry;
    entry.creator = creator;
    entry.name = "App " + std::to_string(order);
    entry.pid = pid;
    carbon::ProcessStartTime(pid, &entry.started);
    if (!rightStart) entry.started += 1;
    entry.socketPath = carbon::SocketPathFor(pid);
    entry.applicationPath = ApplicationsFolder() + "/App.app";
    entry.order = order;
    EXPECT_EQ(carbon::ReplaceFile(carbon::EntryPathFor(pid), carbon::FormatProcessEntry(entry)), noErr);
    return entry;
  }

  static pid_t DeadPid() {
    pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
  }

  static std::vector<pid_t> Iterate() {
    std::vector<pid_t> seen;
    ProcessSerialNumber psn{0, kNoProcess};
    while (GetNextProcess(&psn) == noErr) seen.push_back(pid_t(psn.lowLongOfPSN));
    EXPECT_EQ(psn.lowLongOfPSN, UInt32(kNoProcess));
    return seen;
  }
};

TEST_F(ProcessManagerTest, IterationFollowsLaunchOrderAndNeverShowsStaleEntries) {
  pid_t first = StartSleeper();
  pid_t second = StartSleeper();
  pid_t reused = StartSleeper();
  pid_t dead = DeadPid();
  WriteEntry(second, 3);
  WriteEntry(dead, 1);
  WriteEntry(first, 2);
  WriteEntry(reused, 4, kEchoCreator, false);  // the pid now belongs to another process

  EXPECT_EQ(Iterate(), (std::vector<pid_t>{first, second}));
  EXPECT_NE(access(carbon::EntryPathFor(dead).c_str(), F_OK), 0);
  EXPECT_NE(access(carbon::EntryPathFor(reused).c_str(), F_OK), 0);

  // An iteration goes on past a process that quit between two calls.
  ProcessSerialNumber psn{0, kNoProcess};
  ASSERT_EQ(GetNextProcess(&psn), noErr);
  KillAndWait(first);
  ASSERT_EQ(GetNextProcess(&psn), noErr);
  EXPECT_EQ(psn.lowLongOfPSN, UInt32(second));
  EXPECT_EQ(GetNextProcess(&psn), procNotFound);
  EXPECT_EQ(psn.highLongOfPSN | psn.lowLongOfPSN, 0u);
}

TEST_F(ProcessManagerTest, ProcessInformationOfAnApplication) {
  pid_t pid = StartSleeper();
  WriteEntry(pid, 1, FourCC("MMan"));
  for (UInt32 length : {UInt32(60), UInt32(sizeof(ProcessInfoRec))}) {
    Str255 name{};
    FSSpec spec{};
    ProcessInfoRec info{};
    info.processInfoLength = length;
    info.processName = name;
    info.processAppSpec = &spec;
    ProcessSerialNumber psn{0, UInt32(pid)};
    ASSERT_EQ(GetProcessInformation(&psn, &info), noErr);
    EXPECT_EQ(info.processType, FourCC("APPL"));
    EXPECT_EQ(info.processSignature, FourCC("MMan"));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(name + 1), name[0]), "App 1");
    std::string path;
    ASSERT_EQ(carbon::FSSpecToPath(&spec, &path), noErr);
    EXPECT_EQ(path, ApplicationsFolder() + "/App.app");
  }
  ProcessInfoRec info{};
  ProcessSerialNumber psn{0, UInt32(pid)};
  info.processInfoLength = 44;
  EXPECT_EQ(GetProcessInformation(&psn, &info), paramErr);
  info.processInfoLength = 60;
  psn.lowLongOfPSN = UInt32(DeadPid());
  EXPECT_EQ(GetProcessInformation(&psn, &info), procNotFound);
}

TEST_F(ProcessManagerTest, TheHostIsTheCurrentProcessWithoutAnEntry) {
  ProcessSerialNumber current{};
  ASSERT_EQ(GetCurrentProcess(&current), noErr);
  EXPECT_EQ(current.lowLongOfPSN, UInt32(getpid()));
  ProcessSerialNumber me{0, kCurrentProcess};
  Boolean same = false;
  ASSERT_EQ(SameProcess(&me, &current, &same), noErr);
  EXPECT_TRUE(same);

  ProcessInfoRec info{};
  info.processInfoLength = 60;
  EXPECT_EQ(GetProcessInformation(&me, &info), noErr);
  EXPECT_EQ(info.processNumber.lowLongOfPSN, UInt32(getpid()));
  EXPECT_TRUE(Iterate().empty());
}

TEST_F(ProcessManagerTest, VisibilityAndFrontAreKeptInTheTable) {
  pid_t pid = StartSleeper();
  WriteEntry(pid, 1);
  ProcessSerialNumber psn{0, UInt32(pid)};
  EXPECT_TRUE(IsProcessVisible(&psn));
  ASSERT_EQ(ShowHideProcess(&psn, false), noErr);  // the application is not listening: it misses the notice
  EXPECT_FALSE(IsProcessVisible(&psn));
  ASSERT_EQ(SetFrontProcess(&psn), noErr);
  ProcessSerialNumber front{};
  ASSERT_EQ(GetFrontProcess(&front), noErr);
  EXPECT_EQ(front.lowLongOfPSN, UInt32(pid));

  KillAndWait(pid);
  ASSERT_EQ(GetFrontProcess(&front), noErr);  // the front application quit: the host is in front again
  EXPECT_EQ(front.lowLongOfPSN, UInt32(getpid()));
  EXPECT_EQ(ShowHideProcess(&psn, true), procNotFound);
  EXPECT_EQ(SetFrontProcess(&psn), procNotFound);
}

}  // namespace
}  // namespace proctest
