#include "AETestSupport.h"

#include <AEFlatten.h>
#include <Endian.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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

// Events and values as they travel between the plug-in and the applications it drives.
struct Sample {
  const char *name;
  std::function<void(AEDesc *)> make;
};

void NamedAccountQuery(AEDesc *event) {
  const uint32_t psn[2] = {0, 0x2A}, prop = FourCC("prop"), flln = FourCC("flln"), name = FourCC("name");
  const uint32_t mact = FourCC("mact");
  const int32_t timeout = 1200;
  AEStreamRef ref = AEStreamCreateEvent(kAECoreSuite, kAEGetData, typeProcessSerialNumber, psn, 8, 9, 0);
  AEStreamWriteKey(ref, keyDirectObject);
  AEStreamOpenRecord(ref, typeObjectSpecifier);
  AEStreamWriteKeyDesc(ref, keyAEKeyForm, typeEnumerated, &prop, 4);
  AEStreamWriteKeyDesc(ref, keyAEDesiredClass, typeType, &prop, 4);
  AEStreamWriteKeyDesc(ref, keyAEKeyData, typeType, &flln, 4);
  AEStreamWriteKey(ref, keyAEContainer);
  AEStreamOpenRecord(ref, typeObjectSpecifier);
  AEStreamWriteKeyDesc(ref, keyAEKeyForm, typeEnumerated, &name, 4);
  AEStreamWriteKeyDesc(ref, keyAEDesiredClass, typeType, &mact, 4);
  AEStreamWriteKeyDesc(ref, keyAEKeyData, typeChar, "Work", 4);
  AEStreamWriteKeyDesc(ref, keyAEContainer, typeNull, nullptr, 0);
  AEStreamCloseRecord(ref);
  AEStreamCloseRecord(ref);
  AEStreamClose(ref, event);
  AEPutAttributePtr(event, keyTimeoutAttr, typeSInt32, &timeout, 4);
}

void NamesReply(AEDesc *reply) {
  AEStreamRef ref = AEStreamCreateEvent(kCoreEventClass, kAEAnswer, typeNull, nullptr, 0, 9, 0);
  AEStreamWriteKey(ref, keyDirectObject);
  AEStreamOpenList(ref);
  AEStreamWriteDesc(ref, typeUTF8Text, "M\xC3\xBCller", 7);
  AEStreamWriteDesc(ref, typeChar, "", 0);
  AEStreamWriteDesc(ref, typeAEList, nullptr, 0);
  AEStreamOpenList(ref);
  AEStreamWriteDesc(ref, typeChar, "a", 1);
  AEStreamCloseList(ref);
  AEStreamCloseList(ref);
  AEStreamClose(ref, reply);
}

void ScalarsRecord(AEDesc *record) {
  const uint8_t yes = 1;
  const int16_t shortValue = -2;
  const uint32_t magnitude = 4000000000u, psn[2] = {1, 2};
  const uint16_t utf16[] = {0x48, 0x20AC};
  AECreateList(nullptr, 0, true, record);
  AEPutKeyPtr(record, FourCC("bool"), typeBoolean, &yes, 1);
  AEPutKeyPtr(record, FourCC("true"), typeTrue, nullptr, 0);
  AEPutKeyPtr(record, FourCC("shor"), typeSInt16, &shortValue, 2);
  AEPutKeyPtr(record, FourCC("magn"), typeUInt32, &magnitude, 4);
  AEPutKeyPtr(record, FourCC("utxt"), typeUnicodeText, utf16, 4);
  AEPutKeyPtr(record, FourCC("psn "), typeProcessSerialNumber, psn, 8);
  AEPutKeyPtr(record, FourCC("odd "), FourCC("odd "), "\x01\x02\x03", 3);
}

const std::vector<Sample> &Samples() {
  static const std::vector<Sample> samples = {
      {"message-crel", [](AEDesc *d) { MakeMessageEvent(d); }},
      {"getd-named-account", NamedAccountQuery},
      {"reply-names", NamesReply},
      {"reply-error",
       [](AEDesc *d) {
         int32_t err = -1728;
         AECreateAppleEvent(kCoreEventClass, kAEAnswer, nullptr, 3, 0, d);
         AEPutParamPtr(d, keyErrorNumber, typeSInt32, &err, 4);
         AEPutParamPtr(d, keyErrorString, typeChar, "No such object.", 15);
       }},
      {"record-scalars", ScalarsRecord},
      {"empty-list", [](AEDesc *d) { AECreateList(nullptr, 0, false, d); }},
      {"null", [](AEDesc *d) { AEInitializeDesc(d); }},
  };
  return samples;
}

