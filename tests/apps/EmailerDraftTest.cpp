// A message that no one waits for is never dropped because one of its files cannot be read:
// the Emailer stand-in keeps a 'CRML' message as a draft without the file and journals which
// one it was, while a sender that waits still hears the error; Eudora's 'eQue' of a message
// whose attached file went away meanwhile keeps it as a draft too.
#include <AppleEvents.h>
#include <MacErrors.h>
#include <Processes.h>
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "apps/kit/StandInApp.h"
#include "carbon/src/CarbonPaths.h"

namespace {

namespace fs = std::filesystem;

struct Desc {
  AEDesc d;
  Desc() { AEInitializeDesc(&d); }
  Desc(DescType type, const void *data, Size size) { AECreateDesc(type, data, size, &d); }
  Desc(const Desc &other) { AEDuplicateDesc(&other.d, &d); }
  Desc &operator=(const Desc &) = delete;
  ~Desc() { AEDisposeDesc(&d); }
};

Desc Text(const std::string &text) {
  return Desc(typeChar, text.data(), Size(text.size()));
}

Desc Record(DescType type, std::initializer_list<std::pair<AEKeyword, Desc>> items) {
  Desc record, result;
  AECreateList(nullptr, 0, true, &record.d);
  for (const auto &[key, value] : items) AEPutKeyDesc(&record.d, key, &value.d);
  AECoerceDesc(&record.d, type, &result.d);
  return result;
}

Desc List(std::initializer_list<Desc> items) {
  Desc list;
  AECreateList(nullptr, 0, false, &list.d);
  for (const Desc &item : items) AEPutDesc(&list.d, 0, &item.d);
  return list;
}

Desc Obj(OSType form, DescType want, const Desc &seld, const Desc &from = Desc()) {
  OSType f = form;
  return Record(typeObjectSpecifier, {{keyAEKeyForm, Desc(typeEnumerated, &f, 4)},
                                      {keyAEDesiredClass, Desc(typeType, &want, 4)},
                                      {keyAEKeyData, seld},
                                      {keyAEContainer, from}});
}

class KeptMessageTest : public ::testing::Test {
 protected:
  void Launch(const std::string &name, OSType creator) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::string pattern = (fs::temp_directory_path() / "quillcast-drafts-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
    setenv("QUILLCAST_HOME", home_.c_str(), 1);
    data_ = home_ + "/Data/" + name;
    fs::create_directories(data_);
    fs::create_directories(home_ + "/files");
    std::ofstream(File("notes.txt")) << "notes\n";
    std::string volume = carbon::Volumes().at(1).root;
    fs::create_directories(volume);
    std::string executable = std::string(std::getenv("QUILLCAST_BUILD_DIR")) + "/apps/bin/" + name;
    ASSERT_EQ(standin::InstallApplication(volume, name, creator, executable), noErr);
    FSSpec app{};
    ASSERT_EQ(carbon::PathToFSSpec(volume + "/" + name + ".app", &app), noErr);
    LaunchParamBlockRec params{};
    params.launchBlockID = extendedBlock;
    params.launchEPBLength = extendedBlockLen;
    params.launchControlFlags = launchContinue | launchNoFileFlags;
    params.launchAppSpec = &app;
    ASSERT_EQ(LaunchApplication(&params), noErr);
    psn_ = params.launchProcessSN;
  }

  void TearDown() override {
    Quit();
    std::error_code ignored;
    if (!home_.empty()) fs::remove_all(home_, ignored);
  }

  std::string File(const std::string &name) { return home_ + "/files/" + name; }

  // The 'errn' of the answer, or the send's own error; without waiting, the send's status.
  SInt32 Send(AEEventClass eventClass, AEEventID id, std::initializer_list<std::pair<AEKeyword, Desc>> params,
              bool wait, Desc *reply = nullptr) {
    Desc target(typeProcessSerialNumber, &psn_, sizeof psn_), event, answer;
    AECreateAppleEvent(eventClass, id, &target.d, kAutoGenerateReturnID, kAnyTransactionID, &event.d);
    for (const auto &[key, value] : params) AEPutParamDesc(&event.d, key, &value.d);
    Desc &into = reply != nullptr ? *reply : answer;
    OSErr err = AESend(&event.d, &into.d, wait ? 0x43 : 0x41, kAENormalPriority, 1200, nullptr, nullptr);
    SInt32 number = 0;
    DescType type;
    Size size;
    if (err == noErr && wait) AEGetParamPtr(&into.d, keyErrorNumber, typeSInt32, &type, &number, 4, &size);
    return err != noErr ? err : number;
  }

  void Quit() {
    if (psn_.lowLongOfPSN == 0) return;
    Send(kCoreEventClass, kAEQuitApplication, {}, true);
    waitpid(pid_t(psn_.lowLongOfPSN), nullptr, 0);
    psn_ = {};
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

  std::string home_, data_;
  ProcessSerialNumber psn_{};
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
    return Send(FourCC("MMan"), FourCC("CRML"),
                {{FourCC("SUBJ"), Text(subject)},
                 {FourCC("RECP"), List({Record(typeAERecord, {{FourCC("RCTP"), Desc(typeSInt32, &to, 4)},
                                                              {FourCC("RCAD"), Text("ann@example.com")}})})},
                 {FourCC("FILE"), files},
                 {FourCC("SAVE"), Desc(typeTrue, nullptr, 0)}},
                wait);
  };
  const std::string missing = File("gone.pdf"), folder = home_ + "/files";
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
           true, &reply),
      noErr);
  ASSERT_EQ(AEGetParamDesc(&reply.d, keyDirectObject, typeWildCard, &message.d), noErr);
  Send(kAECoreSuite, kAESetData,
       {{keyDirectObject, Obj(formName, FourCC("euFd"), Text("to"), message)},
        {keyAEData, Text("ann@example.com")}},
       false);
  ASSERT_EQ(Send(FourCC("CSOm"), FourCC("eAtc"),
                 {{keyDirectObject, message},
                  {FourCC("eDcl"), List({Obj(formName, typeAlias, Text(File("notes.txt")))})}},
                 true),
            0);
  fs::remove(File("notes.txt"));
  EXPECT_EQ(Send(FourCC("CSOm"), FourCC("eQue"), {{keyDirectObject, message}}, false), noErr);
  Quit();
  EXPECT_EQ(Messages("outbox").size(), 0u);
  std::vector<std::string> drafts = Messages("drafts");
  ASSERT_EQ(drafts.size(), 1u);
  EXPECT_NE(drafts[0].find("ann@example.com"), std::string::npos);
}

}  // namespace
