// Shared set-up of the Process Manager tests: a fresh emulated machine per test, the echo
// application, and cleanup of every process a test starts.
#pragma once

#include <AppleEvents.h>
#include <Processes.h>

#include <gtest/gtest.h>

#include <sys/types.h>
#include <string>
#include <vector>

namespace proctest {

constexpr OSType kEchoCreator = FourCC("Echo");
constexpr AEEventClass kEchoClass = FourCC("ECHO");

// A temporary QUILLCAST_HOME, removed afterwards with every process started meanwhile.
class FreshMachine : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string home_;
};

std::string EchoExecutable();
std::string ApplicationsFolder();              // the Applications volume of the machine
OSErr InstallEcho(const std::string &volume);  // as "Echo"
OSErr LaunchEcho(ProcessSerialNumber *psn, LaunchFlags flags = launchContinue | launchNoFileFlags);
pid_t StartSleeper();         // a live child process that is no application
void KillAndWait(pid_t pid);  // SIGKILL, then until it is gone

// An event to the process, with a 'long' direct parameter when given.
AppleEvent EventTo(const ProcessSerialNumber &psn, AEEventClass eventClass, AEEventID id,
                   const SInt32 *direct = nullptr);
// Sends an 'ECHO' event and disposes it; the reply is the caller's.
OSErr SendEcho(const ProcessSerialNumber &psn, AEEventID id, AppleEvent *reply, AESendMode mode = 0x43,
               long ticks = 1200, const SInt32 *direct = nullptr);
std::vector<std::string> ReadLines(const std::string &path);
bool Contains(const std::vector<std::string> &lines, const std::string &line);

// The parameter of the reply as that type; `missing` when it cannot be had.
template <class T>
T ReplyParam(const AppleEvent &reply, AEKeyword key, DescType type, T missing = T{}) {
  T value = missing;
  DescType actual;
  Size size;
  return AEGetParamPtr(&reply, key, type, &actual, &value, sizeof value, &size) == noErr ? value : missing;
}

}  // namespace proctest
