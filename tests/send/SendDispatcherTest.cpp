#include "send/SendDispatcher.h"

#include <MacErrors.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clients/EmailClients.h"
#include "tests/send/EventCapture.h"

namespace {

const std::string kEudoraCreate =
    R"('core'\'crel'{ 'insh':'insl'{ 'kobj':'obj '{ 'form':'name', 'want':type('euMB'), 'seld':"out", )"
    R"('from':null() }, 'kpos':'end ' }, 'kocl':type('euMS') })";

std::string EudoraField(const std::string &name, const std::string &value) {
  std::string seld = name.empty() ? "'TEXT'()" : "\"" + name + "\"";
  return R"('core'\'setd'{ '----':'obj '{ 'form':'name', 'want':type('euFd'), 'seld':)" + seld +
         ", 'from':" + M + R"( }, 'data':")" + value + "\" }";
}

TEST_F(Dispatch, ClearedMessageToEudoraOnlyCreatesIt) {
  EXPECT_EQ(Send(kEudoraCreator), 0);
  ExpectEvents({{kEudoraCreate, kSendWaitReply}});
}

TEST_F(Dispatch, EudoraSequence) {
  Fill();
  message_.encoding = kEncodingAppleDouble;
  EXPECT_EQ(Send(kEudoraCreator), 0);
  ExpectEvents({
      {kEudoraCreate, kSendWaitReply},
      {EudoraField("", "Hi Ann"), kSendNoReply},
      {EudoraField("subject", "Hello"), kSendNoReply},
      {EudoraField("to", "user1 (Ann Lee),user2"), kSendNoReply},
      {EudoraField("bcc", "user3"), kSendNoReply},
      {R"('CSOm'\'eAtc'{ '----':)" + M +
           R"(, 'eDcl':[ 'obj '{ 'form':'name', 'want':type('alis'), 'seld':"/a", 'from':null() }, )"
           R"('obj '{ 'form':'name', 'want':type('alis'), 'seld':"/b", 'from':null() } ] })",
       kSendNoReply},
      {R"('core'\'setd'{ '----':'obj '{ 'form':'prop', 'want':type('prop'), 'seld':type('eATy'), 'from':)" +
           M + R"( }, 'data':0 })",
       kSendNoReply},
      {R"('core'\'setd'{ '----':'obj '{ 'form':'prop', 'want':type('prop'), 'seld':type('euPr'), 'from':)" +
           M + R"( }, 'data':'obj '{ 'form':'name', 'want':type('euPr'), 'seld':"Work", 'from':null() } })",
       kSendNoReply},
      {R"('CSOm'\'eQue'{ '----':)" + M + " }", kSendWaitReply},
  });
}

