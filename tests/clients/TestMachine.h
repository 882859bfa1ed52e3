// A fresh emulated machine for one test: its own QUILLCAST_HOME, one extra volume on which
// the scripted test clients are installed, and an Apple Event trace file. Every process
// started on it is told to quit when the test ends.
#pragma once

#include <AppleEvents.h>
#include <MacErrors.h>
#include <Processes.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "apps/kit/StandInApp.h"
#include "support/ApplicationLookup.h"

enum class TestClient { kMail, kOutlookExpress, kEntourage, kEudora };

class TestMachine {
 public:
  TestMachine() {
    char pattern[] = "/tmp/quillcast-clients-XXXXXX";
    home_ = mkdtemp(pattern);
    volume_ = home_ + "/Volume";
    std::filesystem::create_directories(volume_);
    setenv("QUILLCAST_HOME", home_.c_str(), 1);
    setenv("QUILLCAST_VOLUMES", volume_.c_str(), 1);
    setenv("QUILLCAST_AE_TRACE", TracePath().c_str(), 1);
    unsetenv("QUILLCAST_LS_DISABLED");
  }

  ~TestMachine() {
    QuitAll();
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }

  static OSType Creator(TestClient client) {
    static const OSType creators[] = {FourCC("emal"), FourCC("MSNM"), FourCC("OPIM"), FourCC("CSOm")};
    return creators[int(client)];
  }
  static std::string Name(TestClient client) {
    static const char *names[] = {"Test Mail", "Test Outlook Express", "Test Entourage", "Test Eudora"};
    return names[int(client)];
  }
  static std::string ApplicationName(TestClient client) { return Name(client) + ".app"; }
  static std::string Executable(TestClient client) {
    static const char *ids[] = {"mail", "outlook", "entourage", "eudora"};
    return std::string(std::getenv("QUILLCAST_BUILD_DIR")) + "/apps/testclients/testclient_" +
           ids[int(client)];
  }

  const std::string &Volume() const { return volume_; }
  std::string TracePath() const { return home_ + "/trace.log"; }
  std::string DataFolder(TestClient client) const { return home_ + "/Data/" + Name(client); }

  // Puts the client on the test volume and its creator in the volume's desktop database.
  void Install(TestClient client) {
    ASSERT_EQ(standin::InstallApplication(volume_, Name(client), Creator(client), Executable(client)), noErr);
  }

  // What the client will know when it starts (see apps/testclients/TestClient.cpp).
  void Script(TestClient client, const std::string &text) {
    std::filesystem::create_directories(DataFolder(client));
    std::ofstream(DataFolder(client) + "/script.txt", std::ios::trunc) << text;
  }

  // Installs and starts the client, leaving this process in front; its process serial
  // number.
  ProcessSerialNumber Launch(TestClient client) {
    Install(client);
    FSSpec file{};
    EXPECT_EQ(FindApplicationFile(Creator(client), &file), noErr);
    LaunchParamBlockRec params{};
    params.launchBlockID = extendedBlock;
    params.launchEPBLength = extendedBlockLen;
    params.launchControlFlags = launchContinue + launchNoFileFlags + launchDontSwitch;
    params.launchAppSpec = &file;
    EXPECT_EQ(LaunchApplication(&params), noErr);
    return params.launchProcessSN;
  }

  std::string ReadData(TestClient client, const std::string &file) const {
    return ReadFile(DataFolder(client) + "/" + file);
  }

  // The trace lines written since the last call.
  std::vector<std::string> TakeTrace() {
    std::string text = ReadFile(TracePath());
    std::vector<std::string> lines;
    std::istringstream in(text.substr(std::min(traceRead_, text.size())));
    traceRead_ = text.size();
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Asks every running application to quit, and waits until the Process Manager no longer
  // lists any (a zombie left to a reaper that never reaps is not listed).
  void QuitAll() {
    std::vector<pid_t> pids = RunningProcesses();
    for (pid_t pid : pids) kill(pid, SIGTERM);
    for (int tries = 0; tries < 500 && !RunningProcesses().empty(); ++tries) usleep(2000);
    for (pid_t pid : RunningProcesses()) kill(pid, SIGKILL);
  }

 private:
  static std::vector<pid_t> RunningProcesses() {
    std::vector<pid_t> pids;
    ProcessSerialNumber psn = {0, kNoProcess};
    while (GetNextProcess(&psn) == noErr) pids.push_back(pid_t(psn.lowLongOfPSN));
    return pids;
  }
  static std::string ReadFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string home_;
  std::string volume_;
  size_t traceRead_ = 0;
};