// The corpus of the flattened-form fuzz target is these samples; with QUILLCAST_WRITE_AE_CORPUS
// set the test writes them afresh, otherwise it checks that the writer still makes them.
TEST_F(AEFlatten, SamplesMatchTheFuzzCorpus) {
  std::filesystem::path corpus = AE_FLATTEN_CORPUS;
  bool write = std::getenv("QUILLCAST_WRITE_AE_CORPUS") != nullptr;
  for (const auto &sample : Samples()) {
    AEDesc desc;
    sample.make(&desc);
    Bytes bytes = Flatten(desc);
    AEDisposeDesc(&desc);
    std::filesystem::path file = corpus / (std::string(sample.name) + ".aefl");
    if (write) {
      std::filesystem::create_directories(corpus);
      std::ofstream(file, std::ios::binary)
          .write(reinterpret_cast<const char *>(bytes.data()), long(bytes.size()));
    }
    std::ifstream in(file, std::ios::binary);
    Bytes stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(stored, bytes) << sample.name;
  }
}

TEST_F(AEFlatten, RoundTripKeepsEverything) {
  for (const auto &sample : Samples()) {
    AEDesc desc, back;
    sample.make(&desc);
    Bytes bytes = Flatten(desc);
    ASSERT_EQ(Unflatten(bytes, &back), noErr) << sample.name;
    EXPECT_EQ(back.descriptorType, desc.descriptorType);
    EXPECT_EQ(PrintDesc(back), PrintDesc(desc));
    EXPECT_EQ(Flatten(back), bytes);
    AEDisposeDesc(&desc);
    AEDisposeDesc(&back);
  }
  // Native-order data is big-endian on the wire.
  int32_t value = 0x01020304;
  AEDesc desc;
  AECreateDesc(typeSInt32, &value, 4, &desc);
  Bytes bytes = Flatten(desc);
  EXPECT_EQ(GetBigEndian32(&bytes[20]), 0x01020304u);
  AEDisposeDesc(&desc);
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

// Every truncation and every changed byte of every sample is refused or read whole; whatever
// is read flattens back to exactly the bytes given.
TEST_F(AEFlatten, DamagedInputIsRefusedOrReadExactly) {
  for (const auto &sample : Samples()) {
    AEDesc desc;
    sample.make(&desc);
    Bytes good = Flatten(desc);
    AEDisposeDesc(&desc);
    for (size_t n = 0; n < good.size(); n++) {
      Bytes cut(good.begin(), good.begin() + long(n));
      EXPECT_EQ(Unflatten(cut, &desc), paramErr) << sample.name << " cut at " << n;
      EXPECT_EQ(desc.dataHandle, nullptr);
    }
    for (size_t i = 0; i < good.size(); i++) {
      for (uint8_t flip : {0x01, 0x80, 0xFF}) {
        Bytes bad = good;
        bad[i] ^= flip;
        if (Unflatten(bad, &desc) == noErr) {
          EXPECT_EQ(Flatten(desc), bad) << sample.name << " byte " << i;
        }
        AEDisposeDesc(&desc);
      }
    }
  }
}

Bytes Header(DescType type, uint32_t length) {
  Bytes b(16);
  PutBigEndian32(&b[0], kAEFlatMagic);
  PutBigEndian32(&b[4], kAEFlatVersion);
  PutBigEndian32(&b[8], type);
  PutBigEndian32(&b[12], length);
  return b;
}

void Append32(Bytes *b, uint32_t v) {
  b->resize(b->size() + 4);
  PutBigEndian32(&(*b)[b->size() - 4], v);
}

TEST_F(AEFlatten, HostileShapes) {
  auto with = [](DescType type, std::initializer_list<uint32_t> words) {
    Bytes b = Header(type, uint32_t(words.size() * 4));
    for (uint32_t w : words) Append32(&b, w);
    return b;
  };
  const Bytes cases[] = {
      with(typeAEList, {kAEFlatFormList, 0xFFFFFFFF}),                             // count past the bytes
      with(typeAEList, {kAEFlatFormList, 1, typeWildCard, typeChar, 0x7FFFFFF0}),  // item past the end
      with(typeAEList, {kAEFlatFormList, 1, FourCC("subj"), typeNull, 0}),         // a key in a list
      with(typeChar, {kAEFlatFormData}),                                           // 'data' without bytes
      with(typeAEList, {kAEFlatFormData, 1}),                                      // a list that is data
      with(typeChar, {kAEFlatFormList, 0}),                                        // data that is a list
      with(typeAERecord, {}),                                                      // a record without form
      with(typeAppleEvent, {kAEFlatFormEvent, 0}),                                 // no parameter count
      with(typeAERecord, {kAEFlatFormRecord, 0, 0}),                               // bytes left over
      with(typeAERecord, {FourCC("what"), 0}),                                     // unknown form
  };
  for (const auto &bytes : cases) {
    AEDesc desc;
    EXPECT_EQ(Unflatten(bytes, &desc), paramErr) << PrintDesc(desc);
  }
  Bytes wrongMagic = with(typeNull, {});
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
