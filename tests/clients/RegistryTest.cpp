// The client registry: name matching, the fixed tables, and the "Clnt" list as clients
// are installed and started.
#include <MacMemory.h>
#include <gtest/gtest.h>

#include <string>

#include "clients/EmailClients.h"
#include "tests/clients/TestMachine.h"

namespace {

std::string TakeList(Handle list) {
  EXPECT_NE(list, nullptr);
  if (list == nullptr) return "<null>";
  Size size = GetHandleSize(list);
  EXPECT_GT(size, 0);
  EXPECT_EQ((*list)[size - 1], '\0');
  std::string text(*list, size_t(size > 0 ? size - 1 : 0));
  DisposeHandle(list);
  return text;
}

struct NameCase {
  std::string name;
  OSType creator;
};

TEST(EmailClientRegistry, MatchesProductNamesExactly) {
  const NameCase cases[] = {
      {"Mail", kMailAppCreator},
      {"mail", 0},
      {"Mail ", 0},
      {"Mailsmith", kMailsmithCreator},
      {"Outlook Express", kOutlookExpressCreator},
      {"Outlook", 0},
      {"", 0},
      // Lengths are one byte: 260 characters compare as their first 4.
      {"Mail" + std::string(256, 'x'), kMailAppCreator},
      {"Mailsmith" + std::string(256, 'x'), kMailsmithCreator},
  };
  for (const NameCase &c : cases) EXPECT_EQ(FindEmailClientCreator(c.name.c_str()), c.creator) << c.name;
}

TEST(EmailClientRegistry, IndexBounds) {
  EXPECT_EQ(GetEmailClientSignature(7), kMailAppCreator);
  EXPECT_EQ(GetEmailClientSignature(8), 0u);
  EXPECT_EQ(GetEmailClientSignature(-1), 0u);
}

class RegistryOnMachine : public ::testing::Test {
 protected:
  TestMachine machine;
};

TEST_F(RegistryOnMachine, UnknownCreatorHasOnlyServiceDefault) {
  EmailClientInfo info;
  GetEmailClientInformation(FourCC("Zzzz"), &info);
  EXPECT_EQ(info.manufacturer[0], 0);
  EXPECT_EQ(info.product[0], 0);
  EXPECT_TRUE(info.encodingServiceDefault);
  EXPECT_FALSE(info.encodingNone || info.encodingBinHex || info.encodingBase64 || info.encodingUUEncode ||
               info.encodingAppleSingle || info.encodingAppleDouble || info.compresses || info.supportsHTML);
  EXPECT_FALSE(info.available || info.running);
}

// "Clnt" lists what is running or installed, in table order, whatever the order of start.
TEST_F(RegistryOnMachine, ClientListFollowsWhatIsInstalledAndRunning) {
  EXPECT_EQ(TakeList(GetEmailClientInfoHandle()), "");

  machine.Install(TestClient::kEudora);
  EmailClientInfo info;
  GetEmailClientInformation(kEudoraCreator, &info);
  EXPECT_TRUE(info.available);
  EXPECT_FALSE(info.running);
  EXPECT_EQ(
      std::string(reinterpret_cast<char *>(info.applicationFile.name + 1), info.applicationFile.name[0]),
      TestMachine::Name(TestClient::kEudora) + ".app");
  EXPECT_EQ(TakeList(GetEmailClientInfoHandle()), "Eudora\r");

  machine.Launch(TestClient::kMail);
  GetEmailClientInformation(kMailAppCreator, &info);
  EXPECT_TRUE(info.running);
  EXPECT_TRUE(info.available);
  EXPECT_EQ(TakeList(GetEmailClientInfoHandle()), "Eudora\rMail\r");

  machine.Launch(TestClient::kOutlookExpress);
  EXPECT_EQ(TakeList(GetEmailClientInfoHandle()), "Outlook Express\rEudora\rMail\r");
}

}  // namespace
