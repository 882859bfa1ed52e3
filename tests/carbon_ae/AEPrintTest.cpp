#include "AETestSupport.h"

namespace {

class AEPrint : public AELeakCheck {};

std::string PrintData(DescType type, const void *data, Size size) {
  AEDesc desc;
  EXPECT_EQ(AECreateDesc(type, data, size, &desc), noErr);
  std::string text = PrintDesc(desc);
  AEDisposeDesc(&desc);
  return text;
}

TEST_F(AEPrint, PlainData) {
  const int32_t longValue = -42;
  const int16_t shortValue = 7;
  const uint32_t magnitude = 4000000000u, code = FourCC("bcke"), quote = FourCC("a'\\b");
  const uint32_t psn[2] = {0, 0x1234};
  const uint8_t yes = 1, no = 0;
  const uint16_t utf16[] = {'M', 0xFC, '"'};
  const struct {
    DescType type;
    const void *data;
    Size size;
    const char *printed;
  } cases[] = {
      {typeChar, "Hello", 5, "\"Hello\""},
      {typeChar, "say \"hi\"\\\r\x9F\x7F", 12, "\"say \\\"hi\\\"\\\\\\x0D\\x9F\\x7F\""},
      {typeChar, "", 0, "'TEXT'()"},
      {typeUTF8Text, "M\xC3\xBCller", 7, "'utf8'(\"M\\xC3\\xBCller\")"},
      {typeUnicodeText, utf16, 6, "'utxt'(\"M\\xC3\\xBC\\\"\")"},
      {typeSInt32, &longValue, 4, "-42"},
      {typeSInt16, &shortValue, 2, "7"},
      {typeUInt32, &magnitude, 4, "'magn'(4000000000)"},
      {typeEnumerated, &code, 4, "'bcke'"},
      {typeType, &code, 4, "type('bcke')"},
      {typeProperty, &code, 4, "'prop'('bcke')"},
      {typeEnumerated, &quote, 4, "'a\\'\\\\b'"},
      {typeBoolean, &yes, 1, "true"},
      {typeBoolean, &no, 1, "false"},
      {typeTrue, nullptr, 0, "'true'()"},
      {typeFalse, nullptr, 0, "'fals'()"},
      {typeNull, nullptr, 0, "null()"},
      {typeProcessSerialNumber, psn, 8, "'psn '($0000000000001234$)"},
      {typeSInt32, "\x01\x02", 2, "'long'($0102$)"},
      {typeBoolean, "\x00\x01", 2, "'bool'($0001$)"},
      {FourCC("alis"), "\x00\xAB", 2, "'alis'($00AB$)"},
  };
  for (const auto &c : cases) EXPECT_EQ(PrintData(c.type, c.data, c.size), c.printed);
}

TEST_F(AEPrint, ListsRecordsAndEvents) {
  AppleEvent event;
  ASSERT_EQ(MakeMessageEvent(&event), noErr);
  // Standard attributes stay hidden; others follow the parameters with '&'.
  int32_t timeout = 1200, signature = 65536;
  AEPutAttributePtr(&event, keyTimeoutAttr, typeSInt32, &timeout, 4);
  AEPutAttributePtr(&event, FourCC("csig"), typeSInt32, &signature, 4);
  AEDeleteParam(&event, keyAEPropData);
  EXPECT_EQ(PrintDesc(event), "'core'\\'crel'{ 'kocl':type('bcke'), &'csig':65536 }");
  AEDisposeDesc(&event);

  AppleEvent reply;
  AECreateAppleEvent(kCoreEventClass, kAEAnswer, nullptr, 5, 0, &reply);
  EXPECT_EQ(PrintDesc(reply), "'aevt'\\'ansr'{ }");
  int32_t err = -1728;
  AEPutParamPtr(&reply, keyErrorNumber, typeSInt32, &err, 4);
  EXPECT_EQ(PrintDesc(reply), "'aevt'\\'ansr'{ 'errn':-1728 }");
  AEDisposeDesc(&reply);

  AEDescList list, empty;
  AERecord record;
  AECreateList(nullptr, 0, false, &list);
  AECreateList(nullptr, 0, false, &empty);
  AECreateList(nullptr, 0, true, &record);
  EXPECT_EQ(PrintDesc(empty), "[ ]");
  EXPECT_EQ(PrintDesc(record), "{ }");
  AEDesc null;
  AEInitializeDesc(&null);
  AEPutKeyDesc(&record, keyAEContainer, &null);
  AEDesc spec;
  AECoerceDesc(&record, typeObjectSpecifier, &spec);
  AEPutDesc(&list, 0, &spec);
  AEPutDesc(&list, 0, &empty);
  PutText(&record, FourCC("seld"), "x");
  AEPutDesc(&list, 0, &record);
  EXPECT_EQ(PrintDesc(list), "[ 'obj '{ 'from':null() }, [ ], { 'from':null(), 'seld':\"x\" } ]");
  for (AEDesc *d : {&list, &empty, &record, &spec}) AEDisposeDesc(d);
}

}  // namespace
