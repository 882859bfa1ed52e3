// A fresh emulated machine for one test: its own QUILLCAST_HOME, one extra volume on which
// the scripted test clients are installed, and an Apple Event trace file. Every process
// started on it is stopped when the test ends.
#pragma once

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

enum class TestClient {
  kMail,
  kOutlookExpress,
  kEntourage,
  kEudora,
  kMailsmith,
  kPowerMail,
  kQuickMail,
  kEmailer
};

class TestMachine {
 public:
  TestMachine() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillcast-clients-XXXXXX").string();
    home_ = mkdtemp(pattern.data());
    volume_ = home_ + "/Volume";
    std::filesystem::create_directories(volume_);
    setenv("QUILLCAST_HOME", home_.c_str(), 1);
    setenv("QUILLCAST_VOLUMES", volume_.c_str(), 1);
    setenv("QUILLCAST_AE_TRACE", (home_ + "/trace.log").c_str(), 1);
    unsetenv("QUILLCAST_LS_DISABLED");
  }

  ~TestMachine() {
    QuitAll();
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }

  // Creator, name and executable of each test client, in the order of TestClient.
  static OSType Creator(TestClient client) { return kClients[int(client)].creator; }
  static std::string Name(TestClient client) { return kClients[int(client)].name; }
  static std::string Executable(TestClient client) {
    return std::string(std::getenv("QUILLCAST_BUILD_DIR")) + "/apps/testclients/testclient_" +
           kClients[int(client)].id;
  }

  const std::string &Volume() const { return volume_; }

  // Puts the client on the test volume, with its creator in the volume's desktop database.
  void Install(TestClient client) {
    ASSERT_EQ(standin::InstallApplication(volume_, Name(client), Creator(client), Executable(client)), noErr);
  }

  // What the client will know when it starts (see apps/testclients/TestClient.cpp).
  void Script(TestClient client, const std::string &text) {
    std::string folder = home_ + "/Data/" + Name(client);
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/script.txt", std::ios::trunc) << text;
  }

  // Installs and starts the client, leaving this process in front; its process.
  ProcessSerialNumber Launch(TestClient client) {
    Install(client);
    FSSpec file{};
    EXPECT_EQ(FindApplicationFile(Creator(client), &file), 0);
    LaunchParamBlockRec params{};
    params.launchBlockID = extendedBlock;
    params.launchEPBLength = extendedBlockLen;
    params.launchControlFlags = launchContinue + launchNoFileFlags + launchDontSwitch;
    params.launchAppSpec = &file;
    EXPECT_EQ(LaunchApplication(&params), noErr);
    return params.launchProcessSN;
  }

  // The trace lines written since the last call.
  std::vector<std::string> TakeTrace() {
    std::ifstream in(home_ + "/trace.log");
    in.seekg(std::streamoff(traceRead_));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
      traceRead_ += line.size() + 1;
    }
    return lines;
  }

  // Stops every running application and waits until the Process Manager lists none.
  void QuitAll() {
    for (pid_t pid : RunningProcesses()) kill(pid, SIGTERM);
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

  struct ClientFacts {
    OSType creator;
    const char *name, *id;
  };
  static constexpr ClientFacts kClients[] = {
      {FourCC("emal"), "Test Mail", "mail"},           {FourCC("MSNM"), "Test Outlook Express", "outlook"},
      {FourCC("OPIM"), "Test Entourage", "entourage"}, {FourCC("CSOm"), "Test Eudora", "eudora"},
      {FourCC("BLTO"), "Test Mailsmith", "mailsmith"}, {FourCC("Cmlt"), "Test PowerMail", "powermail"},
      {FourCC("CeLP"), "Test QuickMail", "quickmail"}, {FourCC("MMan"), "Test Emailer", "emailer"}};
  std::string home_;
  std::string volume_;
  size_t traceRead_ = 0;
};
