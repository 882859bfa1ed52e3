// A message that no one waits for is never dropped because one of its files cannot be read:
// the Emailer stand-in keeps a 'CRML' message as a draft without the file and journals which
// one it was, while a sender that waits still hears the error; Eudora's 'eQue' of a message
// whose attached file went away meanwhile keeps it as a draft too.
#include <sstream>
#include <string>
#include <vector>

#include "tests/apps/StandInClientFixture.h"

using namespace standintest;

namespace {

namespace fs = std::filesystem;

class KeptMessageTest : public StandInClient {
 protected:
  std::string File(const std::string &name) { return Files() + "/" + name; }

  // The 'errn' of the answer, or the send's own error; without waiting, the send's status.
  SInt32 Deliver(AEEventClass eventClass, AEEventID id, Keyed params, bool wait) {
    return wait ? Answer(eventClass, id, params) : Send(eventClass, id, params, nullptr, false);
  }

  // The messages of a Maildir folder ("outbox", "drafts"), whole.
  std::vector<std::string> Messages(const std::string &folder) {
    std::vector<std::string> messages;
    for (const auto &entry : fs::directory_iterator(data_ + "/" + folder + "/new")) {
      std::ostringstream text;
      text << std::ifstream(entry.path()).rdbuf();
      messages.push_back(text.str());
    }
    return messages;
  }

  std::string Journal() {
    std::ostringstream text;
    text << std::ifstream(data_ + "/journal.log").rdbuf();
    return text.str();
  }
};

TEST_F(KeptMessageTest, EmailerKeepsAMessageWithAnUnreadableFileAsADraftWhenNoOneWaits) {
  Launch("Emailer", FourCC("MMan"));
  SInt32 to = 0;
  auto mail = [&](const std::string &subject, const std::vector<std::string> &paths, bool wait) {
    Desc files = List({});
    for (const std::string &path : paths) {
      Desc item = Obj(formName, FourCC("file"), Text(path));
      AEPutDesc(&files.d, 0, &item.d);
    }
    return Deliver(
        FourCC("MMan"), FourCC("CRML"),
        {{FourCC("SUBJ"), Text(subject)},
         {FourCC("RECP"), List({Record(typeAERecord, {{FourCC("RCTP"), Desc(typeSInt32, &to, 4)},
                                                      {FourCC("RCAD"), Text("ann@example.com")}})})},
         {FourCC("FILE"), files},
         {FourCC("SAVE"), Desc(typeTrue, nullptr, 0)}},
        wait);
  };
  const std::string missing = File("gone.pdf"), folder = Files();
  EXPECT_EQ(mail("waited for", {File("notes.txt"), missing}, true), fnfErr);  // the sender hears it
  EXPECT_EQ(mail("not waited for", {missing, File("notes.txt"), folder}, false), noErr);
  EXPECT_EQ(mail("whole", {File("notes.txt")}, false), noErr);
  Quit();

  std::vector<std::string> outbox = Messages("outbox"), drafts = Messages("drafts");
  ASSERT_EQ(outbox.size(), 1u);
  EXPECT_NE(outbox[0].find("Subject: whole"), std::string::npos);
  ASSERT_EQ(drafts.size(), 1u);
  EXPECT_NE(drafts[0].find("Subject: not waited for"), std::string::npos);
  EXPECT_NE(drafts[0].find("notes.txt"), std::string::npos);
  EXPECT_EQ(drafts[0].find("gone.pdf"), std::string::npos);
  std::string journal = Journal();
  EXPECT_NE(journal.find("# attachment not read: " + missing + " (error -43), message kept in drafts"),
            std::string::npos);
  EXPECT_NE(journal.find("# attachment not read: " + folder + " (error -1302)"), std::string::npos);
}

TEST_F(KeptMessageTest, EudoraKeepsAQueuedMessageWhoseFileWentAwayAsADraft) {
  Launch("Eudora", FourCC("CSOm"));
  DescType end = kAEEnd, messageClass = FourCC("euMS");
  Desc reply, message;
  Desc out = Obj(formName, FourCC("euMB"), Text("out"));
  ASSERT_EQ(
      Send(kAECoreSuite, kAECreateElement,
           {{keyAEInsertHere,
             Record(typeInsertionLoc, {{keyAEObject, out}, {keyAEPosition, Desc(typeEnumerated, &end, 4)}})},
            {keyAEObjectClass, Desc(typeType, &messageClass, 4)}},
           &reply),
      noErr);
  ASSERT_EQ(AEGetParamDesc(&reply.d, keyDirectObject, typeWildCard, &message.d), noErr);
  Deliver(kAECoreSuite, kAESetData,
          {{keyDirectObject, Obj(formName, FourCC("euFd"), Text("to"), message)},
           {keyAEData, Text("ann@example.com")}},
          false);
  ASSERT_EQ(Deliver(FourCC("CSOm"), FourCC("eAtc"),
                    {{keyDirectObject, message},
                     {FourCC("eDcl"), List({Obj(formName, typeAlias, Text(File("notes.txt")))})}},
                    true),
            0);
  fs::remove(File("notes.txt"));
  EXPECT_EQ(Deliver(FourCC("CSOm"), FourCC("eQue"), {{keyDirectObject, message}}, false), noErr);
  Quit();
  EXPECT_EQ(Messages("outbox").size(), 0u);
  std::vector<std::string> drafts = Messages("drafts");
  ASSERT_EQ(drafts.size(), 1u);
  EXPECT_NE(drafts[0].find("ann@example.com"), std::string::npos);
}

}  // namespace
