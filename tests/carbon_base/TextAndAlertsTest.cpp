// Text Utilities, the Text Encoding Converter, alerts, screens, ticks and Gestalt.
#include "TestHome.h"

#include <Dialogs.h>
#include <Events.h>
#include <Files.h>
#include <Gestalt.h>
#include <MacErrors.h>
#include <Quickdraw.h>
#include <Resources.h>
#include <TextEncodingConverter.h>
#include <TextUtils.h>

#include <climits>
#include <string>

namespace {

std::string Pascal(const Str255 text) {
  return std::string(reinterpret_cast<const char *>(text + 1), text[0]);
}

TEST(TextUtilsTest, NumbersBothWays) {
  struct {
    long number;
    const char *text;
  } formats[] = {{0, "0"},
                 {-42, "-42"},
                 {2147483647, "2147483647"},
                 {-2147483648L, "-2147483648"},
                 {4294967295L, "-1"},
                 {4294967296L, "0"}};  // only the low 32 bits count
  for (const auto &row : formats) {
    Str255 text;
    NumToString(row.number, text);
    EXPECT_EQ(Pascal(text), row.text) << row.number;
  }
  struct {
    const char *text;
    long number;
  } parses[] = {
      {"123", 123},      {"-7", -7}, {"+15", 15}, {"", 0}, {"-", 0}, {"007", 7}, {"2147483648", -2147483648L},
      {"4294967297", 1}, {"1a", 59}, {" 1", -159}};  // 59: 1 * 10 + ('a' - '0')
  for (const auto &row : parses) {
    Str255 text;
    long number = 99;
    CopyCStringToPascal(row.text, text);
    StringToNum(text, &number);
    EXPECT_EQ(number, row.number) << row.text;
  }
}

TEST(TextEncodingTest, MacRomanFollowsTheUnicodeTable) {
  TECObjectRef toUTF8;
  TECObjectRef toRoman;
  TextEncoding roman;
  ASSERT_EQ(UpgradeScriptInfoToTextEncoding(smSystemScript, kTextLanguageDontCare, kTextRegionDontCare,
                                            nullptr, &roman),
            noErr);
  TextEncoding utf8 =
      CreateTextEncoding(kTextEncodingUnicodeDefault, kTextEncodingDefaultVariant, kUnicodeUTF8Format);
  ASSERT_EQ(TECCreateConverter(&toUTF8, roman, utf8), noErr);
  ASSERT_EQ(TECCreateConverter(&toRoman, utf8, roman), noErr);
  const unsigned char macText[] = {'a', 0xC6, 0xDB, 0xF0, 0xA4};
  unsigned char out[32];
  ByteCount used;
  ByteCount made;
  ASSERT_EQ(TECConvertText(toUTF8, macText, sizeof macText, &used, out, sizeof out, &made), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(out), made), "a\u2206\u20AC\uF8FF\u00A7");
  unsigned char back[8];
  ASSERT_EQ(TECConvertText(toRoman, out, made, &used, back, sizeof back, &made), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(back), made), std::string(macText, macText + 5));

  struct {
    std::string input;
    ByteCount room;
    OSStatus status;
    ByteCount used;
  } rows[] = {
      {"ok\u4E2D", 32, kTECUnmappableElementErr, 2}, {"ab\xC3", 32, kTECPartialCharErr, 2},
      {"a\xFF", 32, kTextMalformedInputErr, 1},      {"\xC0\x80", 32, kTextMalformedInputErr, 0},
      {"abc", 2, kTECOutputBufferFullStatus, 2},
  };
  for (const auto &row : rows) {
    EXPECT_EQ(TECConvertText(toRoman, reinterpret_cast<ConstTextPtr>(row.input.data()), row.input.size(),
                             &used, back, row.room, &made),
              row.status)
        << row.input;
    EXPECT_EQ(used, row.used) << row.input;
  }
  TECDisposeConverter(toUTF8);
  TECDisposeConverter(toRoman);
  TECObjectRef none;
  EXPECT_EQ(TECCreateConverter(&none, 0x7777, utf8), kTECNoConversionPathErr);
}

class AlertTest : public FreshHome {
 protected:
  void SetUp() override {
    FreshHome::SetUp();
    CarbonResetAlerts();
    ASSERT_GT(CarbonOpenResourceFile(BuiltResourceFile().c_str()), 0);
  }
  void TearDown() override {
    CarbonCloseAllResourceFiles();
    FreshHome::TearDown();
  }
};

