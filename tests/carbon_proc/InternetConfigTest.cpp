// Internet Config hands URLs to xdg-open; a stand-in opener on the PATH records them.
#include "ProcTestSupport.h"

#include "ProcessTable.h"

#include <InternetConfig.h>
#include <MacErrors.h>

#include <sys/stat.h>
#include <cstdlib>
#include <cstring>

namespace proctest {
namespace {

class InternetConfigTest : public FreshMachine {
 protected:
  void SetUp() override {
    FreshMachine::SetUp();
    const char *path = std::getenv("PATH");
    savedPath_ = path != nullptr ? path : "";
    bin_ = home_ + "/bin";
    mkdir(bin_.c_str(), 0700);
    opened_ = home_ + "/opened.txt";
    ASSERT_EQ(ICStart(&instance_, FourCC("Qlcs")), noErr);
  }
  void TearDown() override {
    ICStop(instance_);
    setenv("PATH", savedPath_.c_str(), 1);
    FreshMachine::TearDown();
  }

  void UseOpener(int exitStatus) {
    std::string script =
        "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened_ + "'\nexit " + std::to_string(exitStatus) + "\n";
    ASSERT_EQ(carbon::ReplaceFile(bin_ + "/xdg-open", script), noErr);
    chmod((bin_ + "/xdg-open").c_str(), 0700);
    setenv("PATH", bin_.c_str(), 1);
  }

  OSStatus Launch(const std::string &text) {
    long start = 0;
    long end = long(text.size());
    return ICLaunchURL(instance_, reinterpret_cast<const unsigned char *>("\x07mailto:"), text.data(), end,
                       &start, &end);
  }

  ICInstance instance_ = nullptr;
  std::string savedPath_;
  std::string bin_;
  std::string opened_;
};

TEST_F(InternetConfigTest, URLsAreHandedToTheOpener) {
  UseOpener(0);
  struct {
    std::string text;
    OSStatus status;
  } cases[] = {{"someone@example.com", noErr},
               {"  <http://example.com/a?b=c>\r", noErr},
               {"mailto:x@example.com", noErr},
               {"-oProxyCommand=evil", noErr},  // becomes mailto:, never an option of the opener
               {"", icNoURLErr},
               {"two words", icNoURLErr},
               {"line\nbreak", icNoURLErr}};
  for (const auto &row : cases) EXPECT_EQ(Launch(row.text), row.status) << row.text;
  EXPECT_EQ(ReadLines(opened_),
            (std::vector<std::string>{"mailto:someone@example.com", "http://example.com/a?b=c",
                                      "mailto:x@example.com", "mailto:-oProxyCommand=evil"}));
}

TEST_F(InternetConfigTest, FailuresOfTheOpenerAreReported) {
  UseOpener(4);
  EXPECT_EQ(Launch("someone@example.com"), icInternalErr);
  setenv("PATH", (home_ + "/nowhere").c_str(), 1);
  EXPECT_EQ(Launch("someone@example.com"), icConfigNotFoundErr);
}

}  // namespace
}  // namespace proctest
