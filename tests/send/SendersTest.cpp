// The PowerMail, QuickMail, Apple Mail and Outlook Express/Entourage dialects, event by
// event in AEPrint form, with the edge cases each client depends on.
#include <MacErrors.h>

#include <gtest/gtest.h>

#include <string>

#include "clients/EmailClients.h"
#include "tests/send/EventCapture.h"

namespace {

std::string Prop(const std::string &code, const std::string &from) {
  return "'obj '{ 'form':'prop', 'want':type('prop'), 'seld':type('" + code + "'), 'from':" + from + " }";
}

// Queued messages to PowerMail and QuickMail are pinned by the merges through them. One not
// queued gets no status and no 'Actn'; PowerMail waits for the reply and opens the message.
TEST_F(Dispatch, UnqueuedMessagesToPowerMailAndQuickMail) {
  Set(&message_.subject, &message_.subjectLength, "Hello");
  EXPECT_EQ(Send(kPowerMailCreator), 0);
  ExpectEvents(
      {{R"('core'\'crel'{ 'kocl':type('msg '), 'prdt':{ 'subj':"Hello", 'rcpt':[ ] } })", kSendWaitReply},
       {"'aevt'\\'odoc'{ '----':" + M + " }", kSendNoReply}});
  // A blank list leaves its key out, and a person without an address goes by name alone.
  ClearEmailClientMessage(&message_);
  Set(&message_.cc, &message_.ccLength, " \r\t");
  Set(&message_.bcc, &message_.bccLength, "<user3>, Ann <>");
  EXPECT_EQ(Send(kQuickMailCreator), 0);
  ExpectEvents({{"'CeLP'\\'NewM'{ }", kSendNoReply},
                {R"('CeLP'\'SetD'{ 'BcLs':[ { 'Addr':"user3" }, { 'ALst':"Ann" } ] })", kSendNoReply}});
}

// The rest of Mail's message is pinned by the merges through it; here, which account sends.
TEST_F(Dispatch, MailAppChoosesTheSenderByExactAccountName) {
  Fill();
  MailAccounts({{"Workplace", "Wrong <w@x>"},
                {"Work" + std::string(256, 'x'), "Wrong <w@x>"},
                {"Work", "Ann Lee <ann@x>"},
                {"Work", "Second <s@x>"}});
  EXPECT_EQ(Send(kMailAppCreator), 0);
  EXPECT_EQ(
      capturedEvents[0].text,
      R"('core'\'crel'{ 'kocl':type('bcke'), 'prdt':{ 'ctnt':"Hi Ann", 'subj':"Hello", 'sndr':"Ann Lee <ann@x>" } })");
  // Not queued: left open on screen, no send. A name that is only a prefix of the account's,
  // or differs in case, chooses no sender.
  ClearEmailClientMessage(&message_);
  for (const char *account : {"Wor", "work", "Workplace "}) {
    Set(&message_.account, &message_.accountLength, account);
    EXPECT_EQ(Send(kMailAppCreator), 0);
    ExpectEvents({{"'core'\\'crel'{ 'kocl':type('bcke'), 'prdt':{ 'pvis':'true'() } }", kSendWaitReply}});
  }
}

TEST_F(Dispatch, MailAppPollsAtMostFourTimes) {
  message_.queue = true;
  captureAnswer = [](const std::string &event, AppleEvent *reply) {
    OSErr err = StandardAnswer(reply);
    const SInt32 id = 7;
    if (err == noErr && event.find("'ID  '") != std::string::npos) {
      err = AEPutParamPtr(reply, keyDirectObject, typeSInt32, &id, sizeof id);
    }
    return err;
  };
  EXPECT_EQ(Send(kMailAppCreator), 0);
  ASSERT_EQ(capturedEvents.size(), 6u);  // the message, the send, four polls
  EXPECT_NE(capturedEvents.back().text.find("'ID  '"), std::string::npos);
}

TEST_F(Dispatch, MailAppRefusesAnAttachmentLineLongerThanAPath) {
  message_.queue = true;
  const std::string longest(32767, 'p');
  for (UInt32 extra : {0u, 1u, 40000u}) {
    SCOPED_TRACE(extra);
    Set(&message_.attachments, &message_.attachmentsLength,
        "/a\r" + longest + std::string(extra, 'q') + "\r/b");
    SInt32 status = Send(kMailAppCreator);
    if (extra == 0) {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(capturedEvents.size(), 6u);
    } else {
      // Nothing after the message and its first attachment: no wrong path, no send.
      EXPECT_EQ(status, paramErr);
      EXPECT_EQ(capturedEvents.size(), 2u);
    }
  }
}

// A client that says it failed ends the message there: Mail is not told to send a message
// whose attachment it could not make.
TEST_F(Dispatch, ClientErrorsInRepliesEndTheMessage) {
  Fill();
  struct {
    OSType signature;
    const char *failing;  // the event answered with the error
    SInt32 number;        // 'errn' of that answer
    SInt32 status;
    size_t events;
  } cases[] = {
      {kMailAppCreator, "type('atts')", -43, -43, 5},
      {kMailAppCreator, "'emsg'", -1728, -1728, 7},
      {kEntourageCreator, "'crel'", 65536, errAEEventFailed, 1},
      {kEudoraCreator, "'eQue'", -1708, -1708, 8},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.failing);
    captureAnswer = [&c](const std::string &event, AppleEvent *reply) {
      OSErr err = StandardAnswer(reply);
      if (err == noErr && event.find(c.failing) != std::string::npos) {
        err = AEPutParamPtr(reply, keyErrorNumber, typeSInt32, &c.number, sizeof c.number);
      }
      return err;
    };
    EXPECT_EQ(Send(c.signature), c.status);
    EXPECT_EQ(capturedEvents.size(), c.events);
  }
}