TEST_F(AlertTest, AlertIsOneLineOnStandardErrorWithItsParameters) {
  Str255 context, number, first, second;
  CopyCStringToPascal("While saving: ", context);
  NumToString(-43, number);
  CopyCStringToPascal("The file could not be found", first);
  CopyCStringToPascal("Check\rthe name.", second);
  ParamText(context, number, first, second);
  testing::internal::CaptureStderr();
  EXPECT_EQ(StopAlert(32766, nullptr), 1);
  std::string line = testing::internal::GetCapturedStderr();
  EXPECT_STREQ(CarbonLastAlertText(),
               "While saving: The file could not be found (error -43). Check\rthe name.");
  EXPECT_NE(
      line.find(
          "stop alert 32766: While saving: The file could not be found (error -43). Check the name. [OK]\n"),
      std::string::npos)
      << line;
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_EQ(CarbonAlertCount(), 1);

  ParamText(nullptr, nullptr, nullptr, first);  // null keeps a parameter
  testing::internal::CaptureStderr();
  Alert(32766, nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ(CarbonLastAlertText(),
               "While saving: The file could not be found (error -43). The file could not be found");

  testing::internal::CaptureStderr();
  EXPECT_EQ(Alert(1234, nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(CarbonAlertCount(), 2);
  SysBeep(10);
  EXPECT_EQ(CarbonBeepCount(), 1);
}

std::string RectText(const Rect &r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom);
}

TEST(ScreensTest, DefaultAndConfiguredScreens) {
  unsetenv("DISPLAY");
  struct {
    const char *setting;
    const char *main;  // left,top,right,bottom
    const char *all;   // the union of every device
    int devices;
  } rows[] = {
      {nullptr, "0,0,1440,900", "0,0,1440,900", 1},
      {"1440x900+0+0,1024x768-1024+0", "0,0,1440,900", "-1024,0,1440,900", 2},
      {"800x600+1440+0,1440x900+0+0", "0,0,1440,900", "0,0,2240,900", 2},
      {"1024x768+10+10", "10,10,1034,778", "10,10,1034,778", 1},
      {"junk,x,10x,0x5+0+0,1280x1024+0+0", "0,0,1280,1024", "0,0,1280,1024", 1},
      {"junk", "0,0,1440,900", "0,0,1440,900", 1},
  };
  for (const auto &row : rows) {
    if (row.setting)
      setenv("QUILLCAST_SCREENS", row.setting, 1);
    else
      unsetenv("QUILLCAST_SCREENS");
    CarbonResetScreens();
    Rect all = (**GetMainDevice()).gdRect;
    EXPECT_EQ(RectText(all), row.main) << (row.setting ? row.setting : "default");
    int devices = 0;
    for (GDHandle device = GetDeviceList(); device != nullptr; device = GetNextDevice(device), devices++) {
      UnionRect(&all, &(**device).gdRect, &all);
    }
    EXPECT_EQ(RectText(all), row.all) << (row.setting ? row.setting : "default");
    EXPECT_EQ(devices, row.devices);
  }
  unsetenv("QUILLCAST_SCREENS");
  CarbonResetScreens();
}

TEST(EventsTest, DelayHonoursTheTimeScaleAndNothingArrives) {
  setenv("QUILLCAST_TIME_SCALE", "0.1", 1);
  EXPECT_DOUBLE_EQ(CarbonTimeScale(), 0.1);
  EXPECT_EQ(CarbonTicksToMilliseconds(60), 100);
  UInt32 start = TickCount();
  UInt32 finalTicks = 0;
  Delay(30, &finalTicks);
  EXPECT_GE(finalTicks - start, 30u);
  EventRecord event;
  EXPECT_FALSE(WaitNextEvent(everyEvent, &event, 5, nullptr));
  EXPECT_EQ(event.what, nullEvent);
  setenv("QUILLCAST_TIME_SCALE", "nonsense", 1);
  EXPECT_DOUBLE_EQ(CarbonTimeScale(), 1.0);
  EXPECT_GE(TickCount(), finalTicks);
  unsetenv("QUILLCAST_TIME_SCALE");

  SInt32 response = 0;
  EXPECT_EQ(Gestalt(gestaltSystemVersion, &response), noErr);
  EXPECT_EQ(response, 0x1049);  // application lookup takes Launch Services from 10.x on
  EXPECT_EQ(Gestalt(FourCC("zzzz"), &response), gestaltUndefSelectorErr);
}

}  // namespace
