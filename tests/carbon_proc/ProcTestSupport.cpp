#include "ProcTestSupport.h"

#include "apps/kit/StandInApp.h"
#include "tests/ProcessStat.h"

#include <MacErrors.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace proctest {
namespace {

// Time runs twenty times faster for these tests, and launched applications (which leave
// their launcher's family) come back to this process to be reaped.
const bool configured = [] {
  setenv("QUILLCAST_TIME_SCALE", "0.05", 1);
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  return true;
}();

std::vector<pid_t> Descendants() {
  std::vector<pid_t> pids;
  for (const auto &item : std::filesystem::directory_iterator("/proc")) {
    std::string name = item.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    ProcessStat stat;
    if (ReadProcessStat(std::stoi(name), &stat) && stat.parent == getpid()) pids.push_back(std::stoi(name));
  }
  return pids;
}

}  // namespace

void FreshMachine::SetUp() {
  ASSERT_TRUE(configured);
  char pattern[] = "/tmp/quillcast-proc-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  home_ = pattern;
  setenv("QUILLCAST_HOME", home_.c_str(), 1);
  for (const char *name : {"QUILLCAST_VOLUMES", "QUILLCAST_AE_TRACE", "QUILLCAST_LS_DISABLED"})
    unsetenv(name);
}

void FreshMachine::TearDown() {
  for (pid_t pid : Descendants()) KillAndWait(pid);
  std::error_code ignored;
  std::filesystem::remove_all(home_, ignored);
}

std::string EchoExecutable() {
  const char *build = std::getenv("QUILLCAST_BUILD_DIR");
  return std::string(build != nullptr ? build : ".") + "/apps/bin/echo";
}

std::string ApplicationsFolder() {
  return standin::ApplicationsVolume();
}

OSErr InstallEcho(const std::string &volume) {
  return standin::InstallApplication(volume, "Echo", kEchoCreator, EchoExecutable());
}

OSErr LaunchEcho(ProcessSerialNumber *psn, LaunchFlags flags) {
  OSErr err = InstallEcho(ApplicationsFolder());
  return err != noErr ? err : standin::LaunchInstalledApplication(ApplicationsFolder(), "Echo", psn, flags);
}

pid_t StartSleeper() {
  pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sleep", "sleep", "30", static_cast<char *>(nullptr));
    _exit(127);
  }
  return pid;
}

void KillAndWait(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

AppleEvent EventTo(const ProcessSerialNumber &psn, AEEventClass eventClass, AEEventID id,
                   const SInt32 *direct) {
  AEAddressDesc target;
  AppleEvent event;
  AEInitializeDesc(&event);
  EXPECT_EQ(AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target), noErr);
  EXPECT_EQ(AECreateAppleEvent(eventClass, id, &target, kAutoGenerateReturnID, kAnyTransactionID, &event),
            noErr);
  if (direct != nullptr) {
    EXPECT_EQ(AEPutParamPtr(&event, keyDirectObject, typeSInt32, direct, 4), noErr);
  }
  AEDisposeDesc(&target);
  return event;
}

OSErr SendEcho(const ProcessSerialNumber &psn, AEEventID id, AppleEvent *reply, AESendMode mode, long ticks,
               const SInt32 *direct) {
  AppleEvent event = EventTo(psn, kEchoClass, id, direct);
  OSErr err = AESend(&event, reply, mode, kAENormalPriority, ticks, nullptr, nullptr);
  AEDisposeDesc(&event);
  return err;
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

bool Contains(const std::vector<std::string> &lines, const std::string &line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace proctest
