#include "merge/MergePreparation.h"

#include <MacMemory.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "merge/MergedMessage.h"
#include "tests/merge/MergeFixtures.h"

namespace {

// Field lists and templates use CR line ends and Mac OS Roman marks.
const std::string kOpen = "\xC7", kClose = "\xC8", kNumber = "\xA4\xC6";
std::string P(const std::string &name) {
  return kOpen + name + kClose;
}

TEST(SearchLine, FindsTheFirstWholeLineCaseBlind) {
  struct {
    const char *name;
    const char *list;
    SInt16 line;
  } cases[] = {
      {"first", "First\rLast\rEmail", 1},
      {"EMAIL", "First\rLast\rEmail", 3},
      {"Lastname", "First\rLast", 0},
      {"Las", "First\rLast", 0},
      {"", "First\r\rLast", 0},
      {"a", "b\ra\ra", 2},
      {"x", "", 0},
      {"Last", "First\rLast\r", 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + c.list);
    EXPECT_EQ(SearchLine(c.name, UInt32(std::strlen(c.name)), c.list), c.line);
  }
  // Names past the comparison's 255-byte run still compare whole.
  std::string longName(300, 'n'), other = longName;
  other[280] = 'm';
  std::string list = other + "\r" + longName;
  EXPECT_EQ(SearchLine(longName.data(), UInt32(longName.size()), list.c_str()), 2);
}

struct ScanCase {
  std::string text;
  const char *fields;  // null: no field list
  std::vector<MergePlace> places;
  SInt16 highest;
};

TEST(ScanTemplate, RecognisesPlaceholdersOfTheFieldList) {
  const char *fl = "First\rLast\rEmail";
  const ScanCase cases[] = {
      {"Dear " + P("first") + " " + P("Email"), fl, {{0, 0, 5, 7}, {0, 2, 13, 7}}, 3},
      {P("Last") + P("Lastname"), "First\rLast", {{0, 1, 0, 6}}, 2},
      {"No. " + P(kNumber), fl, {{0, 0xFFFE, 4, 4}}, 0},
      {"No. " + P(kNumber), nullptr, {}, 0},
      {P("") + kClose + "x", fl, {}, 0},
      {kOpen + "a" + P("Last"), fl, {{0, 1, 2, 6}}, 2},
      {kOpen + "Fir\rst" + kClose + P("la\rst"), "Fir\rst", {}, 0},
      {"no marks at all", fl, {}, 0},
      {kOpen + "Email", fl, {}, 0},
  };
  for (const ScanCase &c : cases) {
    SCOPED_TRACE(c.text);
    SInt16 highest = 0;
    UInt32 count = ScanTemplate(c.text.data(), UInt32(c.text.size()), c.fields, 0, nullptr, &highest);
    ASSERT_EQ(count, c.places.size());
    EXPECT_EQ(highest, c.highest);
    std::vector<MergePlace> places(count + 1);
    ScanTemplate(c.text.data(), UInt32(c.text.size()), c.fields, 0, places.data(), &highest);
    for (UInt32 i = 0; i < count; i++) {
      EXPECT_EQ(places[i].field, c.places[i].field);
      EXPECT_EQ(places[i].offset, c.places[i].offset);
      EXPECT_EQ(places[i].length, c.places[i].length);
    }
  }
}

TEST_F(MergeState, PlacesAreRecordedInTemplateOrderWithExactTables) {
  SetTemplate(kTemplateTo, P("Email"));
  SetTemplate(kTemplateSubject, "Dear " + P("first") + " " + P("Email"));
  SetTemplate(kTemplateAccount, P(kNumber));
  ASSERT_TRUE(PrepareMergePlaces("First\rLast\rEmail"));
  ASSERT_EQ(mergePlaces, 4u);
  EXPECT_EQ(mergeFields, 3);
  const UInt16 params[] = {kTemplateSubject, kTemplateSubject, kTemplateTo, kTemplateAccount};
  for (int i = 0; i < 4; i++) EXPECT_EQ(mergePlace[i].param, params[i]);
  EXPECT_EQ(GetPtrSize(reinterpret_cast<Ptr>(mergePlace)), Size(4 * sizeof(MergePlace)));
  EXPECT_EQ(GetPtrSize(reinterpret_cast<Ptr>(mergeCell)), Size(3 * sizeof(MergeCell)));
}

TEST_F(MergeState, NoPlaceholdersGiveEmptyTablesNotAFailure) {
  SetTemplate(kTemplateSubject, "plain");
  ASSERT_TRUE(PrepareMergePlaces(nullptr));
  EXPECT_EQ(mergePlaces, 0u);
  EXPECT_EQ(mergeFields, 0);
  EXPECT_NE(mergePlace, nullptr);
  EXPECT_NE(mergeCell, nullptr);
}

TEST_F(MergeState, OptionsComeFromTheirTemplates) {
  struct {
    const char *encoding, *stuffit, *html;
    UInt32 code;
    Boolean stuff, htm;
  } cases[] = {
      {"AppleSingle", "true", "true", 5, 1, 1}, {"AppleDouble", "True", "yes", 6, 0, 0},
      {"UUEncode", "tr", "", 4, 1, 0},          {"Base64", nullptr, nullptr, 3, 0, 0},
      {"BinHex", "false", "t", 2, 0, 0},        {"No Encoding", "", "true", 1, 0, 1},
      {"Service Default", "x", "x", 0, 0, 0},   {"Base6", "t", "tr", 0, 0, 1},
      {nullptr, nullptr, nullptr, 0, 0, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.encoding ? c.encoding : "(missing)");
    SetOptionalTemplate(kTemplateEncoding, c.encoding);
    SetOptionalTemplate(kTemplateStuffit, c.stuffit);
    SetOptionalTemplate(kTemplateHTML, c.html);
    ReadMergeOptions();
    EXPECT_EQ(mergeEncoding, c.code);
    EXPECT_EQ(mergeStuffit, c.stuff);
    EXPECT_EQ(mergeHTML, c.htm);
  }
}

TEST_F(MergeState, TableAllocationFailuresAnswerFalse) {
  SetTemplate(kTemplateTo, P("Email"));
  for (long failAt = 0; failAt < 2; failAt++) {
    CarbonFailAllocationAfter(failAt);
    EXPECT_FALSE(PrepareMergePlaces("Email"));
    CarbonFailAllocationAfter(-1);
  }
  EXPECT_TRUE(PrepareMergePlaces("Email"));
}

TEST_F(MergeState, UnknownOrWronglyCasedClientsDoNotStart) {
  for (const char *name : {"mail", "Mail ", "Nonesuch", ""}) {
    EXPECT_FALSE(StartEmailClientConnection(name));
    EXPECT_EQ(connection, nullptr);
  }
  EXPECT_FALSE(StartEmailClientConnection(nullptr));
}

}  // namespace
