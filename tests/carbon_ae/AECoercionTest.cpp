#include "AETestSupport.h"

#include <vector>

namespace {

class AECoercion : public AELeakCheck {};

AEDesc Make(DescType type, const void *data, Size size) {
  AEDesc desc;
  EXPECT_EQ(AECreateDesc(type, data, size, &desc), noErr);
  return desc;
}

template <class T>
AEDesc MakeValue(DescType type, T value) {
  return Make(type, &value, sizeof value);
}
AEDesc MakeCode(DescType type, const char (&code)[5]) {
  return MakeValue(type, FourCC(code));
}
AEDesc MakeText(DescType type, const char *text) {
  return Make(type, text, Size(std::strlen(text)));
}

TEST_F(AECoercion, PlainData) {
  const struct {
    AEDesc from;
    DescType to;
    const char *printed;  // null: the coercion fails with errAECoercionFail
  } cases[] = {
      {MakeValue(typeSInt32, int32_t(-42)), typeChar, "\"-42\""},
      {MakeValue(typeSInt16, int16_t(7)), typeUTF8Text, "'utf8'(\"7\")"},
      {MakeCode(typeEnumerated, "yes "), typeChar, "\"yes \""},
      {MakeValue(typeBoolean, uint8_t(1)), typeChar, "\"true\""},
      {Make(typeFalse, nullptr, 0), typeChar, "\"false\""},
      {MakeText(typeChar, " 123 "), typeSInt32, "123"},
      {MakeText(typeUTF8Text, "-32768"), typeSInt16, "-32768"},
      {MakeText(typeChar, "32768"), typeSInt16, nullptr},
      {MakeText(typeChar, "12a"), typeSInt32, nullptr},
      {MakeText(typeChar, ""), typeSInt32, nullptr},
      {MakeText(typeChar, "1.5"), typeSInt32, nullptr},
      {MakeText(typeChar, "prop"), typeType, "type('prop')"},
      {MakeText(typeChar, "toolong"), typeEnumerated, nullptr},
      {MakeValue(typeSInt32, int32_t(70000)), typeSInt16, nullptr},
      {MakeValue(typeSInt32, int32_t(-1)), typeUInt32, nullptr},
      {MakeValue(typeSInt16, int16_t(1)), typeBoolean, "true"},
      {MakeValue(typeSInt16, int16_t(2)), typeBoolean, nullptr},
      {MakeValue(typeBoolean, uint8_t(0)), typeSInt32, "0"},
      {MakeValue(typeBoolean, uint8_t(1)), typeEnumerated, "'true'"},
      {MakeCode(typeEnumerated, "fals"), typeBoolean, "false"},
      {MakeCode(typeEnumerated, "yes "), typeBoolean, nullptr},
      {Make(typeTrue, nullptr, 0), typeSInt16, "1"},
      {MakeCode(typeType, "prop"), typeEnumerated, "'prop'"},
      {MakeValue(typeSInt32, int32_t(5)), typeLongDateTime, nullptr},
      {MakeText(typeChar, "x"), typeWildCard, "\"x\""},
  };
  for (const auto &c : cases) {
    AEDesc result;
    OSErr err = AECoerceDesc(&c.from, c.to, &result);
    if (c.printed == nullptr) {
      EXPECT_EQ(err, errAECoercionFail) << PrintDesc(c.from);
      EXPECT_EQ(result.descriptorType, typeNull);
    } else {
      EXPECT_EQ(err, noErr) << PrintDesc(c.from);
      EXPECT_EQ(PrintDesc(result), c.printed) << PrintDesc(c.from);
    }
    AEDisposeDesc(&result);
    AEDesc from = c.from;
    AEDisposeDesc(&from);
  }
}

std::string CoercedData(const AEDesc &desc, DescType to) {
  AEDesc out;
  if (AECoerceDesc(&desc, to, &out) != noErr) return "<failed>";
  std::string data(size_t(AEGetDescDataSize(&out)), '\0');
  AEGetDescData(&out, data.data(), Size(data.size()));
  AEDisposeDesc(&out);
  return data;
}

TEST_F(AECoercion, MacRomanAndUTF8) {
  const struct {
    const char *roman;
    const char *utf8;
  } cases[] = {
      {"plain", "plain"},
      {"M\x9Fller \xDB 5", "M\xC3\xBCller \xE2\x82\xAC 5"},  // u-umlaut, euro sign
      {"\xD2q\xD3 \xC9 \xF0 \xFF", "\xE2\x80\x9Cq\xE2\x80\x9D \xE2\x80\xA6 \xEF\xA3\xBF \xCB\x87"},
      {"? x ?", nullptr},  // not in Mac OS Roman, and malformed UTF-8
  };
  for (const auto &c : cases) {
    AEDesc roman = MakeText(typeChar, c.roman),
           utf8 = MakeText(typeUTF8Text, c.utf8 ? c.utf8 : "\xE4\xB8\xAD x \xC3");
    if (c.utf8 != nullptr) {
      EXPECT_EQ(CoercedData(roman, typeUTF8Text), c.utf8);
    }
    EXPECT_EQ(CoercedData(utf8, typeChar), c.roman);
    AEDesc utxt;
    ASSERT_EQ(AECoerceDesc(&utf8, typeUnicodeText, &utxt), noErr);
    EXPECT_EQ(CoercedData(utxt, typeChar), c.roman);
    for (AEDesc *d : {&roman, &utf8, &utxt}) AEDisposeDesc(d);
  }
}

// Each malformed UTF-8 sequence and each lone UTF-16 unit or odd byte is one U+FFFD ('?' in
// 'TEXT'); 'utxt' may start with a byte-order mark either way round.
TEST_F(AECoercion, MalformedTextAndByteOrderMarks) {
  const char16_t swapped[] = {0xFFFE, 0x4100, 0xAC20}, marked[] = {0xFEFF, 0x0041},
                 lone[] = {0xD800, 0x0041, 0xDC00};
  const struct {
    AEDesc from;
    const char *roman;
  } cases[] = {
      {MakeText(typeUTF8Text, "\xE0\x80\x80x\xED\xA0\x80\xC0\xAF"), "?x??"},
      {MakeText(typeUTF8Text,
                "\xF0\x9F"
                "a\xF8\x80\xF4\x90\x80\x80"),
       "?a???"},
      {Make(typeUnicodeText, swapped, sizeof swapped), "A\xDB"},
      {Make(typeUnicodeText, marked, sizeof marked), "A"},
      {Make(typeUnicodeText, lone, sizeof lone), "?A?"},
      {Make(typeUnicodeText, "A\0B", 3), "A?"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(CoercedData(c.from, typeChar), c.roman) << PrintDesc(c.from);
    AEDesc from = c.from;
    AEDisposeDesc(&from);
  }
}

TEST_F(AECoercion, RecordsListsAndTheGetCalls) {
  AERecord record;
  AECreateList(nullptr, 0, true, &record);
  PutText(&record, FourCC("form"), "name");
  AEDesc spec, back, wrapped, unwrapped, text;
  ASSERT_EQ(AECoerceDesc(&record, typeObjectSpecifier, &spec), noErr);
  EXPECT_EQ(PrintDesc(spec), "'obj '{ 'form':\"name\" }");
  EXPECT_TRUE(AECheckIsRecord(&spec));
  ASSERT_EQ(AECoerceDesc(&spec, typeAERecord, &back), noErr);
  EXPECT_EQ(PrintDesc(back), PrintDesc(record));
  EXPECT_EQ(AECoerceDesc(&spec, typeChar, &text), errAECoercionFail);

  ASSERT_EQ(AECoerceDesc(&spec, typeAEList, &wrapped), noErr);
  EXPECT_EQ(PrintDesc(wrapped), "[ 'obj '{ 'form':\"name\" } ]");
  ASSERT_EQ(AECoerceDesc(&wrapped, typeInsertionLoc, &unwrapped), noErr);
  EXPECT_EQ(PrintDesc(unwrapped), "'insl'{ 'form':\"name\" }");

  // A parameter asked for as a list, and list items asked for as text.
  AppleEvent reply;
  AECreateAppleEvent(kCoreEventClass, kAEAnswer, nullptr, 1, 0, &reply);
  int32_t number = 12345;
  AEPutParamPtr(&reply, keyDirectObject, typeSInt32, &number, 4);
  AEDescList list;
  ASSERT_EQ(AEGetParamDesc(&reply, keyDirectObject, typeAEList, &list), noErr);
  char buffer[3] = {};
  Size size = 0;
  DescType type = 0;
  ASSERT_EQ(AEGetNthPtr(&list, 1, typeChar, nullptr, &type, buffer, 2, &size), noErr);
  EXPECT_EQ(type, typeChar);
  EXPECT_EQ(size, 5);
  EXPECT_STREQ(buffer, "12");
  EXPECT_EQ(AEGetParamPtr(&reply, keyDirectObject, typeType, &type, buffer, 2, &size), errAECoercionFail);
  AEPutPtr(&list, 0, typeChar, "b", 1);
  EXPECT_EQ(AECoerceDesc(&list, typeChar, &text), errAECoercionFail);
  for (AEDesc *d : {&record, &spec, &back, &wrapped, &unwrapped, &reply, &list}) AEDisposeDesc(d);
}

}  // namespace
