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

const char kAllNamesOf[] =
    "'core'\\'getd'{ '----':'obj '{ 'form':'prop', 'want':type('prop'), 'seld':type('pnam'), 'from':'obj '{ "
    "'form':'indx', 'want':type('%s'), 'seld':'abso'('all '), 'from':null() } } }";
const char kPropertyOfAccount[] =
    "'core'\\'getd'{ '----':'obj '{ 'form':'prop', 'want':type('prop'), 'seld':type('%s'), 'from':'obj '{ "
    "'form':'name', 'want':type('mact'), 'seld':\"%s\", 'from':null() } } }";
const char kGetSorting[] =
    "'core'\\'getd'{ '----':'obj '{ 'form':'indx', 'want':type('ePrf'), 'seld':169, 'from':null() } }";
const char kSetSorting[] =
    "'core'\\'setd'{ '----':'obj '{ 'form':'indx', 'want':type('ePrf'), 'seld':169, 'from':null() }, "
    "'data':\"%s\" }";

// The pattern with its first %s replaced by a and its second by b.
std::string Format(const std::string &pattern, const std::string &a, const std::string &b = "") {
  std::string out = pattern;
  size_t at = out.find("%s");
  out.replace(at, 2, a);
  at = out.find("%s", at + a.size());
  if (at != std::string::npos) out.replace(at, 2, b);
  return out;
}

std::string Reply(const std::string &value) {
  return "'aevt'\\'ansr'{ '----':" + value + " }";
}

std::string Text(Ptr bytes, UInt32 length) {
  return std::string(bytes, length);
}

std::string ListText(const AEDesc &list) {
  Handle printed = nullptr;
  if (AEPrintDescToHandle(&list, &printed) != noErr) return "<unprintable>";
  std::string text(*printed, size_t(GetHandleSize(printed)));
  DisposeHandle(printed);
  return text;
}

// Setting 169 as the client now has it. Being waited for, this query also makes sure that
// every event sent before it without a reply has been handled.
std::string ReadSorting(const ProcessSerialNumber &psn) {
  AEStream stream;
  AppleEvent event;
  const SInt32 setting = 169;
  EXPECT_EQ(CreateClientEvent(&stream, &psn, kAECoreSuite, kAEGetData), 0);
  AEStream_WriteKey(&stream, keyDirectObject);
  SInt32 pending =
      WriteApplicationObject(&stream, formAbsolutePosition, FourCC("ePrf"), typeLongInteger, &setting, 4);
  EXPECT_EQ(CloseClientEvent(&stream, pending, &event), 0);
  AppleEvent reply;
  EXPECT_EQ(SendClientEvent(&event, &reply, kClientWaitReplyMode), 0);
  char text[16];
  Size size = 0;
  DescType type;
  OSErr err = AEGetParamPtr(&reply, keyDirectObject, typeChar, &type, text, sizeof text, &size);
  AEDisposeDesc(&reply);
  return err == noErr ? std::string(text, size_t(size)) : "<none>";
}

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { liveBefore_ = CarbonLiveBlocks(); }
  void TearDown() override { EXPECT_EQ(CarbonLiveBlocks(), liveBefore_) << "blocks left allocated"; }

  TestMachine machine;
  long liveBefore_ = 0;
};

// Eudora: setting 169 is read, set to "n" while the connection lives, and put back.
TEST_F(ConnectionTest, EudoraSortingIsSwitchedOffAndRestored) {
  struct Case {
    const char *script;
    char saved;
    Lines openEvents;
    Lines closeEvents;
    const char *finalSetting;  // as Eudora reports it after the close
  } cases[] = {
      {"setting\t169\tc\n",
       'c',
       {kGetSorting, Reply("\"c\""), Format(kSetSorting, "n")},
       {Format(kSetSorting, "c")},
       "c"},
      {"setting\t169\t\n", 0, {kGetSorting, Reply("'TEXT'()"), Format(kSetSorting, "n")}, {}, "n"},
      // The get-data event fails: the connection opens and the setting is left alone.
      {"", 0, {kGetSorting, "'aevt'\\'ansr'{ 'errn':-1728 }"}, {}, "<none>"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.script);
    machine.Script(TestClient::kEudora, c.script);
    ProcessSerialNumber psn = machine.Launch(TestClient::kEudora);
    EmailClientConnection *connection = nullptr;
    ASSERT_EQ(OpenEmailClientConnection(kEudoraCreator, &connection), 0);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->signature, kEudoraCreator);
    EXPECT_EQ(connection->process.lowLongOfPSN, psn.lowLongOfPSN);
    EXPECT_EQ(connection->savedSorting, c.saved);
    EXPECT_EQ(machine.TakeTrace(), c.openEvents);
    CloseEmailClientConnection(connection);
    EXPECT_EQ(machine.TakeTrace(), c.closeEvents);
    EXPECT_EQ(ReadSorting(psn), c.finalSetting);
    machine.TakeTrace();
    machine.QuitAll();
  }
}

