#include "merge/MergedMessage.h"

#include <MacErrors.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/merge/MergeFixtures.h"

namespace {

const std::string kOpen = "\xC7", kClose = "\xC8", kSep = "\xFF";
std::string P(const std::string &name) {
  return kOpen + name + kClose;
}

// What one Emailer 'CRML' event carried.
struct EmailerMessage {
  bool hasSubject = false, hasBody = false;
  std::string subject, body;
  std::vector<std::pair<SInt16, std::string>> recipients;
};

std::string TextParam(const AEDesc *from, AEKeyword key, bool *present) {
  DescType type;
  Size size = 0;
  *present = AESizeOfParam(from, key, &type, &size) == noErr;
  if (!*present) return "";
  std::string text(size_t(size), '\0');
  AEGetParamPtr(from, key, typeChar, &type, text.data(), size, &size);
  return text;
}

EmailerMessage Decode(const AppleEvent *event) {
  EmailerMessage m;
  m.subject = TextParam(event, FourCC("SUBJ"), &m.hasSubject);
  m.body = TextParam(event, FourCC("BODY"), &m.hasBody);
  AEDescList list;
  if (AEGetParamDesc(event, FourCC("RECP"), typeAEList, &list) != noErr) return m;
  long count = 0;
  AECountItems(&list, &count);
  for (long i = 1; i <= count; i++) {
    AERecord r;
    AEKeyword key;
    AEGetNthDesc(&list, i, typeAERecord, &key, &r);
    SInt16 kind = -1;
    DescType type;
    Size size;
    AEGetKeyPtr(&r, FourCC("RCTP"), typeSInt16, &type, &kind, sizeof kind, &size);
    bool present = false;
    m.recipients.emplace_back(kind, TextParam(&r, FourCC("RCAD"), &present));
    AEDisposeDesc(&r);
  }
  AEDisposeDesc(&list);
  return m;
}

class Merge : public MergeState {
 protected:
  EmailerMessage Last() { return Decode(&capturedEvents.back().event); }
};

TEST_F(Merge, ValuesAreSplicedAtTheirPlaces) {
  SetTemplate(kTemplateTo, P("Email"));
  SetTemplate(kTemplateSubject, "Hello " + P("Name"));
  SetTemplate(kTemplateMessage, "Message " + P("\xA4\xC6") + ", " + P("name") + "!");
  Connect(kEmailerCreator, "Name\rEmail");
  for (int i = 0; i < 42; i++) AddRecord("Ann" + kSep + "A");
  ASSERT_TRUE(CreateMergedEmailMessage(0));
  EmailerMessage m = Last();
  EXPECT_EQ(m.subject, "Hello Ann");
  EXPECT_EQ(m.body, "Message 1, Ann!");
  ASSERT_EQ(m.recipients.size(), 1u);
  EXPECT_EQ(m.recipients[0], std::make_pair(SInt16(0), std::string("A")));
  ASSERT_TRUE(CreateMergedEmailMessage(41));
  EXPECT_EQ(Last().body, "Message 42, Ann!");
}

TEST_F(Merge, FieldsMissingFromTheRecordAreEmptyAndExtraOnesIgnored) {
  SetTemplate(kTemplateTo, P("Email"));
  SetTemplate(kTemplateCc, P("Cc"));
  SetTemplate(kTemplateSubject, "[" + P("Name") + "|" + P("Cc") + "|" + P("Other") + "]");
  Connect(kEmailerCreator, "Name\rEmail\rCc");
  AddRecord("Ann" + kSep + "a@x");                                 // fewer fields than used
  AddRecord("Bob" + kSep + "b@x" + kSep + "c@x" + kSep + "more");  // more fields than used
  AddRecord("Cy");                                                 // no separator at all
  ASSERT_TRUE(CreateMergedEmailMessage(0));
  EXPECT_EQ(Last().subject, "[Ann||" + P("Other") + "]");
  ASSERT_TRUE(CreateMergedEmailMessage(1));
  EXPECT_EQ(Last().subject, "[Bob|c@x|" + P("Other") + "]");
  EXPECT_EQ(Last().recipients.size(), 2u);
  size_t sent = capturedEvents.size();
  EXPECT_TRUE(CreateMergedEmailMessage(2));  // To and Cc merge to nothing
  EXPECT_EQ(capturedEvents.size(), sent);
}

TEST_F(Merge, RecordsWithoutRecipientsAreSkippedButCounted) {
  SetTemplate(kTemplateTo, P("Email"));
  SetTemplate(kTemplateSubject, "Hello");
  Connect(kEmailerCreator, "Name\rEmail");
  AddRecord("Ann" + kSep);
  for (int i = 1; i <= 6; i++) {
    EXPECT_TRUE(CreateMergedEmailMessage(0));
    EXPECT_EQ(connectionMessages, i);
  }
  EXPECT_TRUE(capturedEvents.empty());
}

TEST_F(Merge, MissingTemplatesGiveEmptyParts) {
  SetTemplate(kTemplateBcc, "hidden@x");
  Connect(kEmailerCreator, nullptr);
  AddRecord("");
  ASSERT_TRUE(CreateMergedEmailMessage(0));
  EmailerMessage m = Last();
  EXPECT_FALSE(m.hasBody);
  EXPECT_FALSE(m.hasSubject);
  ASSERT_EQ(m.recipients.size(), 1u);
  EXPECT_EQ(m.recipients[0].first, 2);
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

TEST_F(Merge, AFailedSendAnswersFalseAndLeavesNothingAllocated) {
  SetTemplate(kTemplateTo, P("Email"));
  Connect(kEmailerCreator, "Email");
  AddRecord("a@x");
  long blocks = CarbonLiveBlocks();
  captureStatus = errAETimeout;
  captureFailAfter = 0;
  EXPECT_FALSE(CreateMergedEmailMessage(0));
  EXPECT_EQ(CarbonLiveBlocks(), blocks);
}

// Every allocation of a whole "Merg" fails in turn: never a crash or a leak, and the two
// blocks of the merge itself (record copy, merged text) fail the message.
TEST_F(Merge, EachAllocationFailingInTurn) {
  SetTemplate(kTemplateTo, P("Email") + ", Second <" + P("Email") + ">");
  SetTemplate(kTemplateSubject, "Hello " + P("Name"));
  SetTemplate(kTemplateAttachments, "/tmp/a\r/tmp/b");
  Connect(kEmailerCreator, "Name\rEmail");
  AddRecord("Ann" + kSep + "a@x");
  long failAt = 0;
  for (;; failAt++) {
    long blocks = CarbonLiveBlocks();
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