TEST_F(Dispatch, EncodingsTranslateIntoEachDialect) {
  Set(&message_.to, &message_.toLength, "a");
  Set(&message_.attachments, &message_.attachmentsLength, "/f");
  message_.stuffit = true;
  struct {
    UInt32 code;
    const char *eudora;     // 'data' of the 'eATy' event; null: no such event
    const char *mailsmith;  // 'Encd' of the enclosure; null: none
    const char *emailer;    // 'ENCD'; null: none
    const char *powerMail;  // 'Encd' of the attachment record; null: none
    const char *outlook;    // 'Encd' of the message; null: none
  } cases[] = {
      {0, nullptr, nullptr, nullptr, nullptr, nullptr}, {1, "0", "'eApD'", "1", "'eNoE'", "'eApD'"},
      {2, "2", "'eHQX'", "2", "'eBnH'", "'eBnH'"},      {3, "0", "'eB64'", "3", "'eB64'", "'eB64'"},
      {4, "3", "'eUUc'", "4", "'eUUE'", "'eUUE'"},      {5, "1", "'eApS'", "3", "'eApD'", "'eApD'"},
      {6, "0", "'eApD'", "3", "'eApD'", "'eApD'"},      {9, "0", "'eApD'", "3", "'eApD'", "'eApD'"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.code);
    message_.encoding = c.code;
    ASSERT_EQ(Send(kEudoraCreator), 0);
    std::string last = capturedEvents.back().text;
    if (c.eudora == nullptr) {
      EXPECT_EQ(last.find("eATy"), std::string::npos);
    } else {
      EXPECT_NE(last.find(std::string("'data':") + c.eudora + " }"), std::string::npos) << last;
    }
    ASSERT_EQ(Send(kMailsmithCreator), 0);
    std::string enclosure = capturedEvents[2].text;
    std::string encd = c.mailsmith ? std::string(", 'Encd':") + c.mailsmith : "";
    EXPECT_NE(enclosure.find(R"({ 'file':"/f")" + encd + " }"), std::string::npos) << enclosure;
    ASSERT_EQ(Send(kEmailerCreator), 0);
    std::string crml = capturedEvents.back().text;
    std::string files = R"('FILE':[ 'obj '{ 'form':'name', 'want':type('file'), 'seld':"/f" } ], )";
    std::string enc = c.emailer ? std::string("'ENCD':") + c.emailer + ", " : "";
    EXPECT_NE(crml.find(files + enc + "'COMP':'true'() }"), std::string::npos) << crml;
    ASSERT_EQ(Send(kPowerMailCreator), 0);
    std::string pm = c.powerMail ? std::string(", 'Encd':") + c.powerMail : "";
    EXPECT_NE(capturedEvents[0].text.find(R"('cAtc':[ { 'file':"/f")" + pm + ", 'Comp':'eStC' } ]"),
              std::string::npos)
        << capturedEvents[0].text;
    ASSERT_EQ(Send(kOutlookExpressCreator), 0);
    std::string oe = c.outlook ? std::string(", 'Encd':") + c.outlook : "";
    EXPECT_NE(capturedEvents[0].text.find(R"('cAtc':[ "/f" ])" + oe + ", 'Cmpr':'cmSt' }"), std::string::npos)
        << capturedEvents[0].text;
  }
  // Without attachments no dialect speaks of encoding or compression.
  message_.attachmentsLength = 0;
  message_.encoding = kEncodingBase64;
  for (OSType signature : {kEudoraCreator, kMailsmithCreator, kEmailerCreator, kPowerMailCreator,
                           kOutlookExpressCreator, kEntourageCreator}) {
    ASSERT_EQ(Send(signature), 0);
    for (const CapturedEvent &event : capturedEvents) {
      for (const char *key : {"eATy", "Encd", "ENCD", "COMP", "Comp", "Cmpr", "cAtc"}) {
        EXPECT_EQ(event.text.find(key), std::string::npos) << event.text;
      }
    }
  }
}

TEST_F(Dispatch, MailsmithSequence) {
  Fill();
  Set(&message_.cc, &message_.ccLength, "c1, c2 (C), <c3>");
  EXPECT_EQ(Send(kMailsmithCreator), 0);
  auto prop = [](const char *code, const char *text) {
    return R"('core'\'setd'{ '----':'obj '{ 'form':'prop', 'want':type('prop'), 'seld':type(')" +
           std::string(code) + "'), 'from':" + M + R"( }, 'data':")" + text + "\" }";
  };
  auto recipient = [](const char *cls, const char *address) {
    return R"('core'\'crel'{ 'kocl':type(')" + std::string(cls) + "'), 'insh':" + M +
           R"(, 'prdt':{ 'Addr':")" + address + "\" } }";
  };
  auto enclosure = [](const char *path) {
    return R"('core'\'crel'{ 'kocl':type('Encl'), 'insh':)" + M + R"(, 'prdt':{ 'file':")" + path + "\" } }";
  };
  ExpectEvents({
      {R"('core'\'crel'{ 'kocl':type('mWnd') })", kSendWaitReply},
      {prop("pcnt", "Hi Ann"), kSendNoReply},
      {prop("subj", "Hello"), kSendNoReply},
      {prop("SeAc", "Work"), kSendNoReply},
      {recipient("!to ", "user1 (Ann Lee)"), kSendNoReply},
      {recipient("!to ", "user2"), kSendNoReply},
      {recipient("!cc ", "c1"), kSendNoReply},
      {recipient("!cc ", "c2 (C)"), kSendNoReply},
      {recipient("!cc ", "c3"), kSendNoReply},
      {recipient("!bcc", "user3"), kSendNoReply},
      {enclosure("/a"), kSendNoReply},
      {enclosure("/b"), kSendNoReply},
      {R"('mail'\'queu'{ '----':)" + M + " }", kSendNoReply},
  });
}

