#include "support/StringUtils.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A Str255 from a C++ string (at most 255 bytes).
struct P {
  Str255 s;
  explicit P(const std::string &text) {
    s[0] = UInt8(text.size());
    text.copy(reinterpret_cast<char *>(s + 1), text.size());
  }
  std::string str() const { return std::string(reinterpret_cast<const char *>(s + 1), s[0]); }
};

const UInt8 *U(const char *text) {
  return reinterpret_cast<const UInt8 *>(text);
}

TEST(StringUtils, RelativeCharsOrdersByFoldedBytesThenLength) {
  struct Case {
    std::string a, b;
    Boolean exact;
    SInt16 expected;
  } cases[] = {
      {"abc", "ABC", false, 0},        {"abc", "ABC", true, 1},     {"Mail", "Mailsmith", false, -1},
      {"Mailsmith", "Mail", false, 1}, {"", "", true, 0},           {"\x89", "\x8C", false, 0},
      {"\x89", "\x8C", true, -1},      {"\x87", "\xE7", false, -1}, {"b", "a\xFF", false, 1},
  };
  for (const Case &c : cases) {
    P a(c.a), b(c.b);
    EXPECT_EQ(RelativeChars(U(c.a.data()), UInt8(c.a.size()), U(c.b.data()), UInt8(c.b.size()), c.exact),
              c.expected)
        << c.a << " vs " << c.b;
    EXPECT_EQ(RelativeString(a.s, b.s, c.exact), c.expected);
  }
}

TEST(StringUtils, UpperTableFoldsOnlyTheListedBytes) {
  int changed = 0;
  for (int i = 0; i < 256; i++) changed += upperChar[i] != i;
  EXPECT_EQ(changed, 38);
  EXPECT_EQ(upperChar[0x89], 0x81);
  EXPECT_EQ(upperChar[0x87], 0x87);
  EXPECT_EQ(upperChar['z'], 'Z');
}

TEST(StringUtils, FindCharsReturnsOneBasedPositionOrZero) {
  struct Case {
    std::string pattern, text;
    Boolean exact;
    SInt16 expected;
  } cases[] = {
      {"smith", "Mailsmith", true, 5}, {"SMITH", "Mailsmith", false, 5},
      {"SMITH", "Mailsmith", true, 0}, {"", "abc", true, 1},
      {"abcd", "abc", false, 0},       {"c", "abc", true, 3},
  };
  for (const Case &c : cases) {
    P pattern(c.pattern), text(c.text);
    EXPECT_EQ(FindInString(pattern.s, text.s, c.exact), c.expected) << c.pattern << " in " << c.text;
  }
}

TEST(StringUtils, AppendAndInsertStopAt255) {
  P s(std::string(250, 'x'));
  EXPECT_EQ(AppendChars(s.s, U("0123456789"), 10), 5);
  EXPECT_EQ(s.s[0], 255);
  EXPECT_EQ(s.str().substr(250), "01234");
  EXPECT_EQ(AppendChars(s.s, U("z"), 1), 0);

  P t("held");
  EXPECT_EQ(InsertChars(U("ABC"), 3, t.s, 2), 3);
  EXPECT_EQ(t.str(), "heABCld");
  P full(std::string(254, 'a'));
  EXPECT_EQ(InsertString(P("XYZ").s, full.s, 0), 1);
  EXPECT_EQ(full.str(), "X" + std::string(254, 'a'));
}

TEST(StringUtils, CloneAndRemove) {
  P source("Entourage"), copy("");
  CloneString(source.s, copy.s);
  EXPECT_EQ(copy.str(), "Entourage");
  CloneChars(U("Eudora"), 3, copy.s);
  EXPECT_EQ(copy.str(), "Eud");
  RemoveFromString(source.s, 3, 3);
  EXPECT_EQ(source.str(), "Entage");
  RemoveFromString(source.s, 4, 200);  // clipped to the string
  EXPECT_EQ(source.str(), "Enta");
}

}  // namespace
