#include "AETestSupport.h"

#include <AEFlatten.h>
#include <Endian.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class AEFlatten : public AELeakCheck {};

Bytes Flatten(const AEDesc &desc) {
  Bytes bytes(size_t(AESizeOfFlattenedDesc(&desc)));
  Size size = 0;
  EXPECT_EQ(AEFlattenDesc(&desc, reinterpret_cast<Ptr>(bytes.data()), Size(bytes.size()), &size), noErr);
  EXPECT_EQ(size_t(size), bytes.size());
  return bytes;
}

OSStatus Unflatten(const Bytes &bytes, AEDesc *desc) {
  return AEUnflattenDescSafe(bytes.data(), Size(bytes.size()), desc);
}

Bytes ReadCorpus(const std::string &name) {
  std::ifstream in(std::filesystem::path(AE_FLATTEN_CORPUS) / (name + ".aefl"), std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The corpus of the flattened-form fuzz target: events and replies as they travel between the
// plug-in and the applications it drives.
const struct {
  const char *name, *printed;
} kCorpus[] = {
    {"message-crel",
     "'core'\\'crel'{ 'kocl':type('bcke'), 'prdt':{ 'subj':\"Hello\", "
     "'ctnt':\"Dear Ann,\\x0Dthe meeting is at ten.\", 'rcpt':\"ann@example.com\", "
     "'cc  ':\"bob@example.com\", 'sndr':\"Me <me@example.com>\" } }"},
    {"getd-named-account",
     "'core'\\'getd'{ '----':'obj '{ 'form':'prop', 'want':type('prop'), 'seld':type('flln'), "
     "'from':'obj '{ 'form':'name', 'want':type('mact'), 'seld':\"Work\", 'from':null() } } }"},
    {"reply-names", "'aevt'\\'ansr'{ '----':[ 'utf8'(\"M\\xC3\\xBCller\"), 'TEXT'(), [ ], [ \"a\" ] ] }"},
    {"reply-error", "'aevt'\\'ansr'{ 'errn':-1728, 'errs':\"No such object.\" }"},
    {"record-scalars",
     "{ 'bool':true, 'true':'true'(), 'shor':-2, 'magn':'magn'(4000000000), "
     "'utxt':'utxt'(\"H\\xE2\\x82\\xAC\"), 'psn ':'psn '($0000000100000002$), 'odd ':'odd '($010203$) }"},
    {"empty-list", "[ ]"},
    {"null", "null()"},
    {"regression-short-code",
     "'aevt'\\'ansr'{ '----':[ 'utf8'(\"M\\xC3\\xBCller\"), 'TEXT'(), [ ], [ 'abso'($61$) ] ], "
     "&'rohd':'4isr'($0009$) }"},
};

// Each reads as the event it was written from and flattens back to the very same bytes; the
// message event the plug-in builds flattens to exactly its file.
TEST_F(AEFlatten, CorpusReadsAsItsEventsAndFlattensBackExactly) {
  for (const auto &c : kCorpus) {
    Bytes bytes = ReadCorpus(c.name);
    AEDesc desc;
    ASSERT_EQ(Unflatten(bytes, &desc), noErr) << c.name;
    EXPECT_EQ(PrintDesc(desc), c.printed) << c.name;
    EXPECT_EQ(Flatten(desc), bytes) << c.name;
    AEDisposeDesc(&desc);
  }
  AppleEvent event;
  ASSERT_EQ(MakeMessageEvent(&event), noErr);
  EXPECT_EQ(Flatten(event), ReadCorpus("message-crel"));
  AEDisposeDesc(&event);
}

TEST_F(AEFlatten, BufferSizes) {
  AppleEvent event;
  MakeMessageEvent(&event);
  Size needed = AESizeOfFlattenedDesc(&event), actual = 0;
  Bytes buffer(size_t(needed), 0xEE);
  EXPECT_EQ(AEFlattenDesc(&event, nullptr, 0, &actual), noErr);
  EXPECT_EQ(actual, needed);
  EXPECT_EQ(AEFlattenDesc(&event, reinterpret_cast<Ptr>(buffer.data()), needed - 1, &actual),
            errAEBufferTooSmall);
  EXPECT_EQ(buffer[0], 0xEE);
  AEDisposeDesc(&event);
}

// Every truncation, every byte added at the end and every changed byte of every corpus file
// is refused or read whole; whatever is read flattens back to exactly the bytes given.
TEST_F(AEFlatten, DamagedInputIsRefusedOrReadExactly) {
  for (const auto &c : kCorpus) {
    Bytes good = ReadCorpus(c.name);
    AEDesc desc;
    for (size_t n = 0; n < good.size(); n++) {
      Bytes cut(good.begin(), good.begin() + long(n));
      EXPECT_EQ(Unflatten(cut, &desc), paramErr) << c.name << " cut at " << n;
      EXPECT_EQ(desc.dataHandle, nullptr);
    }
    for (const Bytes &extra : {Bytes{0}, good}) {
      Bytes longer = good;
      longer.insert(longer.end(), extra.begin(), extra.end());
      EXPECT_EQ(Unflatten(longer, &desc), paramErr) << c.name << " with " << extra.size() << " more bytes";
      EXPECT_EQ(desc.dataHandle, nullptr);
    }
    for (size_t i = 0; i < good.size(); i++) {
      for (uint8_t flip : {0x01, 0x80, 0xFF}) {
        Bytes bad = good;
        bad[i] ^= flip;
        if (Unflatten(bad, &desc) == noErr) {
          EXPECT_EQ(Flatten(desc), bad) << c.name << " byte " << i;
        }
        AEDisposeDesc(&desc);
      }
    }
  }
}

Bytes Flat(DescType type, std::initializer_list<uint32_t> words) {
  std::vector<uint32_t> all = {kAEFlatMagic, kAEFlatVersion, type, uint32_t(words.size() * 4)};
  all.insert(all.end(), words);
  Bytes b(all.size() * 4);
  for (size_t i = 0; i < all.size(); i++) PutBigEndian32(&b[i * 4], all[i]);
  return b;
}

TEST_F(AEFlatten, HostileShapes) {
  const Bytes cases[] = {
      Flat(typeAEList, {kAEFlatFormList, 0xFFFFFFFF}),                             // count past the bytes
      Flat(typeAEList, {kAEFlatFormList, 1, typeWildCard, typeChar, 0x7FFFFFF0}),  // item past the end
      Flat(typeAEList, {kAEFlatFormList, 1, FourCC("subj"), typeNull, 0}),         // a key in a list
      Flat(typeChar, {kAEFlatFormData}),                                           // 'data' without bytes
      Flat(typeAEList, {kAEFlatFormData, 1}),                                      // a list that is data
      Flat(typeChar, {kAEFlatFormList, 0}),                                        // data that is a list
      Flat(typeAERecord, {}),                                                      // a record without form
      Flat(typeAppleEvent, {kAEFlatFormEvent, 0}),                                 // no parameter count
      Flat(typeAERecord, {kAEFlatFormRecord, 0, 0}),                               // bytes left over
      Flat(typeAERecord, {FourCC("what"), 0}),                                     // unknown form
  };
  for (const auto &bytes : cases) {
    AEDesc desc;
    EXPECT_EQ(Unflatten(bytes, &desc), paramErr) << PrintDesc(desc);
  }
  Bytes wrongMagic = Flat(typeNull, {});
  wrongMagic[0] = 'x';
  AEDesc desc;
  EXPECT_EQ(Unflatten(wrongMagic, &desc), paramErr);
  EXPECT_EQ(AEUnflattenDescSafe(nullptr, 16, &desc), paramErr);
}

TEST_F(AEFlatten, NestingIsBounded) {
  for (int depth : {int(kAEFlatMaxDepth), int(kAEFlatMaxDepth) + 1}) {
    AEDesc list;
    AECreateList(nullptr, 0, false, &list);
    for (int i = 1; i < depth; i++) {
      AEDesc outer;
      AECreateList(nullptr, 0, false, &outer);
      AEPutDesc(&outer, 0, &list);
      AEDisposeDesc(&list);
      list = outer;
    }
    AEDesc back;
    EXPECT_EQ(Unflatten(Flatten(list), &back),
              depth <= int(kAEFlatMaxDepth) ? OSStatus(noErr) : OSStatus(paramErr))
        << depth;
    AEDisposeDesc(&back);
    AEDisposeDesc(&list);
  }
}

}  // namespace
