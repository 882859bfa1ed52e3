#include "send/AddressParser.h"

#include <MacErrors.h>
#include <MacMemory.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Item {
  std::string name;
  std::string address;
  std::string round;
  std::string angled;
};

struct ParserCase {
  const char *list;
  std::vector<Item> items;
  std::string joined;  // GetAllAddressesRound on a fresh parser
};

class Parser {
 public:
  explicit Parser(const std::string &text) : text_(text) {
    parser_ = InitializeAddressParser(&status_, text_.data(), UInt32(text_.size()));
  }
  ~Parser() { DestroyAddressParser(parser_); }
  AddressParser *get() { return parser_; }
  OSErr status() const { return status_; }

 private:
  std::string text_;
  OSErr status_ = 1;
  AddressParser *parser_ = nullptr;
};

std::string Str(const char *p, UInt32 n) {
  return std::string(p, n);
}

const ParserCase kCases[] = {
    {"Ann Lee <user1>, user2 (Bob) ,, user3",
     {{"Ann Lee", "user1", "user1 (Ann Lee)", "Ann Lee <user1>"},
      {"Bob", "user2", "user2 (Bob)", "Bob <user2>"},
      {"", "user3", "user3", "user3"}},
     "user1 (Ann Lee),user2 (Bob),user3"},
    {"user1", {{"", "user1", "user1", "user1"}}, "user1"},
    {"<user1> Ann", {{"Ann", "user1", "user1 (Ann)", "Ann <user1>"}}, "user1 (Ann)"},
    {"Ann <user1> Lee", {{"Lee", "user1", "user1 (Lee)", "Lee <user1>"}}, "user1 (Lee)"},
    {"Anne <user1> Lee", {{"Anne", "user1", "user1 (Anne)", "Anne <user1>"}}, "user1 (Anne)"},
    {"Ann <user1", {{"", "Ann <user1", "Ann <user1", "Ann <user1"}}, "Ann <user1"},
    {"user1 (Ann (A.) Lee)", {{"Ann (A.", "user1", "user1 (Ann (A.)", "Ann (A. <user1>"}}, "user1 (Ann (A.)"},
    {"\"Lee, Ann\" <user1>",
     {{"", "\"Lee", "\"Lee", "\"Lee"}, {"Ann\"", "user1", "user1 (Ann\")", "Ann\" <user1>"}},
     "\"Lee,user1 (Ann\")"},
    {"<user1,user2>",
     {{"", "<user1", "<user1", "<user1"}, {"", "user2>", "user2>", "user2>"}},
     "<user1,user2>"},
    {"(Ann, Lee) user1", {{"Ann, Lee", "user1", "user1 (Ann, Lee)", "Ann, Lee <user1>"}}, "user1 (Ann, Lee)"},
    {", ,", {}, ""},
    {"Ann <>", {{"Ann", "", " (Ann)", "Ann <>"}}, " (Ann)"},
    {"a), b", {{"", "a)", "a)", "a)"}, {"", "b", "b", "b"}}, "a),b"},
    {"Ann<user1>", {{"Ann", "user1", "user1 (Ann)", "Ann <user1>"}}, "user1 (Ann)"},
    {"\t\r\n user1 \r", {{"", "user1", "user1", "user1"}}, "user1"},
    {"<  user1\t> ( Ann )", {{"( Ann )", "user1", "user1 (( Ann ))", "( Ann ) <user1>"}}, "user1 (( Ann ))"},
};

TEST(AddressParser, ItemsSplitAndFormsAsTabulated) {
  for (const ParserCase &c : kCases) {
    SCOPED_TRACE(c.list);
    for (int form = 0; form < 4; form++) {
      Parser p(c.list);
      ASSERT_EQ(p.status(), noErr);
      for (const Item &item : c.items) {
        const char *a = nullptr, *n = nullptr;
        UInt32 al = 0, nl = 0;
        if (form == 0) {
          ASSERT_TRUE(ParseNextAddress(p.get(), &n, &nl, &a, &al));
          EXPECT_EQ(Str(n, nl), item.name);
          EXPECT_EQ(Str(a, al), item.address);
        } else if (form == 1) {
          ASSERT_TRUE(GetNextAddressRound(p.get(), &a, &al));
          EXPECT_EQ(Str(a, al), item.round);
        } else if (form == 2) {
          ASSERT_TRUE(GetNextAddressAngled(p.get(), &a, &al));
          EXPECT_EQ(Str(a, al), item.angled);
        } else {
          ASSERT_TRUE(GetNextAddressOnly(p.get(), &a, &al));
          EXPECT_EQ(Str(a, al), item.address);
        }
      }
      const char *a = "unchanged";
      UInt32 al = 9;
      EXPECT_FALSE(GetNextAddressRound(p.get(), &a, &al));
      EXPECT_FALSE(ParseNextAddress(p.get(), &a, &al, &a, &al));
      EXPECT_EQ(Str(a, al), "unchanged");
    }
    Parser all(c.list);
    const char *joined = nullptr;
    UInt32 length = 12345;
    EXPECT_EQ(GetAllAddressesRound(all.get(), &joined, &length), !c.items.empty());
    EXPECT_EQ(Str(joined, length), c.joined);
  }
}