// The queued message of either is pinned by the merges through them. One not queued waits
// for the reply and is opened from it; HTML is said as such.
TEST_F(Dispatch, OutlookOpensAnHTMLMessageItDoesNotQueue) {
  message_.html = true;
  EXPECT_EQ(Send(kOutlookExpressCreator), 0);
  ExpectEvents({{"'core'\\'crel'{ 'kocl':type('outm'), 'insh':" + Prop("pOtB", "null()") +
                     ", 'prdt':{ 'rcpt':[ ], 'pHtm':'true'() } }",
                 kSendWaitReply},
                {"'aevt'\\'odoc'{ '----':" + M + " }", kSendNoReply}});
}

TEST_F(Dispatch, OutlookAccountIsNamedByItsClass) {
  AccountNames(&connection_.popAccounts, {"Home", "WORK", std::string(257, 'L'), "Late"});
  AccountNames(&connection_.imapAccounts, {"Work", "Lists", std::string(256, 'I')});
  message_.queue = true;
  struct {
    std::string account;
    const char *accountClass;  // null: no 'cAct'
  } cases[] = {
      {"home", "popA"},
      {"Work", "popA"},  // POP first, though the IMAP name matches in case too
      {"LISTS", "impA"},
      {"List", nullptr},
      {"Lists2", nullptr},
      {"Late", nullptr},
      {std::string(256, 'i'), "impA"},
      {std::string(257, 'L'), nullptr},
      {"home" + std::string(256, 'x'), nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.account.substr(0, 10));
    Set(&message_.account, &message_.accountLength, c.account);
    ASSERT_EQ(Send(kOutlookExpressCreator), 0);
    const std::string &event = capturedEvents[0].text;
    if (c.accountClass == nullptr) {
      EXPECT_EQ(event.find("'cAct'"), std::string::npos) << event;
    } else {
      EXPECT_NE(event.find("'cAct':'obj '{ 'form':'name', 'want':type('" + std::string(c.accountClass) +
                           "'), 'seld':\"" + c.account + "\""),
                std::string::npos);
    }
  }
}

}  // namespace
