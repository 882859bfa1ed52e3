// Finding running applications and application files by creator code, launching, and
// handing URLs over, on a fresh machine with real processes.
#include <MacErrors.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/ApplicationLookup.h"
#include "tests/clients/TestMachine.h"

namespace {

constexpr OSType kEudora = FourCC("CSOm");

std::string NameOf(const FSSpec &file) {
  return std::string(reinterpret_cast<const char *>(file.name + 1), file.name[0]);
}

std::string ReadAll(const std::string &path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Rewrites one field of a process's entry in the process table.
void SetProcessType(const ProcessSerialNumber &psn, const std::string &type) {
  std::string path =
      std::string(std::getenv("QUILLCAST_HOME")) + "/run/" + std::to_string(psn.lowLongOfPSN) + ".proc";
  std::string entry = ReadAll(path);
  size_t at = entry.find("type 'APPL'");
  ASSERT_NE(at, std::string::npos);
  entry.replace(at, 11, "type '" + type + "'");
  std::ofstream(path + ".new") << entry;
  std::filesystem::rename(path + ".new", path);
}

class ApplicationLookup : public ::testing::Test {
 protected:
  TestMachine machine;
};

TEST_F(ApplicationLookup, FirstRunningApplicationWins) {
  ProcessSerialNumber psn;
  EXPECT_EQ(FindApplicationProcess(kEudora, &psn), procNotFound);
  ProcessSerialNumber first = machine.Launch(TestClient::kEudora);
  ProcessSerialNumber second = machine.Launch(TestClient::kEudora);
  ASSERT_EQ(FindApplicationProcess(kEudora, &psn), 0);
  EXPECT_EQ(psn.lowLongOfPSN, first.lowLongOfPSN);
  // A process whose type is not 'APPL' is passed over even with the right creator.
  SetProcessType(first, "appe");
  ASSERT_EQ(FindApplicationProcess(kEudora, &psn), 0);
  EXPECT_EQ(psn.lowLongOfPSN, second.lowLongOfPSN);
  SetProcessType(second, "appe");
  EXPECT_EQ(FindApplicationProcess(kEudora, &psn), procNotFound);
}

TEST_F(ApplicationLookup, FindsFilesThroughLaunchServicesOrTheDesktopDatabase) {
  FSSpec file{};
  EXPECT_NE(FindApplicationFile(kEudora, &file), 0);
  machine.Install(TestClient::kEudora);
  for (const char *servicesOff : {"0", "1"}) {
    SCOPED_TRACE(servicesOff);
    setenv("QUILLCAST_LS_DISABLED", servicesOff, 1);
    file = FSSpec{};
    ASSERT_EQ(FindApplicationFile(kEudora, &file), 0);
    EXPECT_EQ(NameOf(file), "Test Eudora.app");
  }
  // A database entry whose file now carries another creator is skipped; the next entry for
  // the creator is found.
  ASSERT_EQ(standin::InstallApplication(machine.Volume(), "Second Eudora", kEudora,
                                        TestMachine::Executable(TestClient::kEudora)),
            noErr);
  std::ofstream(machine.Volume() + "/Test Eudora.app/Contents/PkgInfo", std::ios::trunc) << "APPLXXXX";
  ASSERT_EQ(FindApplicationFile(kEudora, &file), 0);
  EXPECT_EQ(NameOf(file), "Second Eudora.app");
  std::filesystem::remove_all(machine.Volume() + "/Second Eudora.app");
  EXPECT_EQ(FindApplicationFile(kEudora, &file), nsvErr);
}

TEST_F(ApplicationLookup, OpenApplicationFileLaunchesToTheFront) {
  machine.Install(TestClient::kMail);
  FSSpec file{};
  ASSERT_EQ(FindApplicationFile(FourCC("emal"), &file), 0);
  ProcessSerialNumber launched = {0, 0};
  ASSERT_EQ(OpenApplicationFile(&file, &launched), 0);
  ProcessSerialNumber front;
  ASSERT_EQ(GetFrontProcess(&front), noErr);
  EXPECT_EQ(front.lowLongOfPSN, launched.lowLongOfPSN);

  std::filesystem::remove_all(machine.Volume() + "/Test Mail.app");
  ProcessSerialNumber untouched = {0, 12345};
  EXPECT_NE(OpenApplicationFile(&file, &untouched), 0);
  EXPECT_EQ(untouched.lowLongOfPSN, 12345u);
}

// The URL goes to the opener on the PATH, "mailto:" assumed when it has no scheme.
TEST_F(ApplicationLookup, OpenURLHandsTheURLOver) {
  const std::string bin = std::string(std::getenv("QUILLCAST_HOME")) + "/bin";
  const std::string opened = bin + "/opened";
  std::filesystem::create_directories(bin);
  std::ofstream(bin + "/xdg-open") << "#!/bin/sh\necho \"$1\" >> '" << opened << "'\n";
  std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
  const std::string savedPath = std::getenv("PATH");
  setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);
  const std::string address = "someone@example.com";
  const std::string page = "https://example.com/quillcast";
  EXPECT_EQ(OpenURL(address.data(), SInt32(address.size())), 0);
  EXPECT_EQ(OpenURL(page.data(), SInt32(page.size())), 0);
  const std::string expected = "mailto:someone@example.com\nhttps://example.com/quillcast\n";
  for (int tries = 0; tries < 200 && ReadAll(opened) != expected; ++tries) usleep(10000);
  EXPECT_EQ(ReadAll(opened), expected);

  setenv("PATH", (std::string(std::getenv("QUILLCAST_HOME")) + "/nowhere").c_str(), 1);
  EXPECT_EQ(OpenURL(page.data(), SInt32(page.size())), 1997);
  setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
