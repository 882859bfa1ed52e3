// Resource Manager over the plug-in's compiled resource file: strings, 'Err2' messages in
// host order, handle ownership, the chain, and damaged files.
#include "TestHome.h"

#include <CFBundle.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <Resources.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

namespace {

class ResourcesTest : public FreshHome {
 protected:
  void TearDown() override {
    CarbonCloseAllResourceFiles();
    CarbonFailAllocationAfter(-1);
    FreshHome::TearDown();
  }

  std::vector<char> BuiltBytes() {
    std::ifstream in(BuiltResourceFile(), std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::string Write(const std::vector<char> &bytes) {
    std::string path = home_ + "/test.rsrc";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), std::streamsize(bytes.size()));
    return path;
  }

  std::string IndString(SInt16 list, SInt16 index) {
    Str255 text;
    GetIndString(text, list, index);
    return std::string(reinterpret_cast<char *>(text + 1), text[0]);
  }

  // Reads everything a client of the file could ask for; under the sanitizers any read
  // outside the file's bytes is a failure.
  void ReadEverything() {
    for (ResType type : {kStringListResType, kErrorMessagesResType, kAlertResType, kDialogItemListResType}) {
      for (ResourceIndex i = 1; i <= Count1Resources(type) + 1; i++) {
        Handle h = Get1IndResource(type, i);
        if (h != nullptr) {
          ASSERT_GE(GetHandleSize(h), 0);
        }
      }
      for (SInt16 index = 0; index < 14; index++) IndString(32767, index);
    }
  }
};

TEST_F(ResourcesTest, BundleLeadsToTheResourceFile) {
  setenv("QUILLCAST_BUNDLE", BuiltBundle().c_str(), 1);
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("com.quillcast.Other")), nullptr);
  CFBundleRef bundle = CFBundleGetBundleWithIdentifier(CFSTR("com.quillcast.Quillcast"));
  ASSERT_NE(bundle, nullptr);
  EXPECT_STREQ(CFStringGetCStringPtr(CFBundleGetIdentifier(bundle), kCFStringEncodingUTF8),
               "com.quillcast.Quillcast");
  CFBundleRefNum refNum = CFBundleOpenBundleResourceMap(bundle);
  ASSERT_GT(refNum, 0);
  EXPECT_EQ(CurResFile(), refNum);
  EXPECT_EQ(CFBundleOpenBundleResourceMap(bundle), refNum);  // opening again: the same file
}

TEST_F(ResourcesTest, StringListsAndOutOfRangeIndexes) {
  ASSERT_GT(CarbonOpenResourceFile(BuiltResourceFile().c_str()), 0);
  struct {
    SInt16 list, index;
    const char *text;
  } rows[] = {
      {32766, 5, "Quillcast Preferences"},
      {32766, 2, "Quillcast 1.0"},
      {32767, 12, "https://quillcast.example/"},
      {32767, 6, ""},
      {32766, 0, ""},
      {32766, 6, ""},
      {32766, -1, ""},
      {31000, 1, ""},
  };
  for (const auto &row : rows)
    EXPECT_EQ(IndString(row.list, row.index), row.text) << row.list << "/" << row.index;
  EXPECT_FALSE(IndString(32765, 1).empty());
}

TEST_F(ResourcesTest, ErrorMessagesAreInHostOrderAndCoverThePlugInsStatuses) {
  ASSERT_GT(CarbonOpenResourceFile(BuiltResourceFile().c_str()), 0);
  std::set<int> codes;
  for (ResourceIndex i = 1; i <= CountResources(kErrorMessagesResType); i++) {
    Handle h = GetIndResource(kErrorMessagesResType, i);
    ASSERT_NE(h, nullptr);
    int16_t count;
    std::memcpy(&count, *h, 2);
    ASSERT_EQ(GetHandleSize(h), 2 + 514 * count);
    for (int e = 0; e < count; e++) {
      const unsigned char *entry = reinterpret_cast<unsigned char *>(*h) + 2 + 514 * e;
      int16_t code;
      std::memcpy(&code, entry, 2);
      EXPECT_TRUE(codes.insert(code).second) << "twice: " << code;
      EXPECT_GT(entry[2], 0) << code;
      EXPECT_GT(entry[258], 0) << code;
    }
  }
  for (int code : {-108, -192, -43, -39, -1712, -609, -600,  1997,  13579, -34,
                   -35,  -36,  -49, -54, -61,   -120, -1700, -1701, -1708, -1728}) {
    EXPECT_TRUE(codes.count(code)) << code;
  }
}

