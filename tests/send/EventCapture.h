// Events bound for an email client, captured instead of sent: each is kept in AEPrint form
// with its send mode, and a wait-reply send is answered with an object specifier that
// stands for the new message or window (or with what captureAnswer makes). The Dispatch
// fixture sends one message through a connection whose client is only this capture.
#pragma once

#include <AEHelpers.h>
#include <AppleEvents.h>
#include <MacMemory.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "aestream/AEStream.h"
#include "clients/ClientConnection.h"
#include "send/MessageEvent.h"
#include "send/SendDispatcher.h"

// Every event handed to emailClientSend, in AEPrint form, with its send mode.
struct CapturedEvent {
  std::string text;
  AESendMode mode;
};

inline std::vector<CapturedEvent> capturedEvents;
inline OSErr captureStatus = noErr;  // what the capture answers
inline long captureFailAfter = -1;   // >= 0: that many sends succeed, then captureStatus
// When set, fills the reply of a wait-reply send instead of the standard answer.
inline std::function<OSErr(const std::string &event, AppleEvent *reply)> captureAnswer;

// Printing is retried once, so that an injected allocation failure meant for the sender
// never garbles what the capture saw (such failures strike once).
inline std::string PrintDesc(const AEDesc *desc) {
  for (int attempt = 0; attempt < 2; attempt++) {
    Handle text = nullptr;
    if (AEPrintDescToHandle(desc, &text) != noErr || text == nullptr) continue;
    std::string s(*text, size_t(GetHandleSize(text)));
    DisposeHandle(text);
    return s;
  }
  return "<unprintable>";
}

// '----' = obj{ form: indx, want: 'mesg', seld: 1, from: null } in an answer event; any
// failing step fails the answer, as a client's failed reply would.
inline OSErr StandardAnswer(AppleEvent *reply) {
  AEStream stream;
  const ProcessSerialNumber self = {0, 1};
  SInt32 err = AEStream_CreateEvent(&stream, kCoreEventClass, kAEAnswer, typeProcessSerialNumber, &self,
                                    sizeof self, kAutoGenerateReturnID, kAnyTransactionID);
  if (err != noErr) return OSErr(err);
  const SInt32 one = 1;
  const DescType form = formAbsolutePosition, want = FourCC("mesg");
  SInt32 steps[] = {
      AEStream_WriteKey(&stream, keyDirectObject),
      AEStream_OpenRecord(&stream, typeObjectSpecifier),
      AEStream_WriteKeyDesc(&stream, keyAEKeyForm, typeEnumerated, &form, 4),
      AEStream_WriteKeyDesc(&stream, keyAEDesiredClass, typeType, &want, 4),
      AEStream_WriteKeyDesc(&stream, keyAEKeyData, typeSInt32, &one, 4),
      AEStream_WriteKeyDesc(&stream, keyAEContainer, typeNull, nullptr, 0),
      AEStream_CloseRecord(&stream),
      AEStream_Close(&stream, reply),
  };
  for (SInt32 step : steps) {
    if (step != noErr) {
      AEStream_Dispose(&stream);
      AEDisposeDesc(reply);
      return OSErr(step);
    }
  }
  return noErr;
}

inline OSErr CaptureSend(const AppleEvent *event, AppleEvent *reply, AESendMode mode) {
  AEInitializeDesc(reply);
  if (captureFailAfter == 0) return captureStatus;
  if (captureFailAfter > 0) captureFailAfter--;
  capturedEvents.push_back({PrintDesc(event), mode});
  if ((mode & kAEWaitReply) != kAEWaitReply) return noErr;
  if (captureAnswer) return captureAnswer(capturedEvents.back().text, reply);
  return StandardAnswer(reply);
}

inline void ClearCapture() {
  capturedEvents.clear();
  captureStatus = noErr;
  captureFailAfter = -1;
}

// True when the failure armed for allocation failAt was used up by what ran since. Disarms
// the failure either way.
inline bool FailureWasUsed(long) {
  return CarbonFailAllocationAfter(-1) < 0;
}

// The object specifier the capture answers for a new message or window.
inline const std::string M = R"('obj '{ 'form':'indx', 'want':type('mesg'), 'seld':1, 'from':null() })";

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    emailClientSend = CaptureSend;
    // Apple Mail's polls wait between sends; here they need not.
    setenv("QUILLCAST_TIME_SCALE", "0.001", 1);
    connection_.signature = kEudoraCreator;
    connection_.process = {0, 4242};
    AECreateList(nullptr, 0, false, &connection_.popAccounts);
    AECreateList(nullptr, 0, false, &connection_.imapAccounts);
    ClearEmailClientMessage(&message_);
  }
  void TearDown() override {
    emailClientSend = SendEmailClientEventNow;
    captureAnswer = nullptr;
    unsetenv("QUILLCAST_TIME_SCALE");
    AEDisposeDesc(&connection_.popAccounts);
    AEDisposeDesc(&connection_.imapAccounts);
    ClearCapture();
  }

  const char *Keep(const std::string &text) { return texts_.emplace_back(text).data(); }
  void Set(const char **field, UInt32 *length, const std::string &text) {
    *field = Keep(text);
    *length = UInt32(text.size());
  }
  // A message with every part present.
  void Fill() {
    Set(&message_.body, &message_.bodyLength, "Hi Ann");
    Set(&message_.subject, &message_.subjectLength, "Hello");
    Set(&message_.to, &message_.toLength, "Ann Lee <user1>, user2");
    Set(&message_.cc, &message_.ccLength, ", ,");
    Set(&message_.bcc, &message_.bccLength, "user3");
    Set(&message_.attachments, &message_.attachmentsLength, "/a\r/b");
    Set(&message_.account, &message_.accountLength, "Work");
    message_.queue = true;
  }
  // Apple Mail's account table, as the connection would hold it.
  void MailAccounts(const std::vector<std::pair<std::string, std::string>> &accounts) {
    mailAccounts_.clear();
    for (const auto &[name, sender] : accounts) {
      mailAccounts_.push_back({const_cast<char *>(Keep(name)), const_cast<char *>(Keep(sender)),
                               UInt32(name.size()), UInt32(sender.size())});
    }
    connection_.accounts = mailAccounts_.data();
    connection_.accountCount = SInt32(mailAccounts_.size());
  }
  // Outlook Express and Entourage: the account names the connection would hold.
  void AccountNames(AEDescList *list, const std::vector<std::string> &names) {
    for (const std::string &name : names) AEPutPtr(list, 0, typeChar, name.data(), Size(name.size()));
  }

  SInt32 Send(OSType signature) {
    ClearCapture();
    connection_.signature = signature;
    return SendEmailClientMessage(&connection_, &message_);
  }
  // The events captured, each as its AEPrint text and send mode.
  static void ExpectEvents(const std::vector<std::pair<std::string, AESendMode>> &expected) {
    ASSERT_EQ(capturedEvents.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) {
      EXPECT_EQ(capturedEvents[i].text, expected[i].first) << "event " << i;
      EXPECT_EQ(capturedEvents[i].mode, expected[i].second) << "event " << i;
    }
  }

  EmailClientConnection connection_{};
  EmailClientMessage message_{};
  std::vector<MailAccountEntry> mailAccounts_;
  std::list<std::string> texts_;  // the message points into these; a list never moves them
};
