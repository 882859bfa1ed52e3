// A stand-in application told to terminate while no-reply events sent to it are still on its
// socket: every one of them must be handled before it goes, as a mail client must not lose a
// message it was sent.
#include "ProcTestSupport.h"

#include <AEReceiver.h>
#include <MacErrors.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <string>

namespace proctest {
namespace {

constexpr AESendMode kNoReply = kAENoReply | kAENeverInteract;

// The exit status, or -1 when the process is still there after five seconds.
int WaitForExit(pid_t pid) {
  for (int tries = 0; tries < 1000; tries++) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    usleep(5000);
  }
  return -1;
}

class KitShutdownTest : public FreshMachine {};

TEST_F(KitShutdownTest, TerminationHandlesEveryEventAlreadySent) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    ProcessSerialNumber echo;
    ASSERT_EQ(LaunchEcho(&echo), noErr);
    pid_t pid = pid_t(echo.lowLongOfPSN);
    constexpr SInt32 kEvents = 400;
    for (SInt32 n = 0; n < kEvents; n++) {
      AppleEvent reply;
      ASSERT_EQ(SendEcho(echo, FourCC("note"), &reply, kNoReply, 600, &n), noErr);
    }
    kill(pid, signal);
    int status = WaitForExit(pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // Handled, each once and in the order sent.
    SInt32 next = 0;
    for (const std::string &line : ReadLines(carbon::DataFolderFor("Echo") + "/journal.log")) {
      if (line.rfind("# note ", 0) == 0) {
        EXPECT_EQ(line, "# note " + std::to_string(next++));
      }
    }
    EXPECT_EQ(next, kEvents);
    ProcessInfoRec info{};
    info.processInfoLength = sizeof info;
    EXPECT_EQ(GetProcessInformation(&echo, &info), procNotFound);  // and gone from the process table
    std::remove((carbon::DataFolderFor("Echo") + "/journal.log").c_str());
  }
}

}  // namespace
}  // namespace proctest