TEST_F(ResourcesTest, HandlesBelongToTheResourceManager) {
  ResFileRefNum refNum = CarbonOpenResourceFile(BuiltResourceFile().c_str());
  long before = CarbonLiveBlocks();
  Handle first = GetResource(kAlertResType, 32766);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetResource(kAlertResType, 32766), first);
  ResID id;
  ResType type;
  GetResInfo(first, &id, &type, nullptr);
  EXPECT_EQ(id, 32766);
  EXPECT_EQ(type, kAlertResType);
  ReleaseResource(first);
  EXPECT_EQ(CarbonLiveBlocks(), before);

  EXPECT_EQ(GetResource(kAlertResType, 1), nullptr);
  EXPECT_EQ(ResError(), resNotFound);
  CarbonFailAllocationAfter(0);
  EXPECT_EQ(GetResource(kAlertResType, 32766), nullptr);
  EXPECT_EQ(ResError(), memFullErr);
  EXPECT_EQ(IndString(32766, 5), "Quillcast Preferences");  // strings need no heap

  Handle detached = GetResource(kDialogResType, 32761);
  DetachResource(detached);
  CloseResFile(refNum);
  EXPECT_EQ(CarbonLiveBlocks(), before + 1);
  DisposeHandle(detached);
  EXPECT_EQ(CurResFile(), 0);
  EXPECT_EQ(IndString(32766, 5), "");
}

TEST_F(ResourcesTest, ChainSearchesFilesOpenedBefore) {
  ResFileRefNum plugin = CarbonOpenResourceFile(BuiltResourceFile().c_str());
  std::vector<char> empty(16, 0);
  std::memcpy(empty.data(), "QRsf\0\1", 6);
  ResFileRefNum later = CarbonOpenResourceFile(Write(empty).c_str());
  ASSERT_GT(later, 0);
  EXPECT_NE(GetResource(kAlertResType, 32766), nullptr);
  EXPECT_EQ(Get1Resource(kAlertResType, 32766), nullptr);
  EXPECT_EQ(Count1Resources(kErrorMessagesResType), 0);
  EXPECT_GE(CountResources(kErrorMessagesResType), 2);
  UseResFile(plugin);
  EXPECT_EQ(GetResource(kAlertResType, 32766) != nullptr, true);
  UseResFile(555);
  EXPECT_EQ(ResError(), resFNotFound);
  EXPECT_EQ(CurResFile(), plugin);
}

TEST_F(ResourcesTest, DamagedFilesAreRefusedOrReadSafely) {
  std::vector<char> good = BuiltBytes();
  ASSERT_GT(good.size(), 200u);
  EXPECT_EQ(CarbonOpenResourceFile((home_ + "/missing").c_str()), -1);
  EXPECT_EQ(ResError(), fnfErr);
  for (size_t length :
       {size_t(0), size_t(3), size_t(15), size_t(16), size_t(100), good.size() / 2, good.size() - 1}) {
    std::vector<char> cut(good.begin(), good.begin() + long(length));
    EXPECT_EQ(CarbonOpenResourceFile(Write(cut).c_str()), -1) << length;
    EXPECT_EQ(ResError(), mapReadErr);
  }
  for (size_t at = 0; at < good.size(); at += at < 200 ? 1 : 23) {  // every byte of the table, then a sample
    std::vector<char> flipped = good;
    flipped[at] = char(flipped[at] ^ (at % 2 ? 0x80 : 0xFF));
    if (CarbonOpenResourceFile(Write(flipped).c_str()) > 0) ReadEverything();
    CarbonCloseAllResourceFiles();
  }
}

}  // namespace
