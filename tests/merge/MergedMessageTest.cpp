#include "merge/MergedMessage.h"

#include <MacErrors.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/merge/MergeFixtures.h"

namespace {

const std::string kOpen = "\xC7", kClose = "\xC8", kSep = "\xFF";
std::string P(const std::string &name) {
  return kOpen + name + kClose;
}

class Merge : public MergeState {
 protected:
  // The last Emailer 'CRML' event, in AEPrint form.
  static std::string Last() { return capturedEvents.empty() ? "<none>" : capturedEvents.back().text; }
};

TEST_F(Merge, ValuesAreSplicedAtTheirPlaces) {
  SetTemplate(kTemplateTo, P("Email"));
  SetTemplate(kTemplateSubject, "Hello " + P("Name"));
  SetTemplate(kTemplateMessage, "Message " + P("\xA4\xC6") + ", " + P("name") + "!");
  Connect(kEmailerCreator, "Name\rEmail");
  for (int i = 0; i < 42; i++) AddRecord("Ann" + kSep + "A");
  ASSERT_TRUE(CreateMergedEmailMessage(0));
  EXPECT_EQ(Last(), R"('MMan'\'CRML'{ 'BODY':"Message 1, Ann!", 'SUBJ':"Hello Ann", )"
                    R"('RECP':[ { 'RCTP':0, 'RCAD':"A" } ], 'SAVE':'true'() })");
  ASSERT_TRUE(CreateMergedEmailMessage(41));
  EXPECT_NE(Last().find("'BODY':\"Message 42, Ann!\""), std::string::npos) << Last();
}

TEST_F(Merge, FieldsMissingFromTheRecordAreEmptyAndExtraOnesIgnored) {
  SetTemplate(kTemplateTo, P("Email"));
  SetTemplate(kTemplateCc, P("Cc"));
  SetTemplate(kTemplateSubject, "[" + P("Name") + "|" + P("Cc") + "|" + P("Other") + "]");
  Connect(kEmailerCreator, "Name\rEmail\rCc");
  AddRecord("Ann" + kSep + "a@x");                                 // fewer fields than used
  AddRecord("Bob" + kSep + "b@x" + kSep + "c@x" + kSep + "more");  // more fields than used
  AddRecord("Cy");                                                 // no separator at all
  // AEPrint shows the guillemets of the unknown placeholder as escapes.
  ASSERT_TRUE(CreateMergedEmailMessage(0));
  EXPECT_EQ(Last(), R"('MMan'\'CRML'{ 'SUBJ':"[Ann||\xC7Other\xC8]", )"
                    R"('RECP':[ { 'RCTP':0, 'RCAD':"a@x" } ], 'SAVE':'true'() })");
  ASSERT_TRUE(CreateMergedEmailMessage(1));
  EXPECT_EQ(Last(),
            R"('MMan'\'CRML'{ 'SUBJ':"[Bob|c@x|\xC7Other\xC8]", 'RECP':[ { 'RCTP':0, 'RCAD':"b@x" }, )"
            R"({ 'RCTP':1, 'RCAD':"c@x" } ], 'SAVE':'true'() })");
  size_t sent = capturedEvents.size();
  EXPECT_TRUE(CreateMergedEmailMessage(2));  // To and Cc merge to nothing
  EXPECT_EQ(capturedEvents.size(), sent);
}

// Skipped for want of recipients, but counted; missing templates give absent parts.
TEST_F(Merge, EmptyRecipientsAndMissingTemplates) {
  SetTemplate(kTemplateTo, P("Email"));
  Connect(kEmailerCreator, "Name\rEmail");
  AddRecord("Ann" + kSep);
  for (int i = 1; i <= 6; i++) {
    EXPECT_TRUE(CreateMergedEmailMessage(0));
    EXPECT_EQ(connectionMessages, i);
  }
  EXPECT_TRUE(capturedEvents.empty());
  SetTemplate(kTemplateBcc, "hidden@x");
  ASSERT_TRUE(CreateMergedEmailMessage(0));
  EXPECT_EQ(Last(), R"('MMan'\'CRML'{ 'RECP':[ { 'RCTP':2, 'RCAD':"hidden@x" } ], 'SAVE':'true'() })");
}

TEST_F(Merge, BadCallsAnswerFalseWithoutReadingOrSending) {
  SetTemplate(kTemplateTo, "a@x");
  SInt32 counted = connectionMessages;
  EXPECT_FALSE(CreateMergedEmailMessage(0));  // no connection: not even counted
  EXPECT_EQ(connectionMessages, counted);
  Connect(kEmailerCreator, nullptr);
  AddRecord("r");
  for (SInt32 index : {-1, 1, 0x7FFFFFFF}) EXPECT_FALSE(CreateMergedEmailMessage(index));
  EXPECT_EQ(connectionMessages, 3);
  KillDictionary(&globals.records);  // a killed store keeps its count but has no data
  EXPECT_FALSE(CreateMergedEmailMessage(0));
  EXPECT_TRUE(capturedEvents.empty());
  connection->signature = FourCC("none");
  ASSERT_TRUE(InitDictionary(&globals.records));
  AddRecord("r");
  EXPECT_FALSE(CreateMergedEmailMessage(0));  // the dispatcher knows no such client
  FinishEmailClientConnection();
  EXPECT_FALSE(CreateMergedEmailMessage(0));
}

// A send that timed out, then every allocation of a whole "Merg" failing in turn: never a
// crash or a leak, and the two blocks of the merge itself (record copy, merged text) fail the
// message.
TEST_F(Merge, FailuresAnswerFalseAndLeaveNothingAllocated) {
  SetTemplate(kTemplateTo, P("Email") + ", Second <" + P("Email") + ">");
  SetTemplate(kTemplateSubject, "Hello " + P("Name"));
  SetTemplate(kTemplateAttachments, "/tmp/a\r/tmp/b");
  Connect(kEmailerCreator, "Name\rEmail");
  AddRecord("Ann" + kSep + "a@x");
  long blocks = CarbonLiveBlocks();
  captureStatus = errAETimeout;
  captureFailAfter = 0;
  EXPECT_FALSE(CreateMergedEmailMessage(0));
  EXPECT_EQ(CarbonLiveBlocks(), blocks);
  ClearCapture();
  EXPECT_FALSE(CreateMergedEmailMessage(0));  // the client may be frozen: nothing more is sent
  EXPECT_TRUE(capturedEvents.empty());
  connection->timedOut = false;  // as after a new "Strt"
  long failAt = 0;
  for (;; failAt++) {
    CarbonFailAllocationAfter(failAt);
    Boolean sent = CreateMergedEmailMessage(0);
    bool used = FailureWasUsed(failAt);
    if (failAt < 2) {
      EXPECT_FALSE(sent);
      EXPECT_TRUE(capturedEvents.empty());
    }
    ClearCapture();
    EXPECT_EQ(CarbonLiveBlocks(), blocks) << "allocation " << failAt;
    if (!used) break;
  }
  EXPECT_GT(failAt, 10);
}

}  // namespace
