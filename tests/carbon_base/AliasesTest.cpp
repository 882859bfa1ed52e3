// Alias Manager: a minimal alias names its file by path until the file is looked up, and an
// alias that arrives damaged from another process is refused without reading past its end.
#include "TestHome.h"

#include <Aliases.h>
#include <MacErrors.h>
#include <MacMemory.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> AliasBytes(const std::string &path) {
  AliasHandle alias = nullptr;
  EXPECT_EQ(NewAliasMinimalFromFullPath(short(path.size()), path.data(), nullptr, nullptr, &alias), noErr);
  auto handle = reinterpret_cast<Handle>(alias);
  std::vector<uint8_t> bytes(*handle, *handle + GetHandleSize(handle));
  DisposeHandle(handle);
  return bytes;
}

// The alias held in a handle of exactly these bytes; caller disposes.
AliasHandle FromBytes(const std::vector<uint8_t> &bytes) {
  Handle handle = NewHandle(Size(bytes.size()));
  if (!bytes.empty()) std::memcpy(*handle, bytes.data(), bytes.size());
  return reinterpret_cast<AliasHandle>(handle);
}

std::string Name(AliasHandle alias, AliasInfoType index) {
  Str63 name;
  EXPECT_EQ(GetAliasInfo(alias, index, name), noErr);
  return std::string(reinterpret_cast<const char *>(name + 1), name[0]);
}

using AliasesTest = FreshHome;

TEST_F(AliasesTest, MinimalAliasResolvesToItsPathWhenTheFileIsThere) {
  const std::string path = home_ + "/Pictures/badge.png";
  AliasHandle alias = FromBytes(AliasBytes(path));
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

TEST_F(AliasesTest, DamagedAliasesAreRefused) {
  const std::vector<uint8_t> good = AliasBytes("/tmp/a");
  std::vector<std::vector<uint8_t>> damaged;
  for (size_t size = 0; size < good.size(); size++)
    damaged.emplace_back(good.begin(), good.begin() + long(size));
  for (size_t at : {0u, 4u, 5u, 6u, 7u, 8u, 9u}) {
    damaged.push_back(good);
    damaged.back()[at] ^= 0x40;
  }
  for (const std::vector<uint8_t> &bytes : damaged) {
    SCOPED_TRACE(bytes.size());
    AliasHandle alias = FromBytes(bytes);
    FSRef ref;
    Str63 name;
    EXPECT_EQ(FSResolveAlias(nullptr, alias, &ref, nullptr), paramErr);
    EXPECT_EQ(GetAliasInfo(alias, asiAliasName, name), paramErr);
    DisposeHandle(reinterpret_cast<Handle>(alias));
  }
  // A NUL inside the path names nothing, rather than the path before it.
  AliasHandle alias = FromBytes(AliasBytes(std::string("/tmp\0/a", 7)));
  FSRef ref;
  EXPECT_EQ(FSResolveAlias(nullptr, alias, &ref, nullptr), fnfErr);
  DisposeHandle(reinterpret_cast<Handle>(alias));
}

}  // namespace