TEST_F(Dispatch, EmailerSendsOneEvent) {
  Fill();
  EXPECT_EQ(Send(kEmailerCreator), 0);
  ExpectEvents(
      {{R"x('MMan'\'CRML'{ 'BODY':"Hi Ann", 'SUBJ':"Hello", 'RECP':[ { 'RCTP':0, 'RCAD':"user1 (Ann Lee)" }, )x"
        R"({ 'RCTP':0, 'RCAD':"user2" }, { 'RCTP':2, 'RCAD':"user3" } ], )"
        R"('FILE':[ 'obj '{ 'form':'name', 'want':type('file'), 'seld':"/a" }, )"
        R"('obj '{ 'form':'name', 'want':type('file'), 'seld':"/b" } ], 'COMP':'fals'(), 'SAVE':'true'() })",
        kSendNoReply}});
  // Without attachments: no 'FILE', 'ENCD' or 'COMP' whatever stuffit says; no recipients:
  // an empty 'RECP' all the same.
  ClearEmailClientMessage(&message_);
  message_.stuffit = true;
  message_.encoding = kEncodingBase64;
  EXPECT_EQ(Send(kEmailerCreator), 0);
  ExpectEvents({{R"('MMan'\'CRML'{ 'RECP':[ ] })", kSendNoReply}});
}

TEST_F(Dispatch, UnknownSignatureSendsNothing) {
  Fill();
  EXPECT_EQ(Send(FourCC("XXXX")), unknownClientErr);
  EXPECT_TRUE(capturedEvents.empty());
}

// The first failing send ends the message with its status; nothing after it is attempted.
TEST_F(Dispatch, FirstFailureEndsTheMessage) {
  Fill();
  struct {
    OSType signature;
    long succeed;
    size_t total;  // events when nothing fails
  } cases[] = {{kEudoraCreator, 0, 8},     {kEudoraCreator, 3, 8},        {kEudoraCreator, 7, 8},
               {kMailsmithCreator, 0, 10}, {kMailsmithCreator, 5, 10},    {kEmailerCreator, 0, 1},
               {kPowerMailCreator, 0, 1},  {kQuickMailCreator, 0, 5},     {kQuickMailCreator, 3, 5},
               {kMailAppCreator, 0, 8},    {kMailAppCreator, 4, 8},       {kMailAppCreator, 7, 8},
               {kEntourageCreator, 0, 1},  {kOutlookExpressCreator, 0, 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.succeed);
    ClearCapture();
    ASSERT_EQ(Send(c.signature), 0);
    ASSERT_EQ(capturedEvents.size(), c.total);
    ClearCapture();
    captureFailAfter = c.succeed;
    captureStatus = errAETimeout;
    connection_.signature = c.signature;
    EXPECT_EQ(SendEmailClientMessage(&connection_, &message_), errAETimeout);
    EXPECT_EQ(capturedEvents.size(), size_t(c.succeed));
  }
}

// Whichever allocation fails, nothing leaks and nothing goes out half built: every event
// sent is the one sent when nothing fails, and a message reported sent is sent whole.
TEST_F(Dispatch, EveryAllocationFailingInTurnSendsNothingHalfBuilt) {
  Fill();
  MailAccounts({{"Work", "Ann <ann@x>"}});
  AccountNames(&connection_.popAccounts, {"Work"});
  for (OSType signature : {kEudoraCreator, kMailsmithCreator, kEmailerCreator, kPowerMailCreator,
                           kQuickMailCreator, kMailAppCreator, kOutlookExpressCreator, kEntourageCreator}) {
    ASSERT_EQ(Send(signature), 0);
    const std::vector<CapturedEvent> whole = capturedEvents;
    for (long failAt = 0;; failAt++) {
      SCOPED_TRACE(failAt);
      long blocks = CarbonLiveBlocks();
      CarbonFailAllocationAfter(failAt);
      SInt32 status = Send(signature);
      bool used = FailureWasUsed(failAt);
      ASSERT_EQ(CarbonLiveBlocks(), blocks);
      ASSERT_LE(capturedEvents.size(), whole.size());
      for (size_t i = 0; i < capturedEvents.size(); i++) ASSERT_EQ(capturedEvents[i].text, whole[i].text);
      if (status == noErr) {
        ASSERT_EQ(capturedEvents.size(), whole.size());
      }
      if (!used) break;
    }
  }
}

TEST(AttachmentLineRule, ItemsRunUpToEachCR) {
  struct {
    std::string text;
    std::vector<std::string> items;
  } cases[] = {
      {"", {}},
      {"/a", {"/a"}},
      {"/a\r/b", {"/a", "/b"}},
      {"/a\r", {"/a"}},
      {"\r", {""}},
      {"/a\r\r/b", {"/a", "", "/b"}},
      {"/a\r\r", {"/a", ""}},
  };
  for (const auto &c : cases) {
    AttachmentWalk walk;
    StartAttachmentWalk(&walk, c.text.data(), UInt32(c.text.size()));
    std::vector<std::string> items;
    const char *item;
    UInt32 length;
    while (NextAttachmentItem(&walk, &item, &length)) items.emplace_back(item, length);
    EXPECT_EQ(items, c.items) << c.text;
  }
}

}  // namespace
