// Opening and closing client connections against the scripted test clients: the events
// asserted through the trace, what the connection holds, and that every failure path
// leaves nothing allocated.
#include <AEHelpers.h>
#include <MacMemory.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clients/ClientConnection.h"
#include "clients/ClientEvents.h"
#include "clients/EmailClients.h"
#include "clients/ObjectQueries.h"
#include "tests/clients/TestMachine.h"

namespace {

using Lines = std::vector<std::string>;

std::string Query(const std::string &property, const std::string &container) {
  return "'core'\\'getd'{ '----':'obj '{ 'form':'prop', 'want':type('prop'), 'seld':type('" + property +
         "'), 'from':'obj '{ " + container + ", 'from':null() } } }";
}
std::string AllNamesOf(const std::string &objectClass) {
  return Query("pnam", "'form':'indx', 'want':type('" + objectClass + "'), 'seld':'abso'('all ')");
}
const std::string kSorting = "'----':'obj '{ 'form':'indx', 'want':type('ePrf'), 'seld':169, 'from':null() }";
const std::string kGetSorting = "'core'\\'getd'{ " + kSorting + " }";
std::string SetSorting(const std::string &value) {
  return "'core'\\'setd'{ " + kSorting + ", 'data':\"" + value + "\" }";
}
std::string Reply(const std::string &value) {
  return "'aevt'\\'ansr'{ '----':" + value + " }";
}

std::string Text(Ptr bytes, UInt32 length) {
  return std::string(bytes, length);
}

std::string Printed(const AEDesc &desc) {
  Handle printed = nullptr;
  if (AEPrintDescToHandle(&desc, &printed) != noErr) return "<unprintable>";
  std::string text(*printed, size_t(GetHandleSize(printed)));
  DisposeHandle(printed);
  return text;
}

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { liveBefore_ = CarbonLiveBlocks(); }
  void TearDown() override { EXPECT_EQ(CarbonLiveBlocks(), liveBefore_) << "blocks left allocated"; }

  TestMachine machine;
  long liveBefore_ = 0;
};