// A client that is installed but not running is launched, and the opening events go to the
// new process at once.
TEST_F(ConnectionTest, InstalledClientIsLaunched) {
  machine.Script(TestClient::kOutlookExpress, "pop\tHome\nimap\tOffice\nimap\tTravel\n");
  machine.Install(TestClient::kOutlookExpress);
  EmailClientConnection *connection = nullptr;
  ASSERT_EQ(OpenEmailClientConnection(kOutlookExpressCreator, &connection), 0);
  ProcessSerialNumber running;
  ASSERT_EQ(FindApplicationProcess(kOutlookExpressCreator, &running), 0);
  EXPECT_EQ(connection->process.lowLongOfPSN, running.lowLongOfPSN);
  EXPECT_EQ(ListText(connection->popAccounts), "[ \"Home\" ]");
  EXPECT_EQ(ListText(connection->imapAccounts), "[ \"Office\", \"Travel\" ]");
  EXPECT_EQ(machine.TakeTrace(), (Lines{Format(kAllNamesOf, "popA"), Reply("[ \"Home\" ]"),
                                        Format(kAllNamesOf, "impA"), Reply("[ \"Office\", \"Travel\" ]")}));
  CloseEmailClientConnection(connection);
  EXPECT_TRUE(machine.TakeTrace().empty());
}

TEST_F(ConnectionTest, EntourageAnswersWithoutAccountsGiveEmptyLists) {
  machine.Script(TestClient::kEntourage, "silent\tpopA\nsilent\timpA\n");
  machine.Launch(TestClient::kEntourage);
  EmailClientConnection *connection = nullptr;
  ASSERT_EQ(OpenEmailClientConnection(kEntourageCreator, &connection), 0);
  EXPECT_EQ(ListText(connection->popAccounts), "[ ]");
  EXPECT_EQ(ListText(connection->imapAccounts), "[ ]");
  CloseEmailClientConnection(connection);
}

// The IMAP query fails (the client dies on it): the POP list is released and the caller
// gets the error and no connection.
TEST_F(ConnectionTest, OutlookFailingOnIMAPReleasesThePOPList) {
  machine.Script(TestClient::kOutlookExpress, "pop\tHome\ndie\timpA\n");
  machine.Launch(TestClient::kOutlookExpress);
  EmailClientConnection *connection = reinterpret_cast<EmailClientConnection *>(1);
  EXPECT_NE(OpenEmailClientConnection(kOutlookExpressCreator, &connection), 0);
  EXPECT_EQ(connection, nullptr);
  EXPECT_EQ(machine.TakeTrace().size(), 3u);  // POP query, its reply, the IMAP query
}

TEST_F(ConnectionTest, MailAccountTable) {
  machine.Script(TestClient::kMail,
                 "account\tWork\tJane Doe\tjane@work.example\tj@alt.example\naccount\tBare\tNo Address\n");
  machine.Launch(TestClient::kMail);
  EmailClientConnection *connection = nullptr;
  ASSERT_EQ(OpenEmailClientConnection(kMailAppCreator, &connection), 0);
  ASSERT_EQ(connection->accountCount, 2);
  const MailAccountEntry &work = connection->accounts[0];
  const MailAccountEntry &bare = connection->accounts[1];
  EXPECT_EQ(Text(work.name, work.nameLength), "Work");
  EXPECT_EQ(Text(work.sender, work.senderLength), "Jane Doe <jane@work.example>");
  EXPECT_EQ(Text(bare.name, bare.nameLength), "Bare");
  EXPECT_EQ(Text(bare.sender, bare.senderLength), "No Address <>");
  const std::string workAddresses = "[ \"jane@work.example\", \"j@alt.example\" ]";
  EXPECT_EQ(machine.TakeTrace(), (Lines{Format(kAllNamesOf, "mact"), Reply("[ \"Work\", \"Bare\" ]"),
                                        Format(kPropertyOfAccount, "flln", "Work"), Reply("\"Jane Doe\""),
                                        Format(kPropertyOfAccount, "emad", "Work"), Reply(workAddresses),
                                        Format(kPropertyOfAccount, "flln", "Bare"), Reply("\"No Address\""),
                                        Format(kPropertyOfAccount, "emad", "Bare"), Reply("[ ]")}));
  CloseEmailClientConnection(connection);
  EXPECT_TRUE(machine.TakeTrace().empty());
}

