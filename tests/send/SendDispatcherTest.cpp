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

TEST_F(Dispatch, ClearedMessageToEudoraOnlyCreatesIt) {
  EXPECT_EQ(Send(kEudoraCreator), 0);
  ExpectEvents({{kEudoraCreate, kSendWaitReply}});
}

// Each dialect's spelling of the known encodings is pinned by the merges through every
// client; a code past them must go out as AppleDouble, never as a stray value.
TEST_F(Dispatch, UnknownEncodingsAndMessagesWithoutAttachments) {
  const OSType signatures[] = {kEudoraCreator,    kMailsmithCreator,      kEmailerCreator,
                               kPowerMailCreator, kOutlookExpressCreator, kEntourageCreator};
  Set(&message_.to, &message_.toLength, "a");
  Set(&message_.attachments, &message_.attachmentsLength, "/f");
  message_.stuffit = true;
  for (OSType signature : signatures) {
    SCOPED_TRACE(signature);
    message_.encoding = kEncodingAppleDouble;
    ASSERT_EQ(Send(signature), 0);
    const std::vector<CapturedEvent> appleDouble = capturedEvents;
    message_.encoding = 9;
    ASSERT_EQ(Send(signature), 0);
    ASSERT_EQ(capturedEvents.size(), appleDouble.size());
    for (size_t i = 0; i < appleDouble.size(); i++) EXPECT_EQ(capturedEvents[i].text, appleDouble[i].text);
  }
  // Without attachments no dialect speaks of encoding or compression.
  message_.attachmentsLength = 0;
  message_.encoding = kEncodingBase64;
  for (OSType signature : signatures) {
    ASSERT_EQ(Send(signature), 0);
    for (const CapturedEvent &event : capturedEvents) {
      for (const char *key : {"eATy", "Encd", "ENCD", "COMP", "Comp", "Cmpr", "cAtc"}) {
        EXPECT_EQ(event.text.find(key), std::string::npos) << event.text;
      }
    }
  }
}

TEST_F(Dispatch, UnknownSignatureSendsNothing) {
  Fill();
  EXPECT_EQ(Send(FourCC("XXXX")), unknownClientErr);
  EXPECT_TRUE(capturedEvents.empty());
}

// A message too large to hand over is refused before its first event, so that no client is
// left with a new message or window that its texts never reach.
TEST_F(Dispatch, MessageTooLargeForAnEventSendsNothing) {
  Fill();
  Set(&message_.body, &message_.bodyLength, std::string(16 << 20, 'x'));
  for (OSType signature : {kEudoraCreator, kMailsmithCreator, kEmailerCreator, kPowerMailCreator,
                           kQuickMailCreator, kMailAppCreator, kEntourageCreator, kOutlookExpressCreator}) {
    EXPECT_EQ(Send(signature), errAEBufferTooSmall);
    EXPECT_TRUE(capturedEvents.empty());
  }
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