// Eudora: setting 169 is read, set to "n" while the connection lives, and put back (the
// merges through Eudora check that round). An empty setting is not put back, and a failed
// read leaves the setting alone.
TEST_F(ConnectionTest, EudoraSortingWithoutAValueIsNotPutBack) {
  struct Case {
    const char *script;
    Lines openEvents;
  } cases[] = {
      {"setting\t169\t\n", {kGetSorting, Reply("'TEXT'()"), SetSorting("n")}},
      {"", {kGetSorting, "'aevt'\\'ansr'{ 'errn':-1728 }"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.script);
    machine.Script(TestClient::kEudora, c.script);
    ProcessSerialNumber psn = machine.Launch(TestClient::kEudora);
    EmailClientConnection *connection = nullptr;
    ASSERT_EQ(OpenEmailClientConnection(kEudoraCreator, &connection), 0);
    EXPECT_EQ(connection->process.lowLongOfPSN, psn.lowLongOfPSN);
    EXPECT_EQ(connection->savedSorting, 0);
    EXPECT_EQ(machine.TakeTrace(), c.openEvents);
    CloseEmailClientConnection(connection);
    EXPECT_TRUE(machine.TakeTrace().empty());
    machine.QuitAll();
  }
}

// Outlook Express and Entourage keep the names of their POP and IMAP accounts (the merges
// through them check the lists). A client without such accounts may answer with no direct
// parameter at all: empty lists, not a failure.
TEST_F(ConnectionTest, EntourageWithoutAccountsAnswersNoList) {
  machine.Script(TestClient::kEntourage, "silent\tpopA\nsilent\timpA\n");
  machine.Launch(TestClient::kEntourage);
  EmailClientConnection *connection = nullptr;
  ASSERT_EQ(OpenEmailClientConnection(kEntourageCreator, &connection), 0);
  EXPECT_EQ(Printed(connection->popAccounts), "[ ]");
  EXPECT_EQ(Printed(connection->imapAccounts), "[ ]");
  const std::string silent = "'aevt'\\'ansr'{ }";
  EXPECT_EQ(machine.TakeTrace(), (Lines{AllNamesOf("popA"), silent, AllNamesOf("impA"), silent}));
  CloseEmailClientConnection(connection);
}

// A failing query ends the opening with its error: whatever was gathered is released (the
// fixture checks) and the caller gets no connection.
TEST_F(ConnectionTest, FailuresLeaveNoConnection) {
  struct Case {
    TestClient client;
    const char *script;
    SInt32 status;  // 1: any error
  } cases[] = {
      {TestClient::kOutlookExpress, "pop\tHome\ndie\timpA\n", 1},  // the POP list is already held
      {TestClient::kMail, "account\tWork\tJane Doe\tjane@work.example\nghost\tGone\n", errAEDescNotFound},
  };
  for (const Case &c : cases) {
    machine.Script(c.client, c.script);
    machine.Launch(c.client);
    auto *connection = reinterpret_cast<EmailClientConnection *>(1);
    SInt32 err = OpenEmailClientConnection(TestMachine::Creator(c.client), &connection);
    EXPECT_TRUE(c.status == 1 ? err != 0 : err == c.status) << err;
    EXPECT_EQ(connection, nullptr);
  }
  // Neither running nor installed: the caller's variable is left alone.
  auto *untouched = reinterpret_cast<EmailClientConnection *>(1);
  EXPECT_EQ(OpenEmailClientConnection(kEudoraCreator, &untouched), fnfErr);
  EXPECT_EQ(untouched, reinterpret_cast<EmailClientConnection *>(1));
}

// Apple Mail: one entry per account, in Mail's order, its sender text built from the full
// name and the first address (an account without one gets "<>").
TEST_F(ConnectionTest, MailAccountTable) {
  // No accounts: an empty table, not a failure.
  machine.Launch(TestClient::kMail);
  EmailClientConnection *connection = nullptr;
  ASSERT_EQ(OpenEmailClientConnection(kMailAppCreator, &connection), 0);
  EXPECT_EQ(connection->accountCount, 0);
  CloseEmailClientConnection(connection);
  machine.QuitAll();
  machine.TakeTrace();
  machine.Script(TestClient::kMail,
                 "account\tWork\tJane Doe\tjane@work.example\tj@alt.example\naccount\tBare\tNo Address\n");
  machine.Launch(TestClient::kMail);
  ASSERT_EQ(OpenEmailClientConnection(kMailAppCreator, &connection), 0);
  ASSERT_EQ(connection->accountCount, 2);
  const MailAccountEntry &work = connection->accounts[0];
  const MailAccountEntry &bare = connection->accounts[1];
  EXPECT_EQ(Text(work.name, work.nameLength), "Work");
  EXPECT_EQ(Text(work.sender, work.senderLength), "Jane Doe <jane@work.example>");
  EXPECT_EQ(Text(bare.name, bare.nameLength), "Bare");
  EXPECT_EQ(Text(bare.sender, bare.senderLength), "No Address <>");
  CloseEmailClientConnection(connection);
}

// Every allocation of the opening fails in turn: an error and nothing left, or a whole
// connection (some allocations, such as the trace's, may fail without harm). The loop ends
// once a run of failure points in a row has no effect: it is then past the last one.
TEST_F(ConnectionTest, MailOpeningSurvivesEachAllocationFailure) {
  machine.Script(TestClient::kMail,
                 "account\tWork\tJane Doe\tjane@work.example\naccount\tHome\tJ. Doe\tj@home\n");
  machine.Launch(TestClient::kMail);
  long failures = 0;
  long openedInARow = 0;
  for (long n = 0; n < 5000 && openedInARow < 100; ++n) {
    EmailClientConnection *connection = nullptr;
    CarbonFailAllocationAfter(n);
    SInt32 err = OpenEmailClientConnection(kMailAppCreator, &connection);
    CarbonFailAllocationAfter(-1);
    if (err == 0) {
      ASSERT_NE(connection, nullptr);
      ASSERT_EQ(connection->accountCount, 2);
      // A failed write inside an event must never go out as a different query.
      EXPECT_EQ(Text(connection->accounts[1].sender, connection->accounts[1].senderLength),
                "J. Doe <j@home>");
      CloseEmailClientConnection(connection);
      ++openedInARow;
    } else {
      ++failures;
      openedInARow = 0;
      EXPECT_EQ(connection, nullptr) << "failing allocation " << n;
    }
    EXPECT_EQ(CarbonLiveBlocks(), liveBefore_) << "failing allocation " << n;
  }
  EXPECT_EQ(openedInARow, 100);
  EXPECT_GT(failures, 40);
}

// The queries' own edge cases, straight against a client.
TEST_F(ConnectionTest, QueriesTakeTheDirectParameterOnly) {
  machine.Script(TestClient::kMail, "account\t\tNo Name\taddress@example\n");
  ProcessSerialNumber psn = machine.Launch(TestClient::kMail);
  AEDesc value;
  // A name of length 0 goes as an empty 'TEXT' selector.
  ASSERT_EQ(GetPropertyOfNamedObject(&psn, &value, FourCC("emad"), typeWildCard, FourCC("mact"), "", 0), 0);
  EXPECT_EQ(Printed(value), "[ \"address@example\" ]");
  AEDisposeDesc(&value);
  // A one-item list coerces to the text it holds.
  ASSERT_EQ(GetPropertyOfNamedObject(&psn, &value, FourCC("emad"), typeChar, FourCC("mact"), "", 0), 0);
  EXPECT_EQ(Printed(value), "\"address@example\"");
  AEDisposeDesc(&value);
  // No such object: the reply has only an error number.
  EXPECT_EQ(GetPropertyOfNamedObject(&psn, &value, FourCC("flln"), typeChar, FourCC("mact"), "Nobody", 6),
            errAEDescNotFound);
  EXPECT_EQ(machine.TakeTrace()[0], Query("emad", "'form':'name', 'want':type('mact'), 'seld':'TEXT'()"));
}

}  // namespace
