// The PowerMail, QuickMail, Apple Mail and Outlook Express/Entourage dialects, event by
// event in AEPrint form, with the edge cases each client depends on.
#include <Aliases.h>
#include <MacErrors.h>

#include <gtest/gtest.h>

#include <string>

#include "clients/EmailClients.h"
#include "tests/send/EventCapture.h"

namespace {

std::string Prop(const std::string &code, const std::string &from) {
  return "'obj '{ 'form':'prop', 'want':type('prop'), 'seld':type('" + code + "'), 'from':" + from + " }";
}

TEST_F(Dispatch, PowerMailSendsOneCreationEvent) {
  Fill();
  const std::string properties =
      R"('ctnt':"Hi Ann", 'subj':"Hello", 'cAtc':[ { 'file':"/a", 'Comp':'eNoC' }, { 'file':"/b", 'Comp':'eNoC' } ], )"
      R"('rcpt':[ { 'addr':"Ann Lee <user1>", 'rtyp':'!to ' }, { 'addr':"user2", 'rtyp':'!to ' }, )"
      R"({ 'addr':"user3", 'rtyp':'!bcc' } ], 'acct':"Work")";
  EXPECT_EQ(Send(kPowerMailCreator), 0);
  ExpectEvents({{"'core'\\'crel'{ 'kocl':type('msg '), 'prdt':{ " + properties + ", 'stts':'wait' } }",
                 kSendNoReply}});
  // Not queued: no status, a wait for the reply, and the new message opened from it.
  message_.queue = false;
  EXPECT_EQ(Send(kPowerMailCreator), 0);
  ExpectEvents({{"'core'\\'crel'{ 'kocl':type('msg '), 'prdt':{ " + properties + " } }", kSendWaitReply},
                {"'aevt'\\'odoc'{ '----':" + M + " }", kSendNoReply}});
  // Nothing but an empty recipient list (and the queue status).
  ClearEmailClientMessage(&message_);
  message_.queue = true;
  message_.stuffit = true;
  EXPECT_EQ(Send(kPowerMailCreator), 0);
  ExpectEvents(
      {{"'core'\\'crel'{ 'kocl':type('msg '), 'prdt':{ 'rcpt':[ ], 'stts':'wait' } }", kSendNoReply}});
}

TEST_F(Dispatch, QuickMailEventsArriveInOrder) {
  Fill();
  Set(&message_.cc, &message_.ccLength, ",,");
  Set(&message_.bcc, &message_.bccLength, "<user3>, Ann <>");
  EXPECT_EQ(Send(kQuickMailCreator), 0);
  ExpectEvents({
      {"'CeLP'\\'NewM'{ }", kSendNoReply},
      {R"('CeLP'\'SetD'{ 'Body':"Hi Ann", '----':"Hello", )"
       R"('ToLs':[ { 'ALst':"Ann Lee", 'Addr':"user1" }, { 'Addr':"user2" } ], 'CcLs':[ ], )"
       R"('BcLs':[ { 'Addr':"user3" }, { 'ALst':"Ann" } ] })",
       kSendNoReply},
      {R"('CeLP'\'Eadd'{ '----':"/a" })", kSendNoReply},
      {R"('CeLP'\'Eadd'{ '----':"/b" })", kSendNoReply},
      {"'CeLP'\\'Actn'{ '----':'ActN' }", kSendNoReply},
  });
  // Blank lists leave their keys out; nothing is queued.
  ClearEmailClientMessage(&message_);
  Set(&message_.cc, &message_.ccLength, " \r\t");
  EXPECT_EQ(Send(kQuickMailCreator), 0);
  ExpectEvents({{"'CeLP'\\'NewM'{ }", kSendNoReply}, {"'CeLP'\\'SetD'{ }", kSendNoReply}});
}

std::string MailRecipient(const std::string &kind, const std::string &properties) {
  return "'core'\\'crel'{ 'kocl':type('rcpt'), 'insh':'insl'{ 'kobj':'obj '{ 'form':'indx', 'want':type('" +
         kind + "'), 'seld':'abso'('all '), 'from':" + M + " }, 'kpos':'end ' }, 'prdt':{ " + properties +
         " } }";
}

std::string MailAttachment(const std::string &path) {
  AliasHandle alias = nullptr;
  EXPECT_EQ(NewAliasMinimalFromFullPath(short(path.size()), path.data(), nullptr, nullptr, &alias), noErr);
  AEDesc data;
  AECreateDesc(typeAlias, *alias, GetHandleSize(reinterpret_cast<Handle>(alias)), &data);
  DisposeHandle(reinterpret_cast<Handle>(alias));
  std::string printed = PrintDesc(&data);
  AEDisposeDesc(&data);
  return "'core'\\'crel'{ 'kocl':type('atts'), 'insh':'insl'{ 'kobj':'obj '{ 'form':'indx', 'want':type('cha "
         "'), "
         "'seld':-1, 'from':" +
         Prop("ctnt", M) + " }, 'kpos':'afte' }, 'prdt':{ 'atfn':" + printed + " } }";
}

TEST_F(Dispatch, MailAppBuildsTheMessageStepByStep) {
  Fill();
  MailAccounts({{"Workplace", "Wrong <w@x>"},
                {"Work" + std::string(256, 'x'), "Wrong <w@x>"},
                {"Work", "Ann Lee <ann@x>"},
                {"Work", "Second <s@x>"}});
  EXPECT_EQ(Send(kMailAppCreator), 0);
  ExpectEvents({
      {R"('core'\'crel'{ 'kocl':type('bcke'), 'prdt':{ 'ctnt':"Hi Ann", 'subj':"Hello", 'sndr':"Ann Lee <ann@x>" } })",
       kSendWaitReply},
      {MailRecipient("trcp", R"('pnam':"Ann Lee", 'radd':"user1")"), kSendWaitReply},
      {MailRecipient("trcp", R"('radd':"user2")"), kSendWaitReply},
      {MailRecipient("brcp", R"('radd':"user3")"), kSendWaitReply},
      {MailAttachment("/a"), kSendWaitReply},
      {MailAttachment("/b"), kSendWaitReply},
      {"'emsg'\\'send'{ '----':" + M + " }", kSendWaitReply},
      // The answer is no id: the message has gone, so one poll is enough.
      {"'core'\\'getd'{ '----':" + Prop("ID  ", M) + " }", kSendWaitReply},
  });
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

std::string OutlookCreation(const std::string &properties) {
  return "'core'\\'crel'{ 'kocl':type('outm'), 'insh':" + Prop("pOtB", "null()") + ", 'prdt':{ " +
         properties + " } }";
}

TEST_F(Dispatch, OutlookAndEntourageCreateTheWholeMessageAtOnce) {
  Fill();
  Set(&message_.bcc, &message_.bccLength, "Bo <user3>");
  message_.html = true;
  AccountNames(&connection_.popAccounts, {"Home", "WORK"});
  AccountNames(&connection_.imapAccounts, {"Work", "Lists"});
  const std::string head =
      R"x('ctnt':"Hi Ann", 'subj':"Hello", 'rcpt':[ { 'addr':"user1 (Ann Lee)", 'rtyp':'!to ' }, )x"
      R"({ 'addr':"user2", 'rtyp':'!to ' }, { 'addr':)";
  const std::string tail =
      R"(, 'rtyp':'!bcc' } ], 'cAtc':[ "/a", "/b" ], 'Cmpr':'cmNo', 'pHtm':'true'(), )"
      R"('cAct':'obj '{ 'form':'name', 'want':type('popA'), 'seld':"Work", 'from':null() })";
  // Outlook Express: Bcc as the bare address, a queued message without a reply.
  EXPECT_EQ(Send(kOutlookExpressCreator), 0);
  ExpectEvents({{OutlookCreation(head + R"("user3")" + tail), kSendNoReply}});
  // Entourage: Bcc with the name, and every creation waits for the reply.
  EXPECT_EQ(Send(kEntourageCreator), 0);
  ExpectEvents({{OutlookCreation(head + R"x("user3 (Bo)")x" + tail), kSendWaitReply}});
  message_.queue = false;
  EXPECT_EQ(Send(kOutlookExpressCreator), 0);
  ExpectEvents({{OutlookCreation(head + R"("user3")" + tail), kSendWaitReply},
                {"'aevt'\\'odoc'{ '----':" + M + " }", kSendNoReply}});
}

TEST_F(Dispatch, OutlookAccountIsNamedByItsClass) {
  AccountNames(&connection_.popAccounts, {"Home", std::string(257, 'L'), "Late"});
  AccountNames(&connection_.imapAccounts, {"Lists", std::string(256, 'I')});
  message_.queue = true;
  struct {
    std::string account;
    const char *accountClass;  // null: no 'cAct'
  } cases[] = {
      {"home", "popA"},
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