TEST_F(ConnectionTest, MailWithNoAccounts) {
  machine.Script(TestClient::kMail, "");
  machine.Launch(TestClient::kMail);
  EmailClientConnection *connection = nullptr;
  ASSERT_EQ(OpenEmailClientConnection(kMailAppCreator, &connection), 0);
  EXPECT_EQ(connection->accountCount, 0);
  EXPECT_EQ(machine.TakeTrace().size(), 2u);
  CloseEmailClientConnection(connection);
}

// The second account has no properties: the first entry, already complete, is released.
TEST_F(ConnectionTest, MailQueryFailingMidwayReleasesWhatWasGathered) {
  machine.Script(TestClient::kMail, "account\tWork\tJane Doe\tjane@work.example\nghost\tGone\n");
  machine.Launch(TestClient::kMail);
  EmailClientConnection *connection = reinterpret_cast<EmailClientConnection *>(1);
  EXPECT_EQ(OpenEmailClientConnection(kMailAppCreator, &connection), errAEDescNotFound);
  EXPECT_EQ(connection, nullptr);
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

TEST_F(ConnectionTest, ClientNeitherRunningNorInstalled) {
  EmailClientConnection *connection = reinterpret_cast<EmailClientConnection *>(1);
  EXPECT_EQ(OpenEmailClientConnection(kMailAppCreator, &connection), fnfErr);
  EXPECT_EQ(connection, reinterpret_cast<EmailClientConnection *>(1));
}

// PowerMail, QuickMail, Mailsmith and Emailer need no opening or closing work. Any of the
// test executables stands in for them: only the creator on the volume matters.
TEST_F(ConnectionTest, ClientsWithoutOpeningWorkSendNothing) {
  const OSType creators[] = {kPowerMailCreator, kQuickMailCreator, kMailsmithCreator, kEmailerCreator};
  for (OSType creator : creators) {
    ASSERT_EQ(standin::InstallApplication(machine.Volume(), "Other", creator,
                                          TestMachine::Executable(TestClient::kMail)),
              noErr);
    EmailClientConnection *connection = nullptr;
    ASSERT_EQ(OpenEmailClientConnection(creator, &connection), 0);
    EXPECT_EQ(connection->signature, creator);
    EXPECT_NE(connection->process.lowLongOfPSN, 0u);
    EXPECT_EQ(ShowHideEmailClientConnection(connection, false), noErr);
    EXPECT_FALSE(IsProcessVisible(&connection->process));
    EXPECT_EQ(ShowHideEmailClientConnection(connection, true), noErr);
    CloseEmailClientConnection(connection);
    EXPECT_TRUE(machine.TakeTrace().empty());
    machine.QuitAll();
  }
}

// The queries' own edge cases, straight against a client.
TEST_F(ConnectionTest, QueriesTakeTheDirectParameterOnly) {
  machine.Script(TestClient::kMail, "account\t\tNo Name\taddress@example\n");
  ProcessSerialNumber psn = machine.Launch(TestClient::kMail);
  AEDesc value;
  // A name of length 0 goes as an empty 'TEXT' selector.
  ASSERT_EQ(GetPropertyOfNamedObject(&psn, &value, FourCC("emad"), typeWildCard, FourCC("mact"), "", 0), 0);
  EXPECT_EQ(ListText(value), "[ \"address@example\" ]");
  AEDisposeDesc(&value);
  // A one-item list coerces to the text it holds.
  ASSERT_EQ(GetPropertyOfNamedObject(&psn, &value, FourCC("emad"), typeChar, FourCC("mact"), "", 0), 0);
  EXPECT_EQ(ListText(value), "\"address@example\"");
  AEDisposeDesc(&value);
  // No such object: the reply has only an error number.
  EXPECT_EQ(GetPropertyOfNamedObject(&psn, &value, FourCC("flln"), typeChar, FourCC("mact"), "Nobody", 6),
            errAEDescNotFound);
  EXPECT_EQ(GetPropertiesOfIndexedObjects(&psn, &value, pName, FourCC("xxxx"), typeLongInteger, 1), 0);
  EXPECT_EQ(ListText(value), "[ ]");
  AEDisposeDesc(&value);
  Lines trace = machine.TakeTrace();
  ASSERT_EQ(trace.size(), 8u);
  EXPECT_EQ(trace[0],
            "'core'\\'getd'{ '----':'obj '{ 'form':'prop', 'want':type('prop'), 'seld':type('emad'), "
            "'from':'obj '{ "
            "'form':'name', 'want':type('mact'), 'seld':'TEXT'(), 'from':null() } } }");
}

}  // namespace
