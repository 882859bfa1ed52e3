// A fresh emulated machine for one test: QUILLCAST_HOME points at a new temporary folder
// that is removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class FreshHome : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillcast-base-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    setenv("QUILLCAST_HOME", home_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  std::string home_;
};

// The build folder's bundle, made by the target quillcast_resources.
inline std::string BuiltBundle() {
  const char *build = std::getenv("QUILLCAST_BUILD_DIR");
  return std::string(build ? build : ".") + "/Quillcast.bundle";
}

inline std::string BuiltResourceFile() {
  return BuiltBundle() + "/Contents/Resources/Quillcast.rsrc";
}
