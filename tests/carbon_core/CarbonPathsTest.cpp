#include "CarbonPaths.h"

#include <MacErrors.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(CarbonPaths, FSSpecRoundTripsAPath) {
  FSSpec spec;
  ASSERT_EQ(carbon::PathToFSSpec("/tmp/some folder/file.txt", &spec), noErr);
  EXPECT_EQ(spec.name[0], 8);
  std::string back;
  ASSERT_EQ(carbon::FSSpecToPath(&spec, &back), noErr);
  EXPECT_EQ(back, "/tmp/some folder/file.txt");
}

TEST(CarbonPaths, NamesLongerThan63BytesAreRefused) {
  FSSpec spec;
  EXPECT_EQ(carbon::PathToFSSpec("/tmp/" + std::string(64, 'x'), &spec), bdNamErr);
  EXPECT_EQ(carbon::PathToFSSpec("relative/path", &spec), bdNamErr);
}

TEST(CarbonPaths, VolumesListTheSystemDiskApplicationsAndExtraVolumes) {
  setenv("QUILLCAST_HOME", "/tmp/quillcast-paths-test", 1);
  setenv("QUILLCAST_VOLUMES", "/tmp/v1::/tmp/v2/", 1);
  auto volumes = carbon::Volumes();
  ASSERT_EQ(volumes.size(), 4u);
  EXPECT_EQ(volumes[0].root, "/");
  EXPECT_EQ(volumes[1].root, "/tmp/quillcast-paths-test/Applications");
  EXPECT_EQ(volumes[3].root, "/tmp/v2");
  FSSpec spec;
  ASSERT_EQ(carbon::PathToFSSpec("/tmp/v1/App.app", &spec), noErr);
  EXPECT_EQ(spec.vRefNum, volumes[2].vRefNum);
  unsetenv("QUILLCAST_VOLUMES");
}

TEST(CarbonPaths, FSRefsNameTheSamePathOnce) {
  FSRef a;
  FSRef b;
  carbon::PathToFSRef("/x/y", &a);
  carbon::PathToFSRef("/x/y", &b);
  std::string path;
  ASSERT_TRUE(carbon::FSRefToPath(&b, &path));
  EXPECT_EQ(path, "/x/y");
  FSRef junk{};
  EXPECT_FALSE(carbon::FSRefToPath(&junk, &path));
}

}  // namespace
