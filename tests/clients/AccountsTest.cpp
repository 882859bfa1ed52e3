// Account discovery against the scripted test clients: what each client is asked, the text
// made of its answers, the host back in front afterwards, and nothing left allocated.
#include <MacErrors.h>
#include <MacMemory.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clients/AccountDiscovery.h"
#include "clients/ClientConnection.h"
#include "clients/EmailClients.h"
#include "tests/clients/TestMachine.h"

namespace {

class AccountsTest : public ::testing::Test {
 protected:
  void SetUp() override { liveBefore_ = CarbonLiveBlocks(); }
  void TearDown() override { EXPECT_EQ(CarbonLiveBlocks(), liveBefore_) << "blocks left allocated"; }

  // The "Acts" text without its NUL, or "<null>".
  static std::string Acts(const char *name, EmailClientConnection *open = nullptr) {
    Handle text = GetEmailClientAccounts(name, open);
    if (text == nullptr) return "<null>";
    std::string s(*text, size_t(GetHandleSize(text)));
    DisposeHandle(text);
    EXPECT_EQ(s.back(), '\0');
    s.pop_back();
    return s;
  }
  // The account-name queries in the trace since the last call, each as its container.
  std::vector<std::string> NameQueries() {
    std::vector<std::string> queries;
    const std::string mark = "'seld':type('pnam'), 'from':'obj '{ ";
    for (const std::string &line : machine.TakeTrace()) {
      size_t at = line.find(mark);
      if (at != std::string::npos)
        queries.push_back(
            line.substr(at + mark.size(), line.find(", 'from'", at + mark.size()) - at - mark.size()));
    }
    return queries;
  }
  static bool HostInFront() {
    ProcessSerialNumber front, self;
    Boolean same = false;
    return GetFrontProcess(&front) == noErr && GetCurrentProcess(&self) == noErr &&
           SameProcess(&front, &self, &same) == noErr && same;
  }

  TestMachine machine;
  long liveBefore_ = 0;
};

std::string All(const char *objectClass) {
  return "'form':'indx', 'want':type('" + std::string(objectClass) + "'), 'seld':'abso'('all ')";
}
std::string Nth(int n) {
  return "'form':'indx', 'want':type('euPr'), 'seld':" + std::to_string(n);
}

// Every client's ordinary list, and the clients that have none, are checked through the host;
// here, the answers at the edges.
TEST_F(AccountsTest, ListsEndAtTheRightAnswer) {
  const std::string longest(256, 'n');
  struct Case {
    TestClient client;
    std::string script;
    std::string text;
    std::vector<std::string> queries;  // of account names, opening included
  } cases[] = {
      // No direct parameter in the answers: no accounts, which is the empty text.
      {TestClient::kEntourage,
       "silent\tpopA\nsilent\timpA\n",
       "",
       {All("popA"), All("impA"), All("popA"), All("impA")}},
      // A name of 256 bytes is listed; one of 257 ends the list.
      {TestClient::kPowerMail,
       "names\tacct\t" + longest + "\nnames\tacct\t" + longest + "x\nnames\tacct\tLast\n",
       longest + "\r",
       {All("acct")}},
      // The fourth answer is no text: the personalities are complete.
      {TestClient::kEudora,
       "names\teuPr\tDominant\nnames\teuPr\tWork\nnames\teuPr\tHome\n",
       "Dominant\rWork\rHome\r",
       {Nth(1), Nth(2), Nth(3), Nth(4)}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(TestMachine::Name(c.client));
    machine.Script(c.client, c.script);
    machine.Launch(c.client);
    machine.TakeTrace();
    // The registry's product name of the client.
    EmailClientInfo info;
    GetEmailClientInformation(TestMachine::Creator(c.client), &info);
    std::string product(reinterpret_cast<const char *>(info.product + 1), info.product[0]);
    EXPECT_EQ(Acts(product.c_str()), c.text);
    EXPECT_EQ(NameQueries(), c.queries);
    EXPECT_TRUE(HostInFront());
    machine.QuitAll();
  }
}

// A query that fails gives null, and the temporary connection is still closed: Eudora's
// personality list and the item read so far are released (the fixture checks).
TEST_F(AccountsTest, FailedQueryGivesNothing) {
  machine.Script(TestClient::kEudora, "setting\t169\tc\nnames\teuPr\tOnly\ndie\teuPr\n");
  machine.Launch(TestClient::kEudora);
  EXPECT_EQ(Acts("Eudora"), "<null>");
  EXPECT_TRUE(HostInFront());
}

// Whichever allocation fails, the text is whole or there is none: never one cut short or
// without its NUL, and nothing is left allocated. The names fill the text's first block of
// memory exactly, so that the NUL needs one more.
TEST(AccountNamesText, WholeOrNothing) {
  AEDescList names;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &names), noErr);
  std::string whole;
  for (char c : {'a', 'b', 'c', 'd'}) {
    const std::string name(255, c);
    AEPutPtr(&names, 0, typeChar, name.data(), Size(name.size()));
    whole += name + "\r";
  }
  whole += '\0';
  for (long failAt = 0; failAt < 64; failAt++) {
    long live = CarbonLiveBlocks();
    CarbonFailAllocationAfter(failAt);
    Handle text = AccountNamesToText(&names);
    CarbonFailAllocationAfter(-1);
    if (text != nullptr) {
      EXPECT_EQ(std::string(*text, size_t(GetHandleSize(text))), whole) << failAt;
      DisposeHandle(text);
    }
    EXPECT_EQ(CarbonLiveBlocks(), live) << failAt;
  }
  AEDisposeDesc(&names);
}

}  // namespace