TEST(AddressParser, BlankListsGiveNoParserAndNoError) {
  for (const char *blank : {"", " ", "\t\r\n  "}) {
    Parser p(blank);
    EXPECT_EQ(p.get(), nullptr);
    EXPECT_EQ(p.status(), noErr);
    const char *out = "x";
    UInt32 length = 1;
    EXPECT_FALSE(GetAllAddressesRound(nullptr, &out, &length));
    EXPECT_FALSE(ParseNextAddress(nullptr, &out, &length, &out, &length));
    EXPECT_EQ(length, 1u);
  }
  DestroyAddressParser(nullptr);
}

TEST(AddressParser, SeparateByBracketsKeepsTheLongerSideAndChangesNothingWithoutAPair) {
  const char *text = "Ann <user1> Lee";
  const char *inside = "-", *outside = "-";
  UInt32 il = 7, ol = 7;
  EXPECT_FALSE(SeparateByBrackets(text, 15, '(', ')', &inside, &il, &outside, &ol));
  EXPECT_FALSE(SeparateByBrackets("a>b<c", 5, '<', '>', &inside, &il, &outside, &ol));
  EXPECT_EQ(il, 7u);
  EXPECT_EQ(ol, 7u);
  ASSERT_TRUE(SeparateByBrackets(text, 15, '<', '>', &inside, &il, &outside, &ol));
  EXPECT_EQ(Str(inside, il), "user1");
  EXPECT_EQ(Str(outside, ol), " Lee");
  ASSERT_TRUE(SeparateByBrackets(text, 14, '<', '>', &inside, &il, &outside, &ol));
  EXPECT_EQ(Str(outside, ol), "Ann ");
}

// Every item "a<b>" gains a byte in round form ("b (a)"), so the joined list outgrows the
// initial slack; it must still come out whole.
TEST(AddressParser, JoinedListOfAnyLengthIsWrittenWhole) {
  std::string list, expected;
  for (int i = 0; i < 5000; i++) {
    std::string n = "n" + std::to_string(i), a = "u" + std::to_string(i);
    if (i > 0) list += ",", expected += ",";
    list.append(n).append("<").append(a).append(">");
    expected.append(a).append(" (").append(n).append(")");
  }
  Parser p(list);
  const char *joined = nullptr;
  UInt32 length = 0;
  ASSERT_TRUE(GetAllAddressesRound(p.get(), &joined, &length));
  EXPECT_EQ(Str(joined, length), expected);
}

TEST(AddressParser, EveryAllocationFailureIsReportedAndLeavesNothing) {
  std::string list;
  for (int i = 0; i < 40; i++) list += "n<u" + std::to_string(i) + ">,";
  for (long failAt = 0;; failAt++) {
    long blocks = CarbonLiveBlocks();
    CarbonFailAllocationAfter(failAt);
    OSErr status = 1;
    AddressParser *parser = InitializeAddressParser(&status, list.data(), UInt32(list.size()));
    const char *joined = nullptr;
    UInt32 length = 0;
    Boolean ok = parser != nullptr && GetAllAddressesRound(parser, &joined, &length);
    if (parser == nullptr) {
      EXPECT_NE(status, noErr);
    } else if (!ok) {
      EXPECT_NE(parser->status, noErr);
    }
    DestroyAddressParser(parser);
    CarbonFailAllocationAfter(-1);
    EXPECT_EQ(CarbonLiveBlocks(), blocks);
    if (ok) break;
  }
}

}  // namespace
