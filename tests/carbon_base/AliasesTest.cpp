// Alias Manager: a minimal alias names its file by path until the file is looked up. (Damaged
// aliases are the fuzz target's.)
#include "TestHome.h"

#include <Aliases.h>
#include <MacErrors.h>
#include <MacMemory.h>

#include <fstream>
#include <string>

namespace {

std::string Name(AliasHandle alias, AliasInfoType index) {
  Str63 name;
  EXPECT_EQ(GetAliasInfo(alias, index, name), noErr);
  return std::string(reinterpret_cast<const char *>(name + 1), name[0]);
}

using AliasesTest = FreshHome;

TEST_F(AliasesTest, MinimalAliasResolvesToItsPathWhenTheFileIsThere) {
  const std::string path = home_ + "/Pictures/badge.png";
  AliasHandle alias = nullptr;
  ASSERT_EQ(NewAliasMinimalFromFullPath(short(path.size()), path.data(), nullptr, nullptr, &alias), noErr);
  EXPECT_EQ(Name(alias, asiAliasName), "badge.png");
  EXPECT_EQ(Name(alias, asiParentName), "Pictures");
  EXPECT_EQ(Name(alias, asiVolumeName), "");
  FSRef ref;
  Boolean changed = true;
  EXPECT_EQ(FSResolveAlias(nullptr, alias, &ref, &changed), fnfErr);
  EXPECT_FALSE(changed);
  std::filesystem::create_directories(home_ + "/Pictures");
  std::ofstream(path) << "png";
  ASSERT_EQ(FSResolveAlias(nullptr, alias, &ref, &changed), noErr);
  UInt8 resolved[1024];
  ASSERT_EQ(FSRefMakePath(&ref, resolved, sizeof resolved), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(resolved)), path);
  DisposeHandle(reinterpret_cast<Handle>(alias));

  AliasHandle none = nullptr;
  EXPECT_EQ(NewAliasMinimalFromFullPath(0, "", nullptr, nullptr, &none), paramErr);
  EXPECT_EQ(NewAliasMinimalFromFullPath(-1, "/x", nullptr, nullptr, &none), paramErr);
  EXPECT_EQ(none, nullptr);
}

}  // namespace
