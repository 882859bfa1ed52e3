// The Eudora, Mailsmith and Emailer stand-ins driven through AESend with the events of their
// dialects, each launched on a fresh emulated machine: every client plays the same cases
// (standin_reader.py reads the mail written back with Python's email package and checks it),
// and the answers each dialect gives are checked here.
#include <AEHelpers.h>
#include <AppleEvents.h>
#include <MacErrors.h>
#include <Processes.h>
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "apps/kit/StandInApp.h"
#include "apps/mailstore/MailEvents.h"
#include "carbon/src/CarbonPaths.h"

namespace standintest {

// A descriptor the test owns.
struct Desc {
  AEDesc d;
  Desc() { AEInitializeDesc(&d); }
  Desc(DescType type, const void *data, Size size) { AECreateDesc(type, data, size, &d); }
  Desc(const Desc &other) { AEDuplicateDesc(&other.d, &d); }
  Desc &operator=(const Desc &) = delete;
  ~Desc() { AEDisposeDesc(&d); }
};

inline Desc Text(const std::string &bytes, DescType type = typeChar) {
  return Desc(type, bytes.data(), Size(bytes.size()));
}
inline Desc Code(DescType type, OSType code) {
  return Desc(type, &code, 4);
}
inline Desc Long(SInt32 value) {
  return Desc(typeSInt32, &value, 4);
}
inline Desc Short(SInt16 value) {
  return Desc(typeSInt16, &value, 2);
}

using Keyed = std::initializer_list<std::pair<AEKeyword, Desc>>;

inline Desc Record(DescType type, Keyed items) {
  Desc record;
  AECreateList(nullptr, 0, true, &record.d);
  for (const auto &[key, value] : items) AEPutKeyDesc(&record.d, key, &value.d);
  Desc result;
  AECoerceDesc(&record.d, type, &result.d);
  return result;
}
inline Desc Obj(OSType form, DescType want, const Desc &seld, const Desc &from = Desc()) {
  return Record(typeObjectSpecifier, {{keyAEKeyForm, Code(typeEnumerated, form)},
                                      {keyAEDesiredClass, Code(typeType, want)},
                                      {keyAEKeyData, seld},
                                      {keyAEContainer, from}});
}
inline Desc List(std::initializer_list<Desc> items) {
  Desc list;
  AECreateList(nullptr, 0, false, &list.d);
  for (const Desc &item : items) AEPutDesc(&list.d, 0, &item.d);
  return list;
}

// The 'errn' of a reply, 0 when it has none.
inline SInt32 ReplyError(const Desc &reply) {
  SInt32 error = 0;
  DescType type;
  Size size;
  AEGetParamPtr(&reply.d, keyErrorNumber, typeSInt32, &type, &error, 4, &size);
  return error;
}

// The reply's direct parameter as 'TEXT' bytes; "<none>" when it has none.
inline std::string ReplyText(const Desc &reply) {
  char text[512];
  DescType type;
  Size size = 0;
  if (AEGetParamPtr(&reply.d, keyDirectObject, typeChar, &type, text, sizeof text, &size) != noErr)
    return "<none>";
  return std::string(text, size_t(std::min<Size>(size, sizeof text)));
}

// A stand-in launched on a fresh machine; told to quit (so that it writes its drafts) and
// reaped by Quit or at the end of the test.
class StandInClient : public ::testing::Test {
 protected:
  void Launch(const std::string &name, OSType creator, const std::string &accounts = {}) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::string pattern = (std::filesystem::temp_directory_path() / "quillcast-apps-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
    setenv("QUILLCAST_HOME", home_.c_str(), 1);
    unsetenv("QUILLCAST_AE_TRACE");
    data_ = home_ + "/Data/" + name;
    std::filesystem::create_directories(data_);
    if (!accounts.empty()) std::ofstream(data_ + "/accounts.conf") << accounts;
    std::string volume = carbon::Volumes().at(1).root;
    std::filesystem::create_directories(volume);
    std::string executable = std::string(std::getenv("QUILLCAST_BUILD_DIR")) + "/apps/bin/" + name;
    ASSERT_EQ(standin::InstallApplication(volume, name, creator, executable), noErr);
    FSSpec appFile{};
    ASSERT_EQ(carbon::PathToFSSpec(volume + "/" + name + ".app", &appFile), noErr);
    LaunchParamBlockRec params{};
    params.launchBlockID = extendedBlock;
    params.launchEPBLength = extendedBlockLen;
    params.launchControlFlags = launchContinue | launchNoFileFlags;
    params.launchAppSpec = &appFile;
    ASSERT_EQ(LaunchApplication(&params), noErr);
    psn_ = params.launchProcessSN;
  }

  void TearDown() override {
    Quit();
    std::error_code ignored;
    if (!home_.empty()) std::filesystem::remove_all(home_, ignored);
  }

  // Sends the event and waits for the reply (mode 0x43), or sends it without (0x41).
  OSErr Send(AEEventClass eventClass, AEEventID id, Keyed params, Desc *reply = nullptr, bool wait = true) {
    Desc target(typeProcessSerialNumber, &psn_, sizeof psn_), event, ignored;
    AECreateAppleEvent(eventClass, id, &target.d, kAutoGenerateReturnID, kAnyTransactionID, &event.d);
    for (const auto &[key, value] : params) AEPutParamDesc(&event.d, key, &value.d);
    return AESend(&event.d, reply ? &reply->d : &ignored.d, wait ? 0x43 : 0x41, kAENormalPriority, 1200,
                  nullptr, nullptr);
  }
  // The 'errn' the client answers (0 for success), or the send's own error.
  SInt32 Answer(AEEventClass eventClass, AEEventID id, Keyed params) {
    Desc reply;
    OSErr err = Send(eventClass, id, params, &reply);
    return err != noErr ? err : ReplyError(reply);
  }

  void Quit() {
    if (psn_.lowLongOfPSN == 0) return;
    Send(kCoreEventClass, kAEQuitApplication, {});
    waitpid(pid_t(psn_.lowLongOfPSN), nullptr, 0);
    psn_ = {};
  }

  // The mail the client wrote, checked by the independent reader for this client's cases.
  void ExpectMailMatches(const std::string &client) {
    std::string command =
        "python3 " + std::string(STANDIN_READER) + " " + client + " '" + data_ + "' '" + Files() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }

  // Files to attach: notes.txt (text) and data.bin (every byte value).
  std::string Files() {
    std::string folder = home_ + "/files";
    if (!std::filesystem::exists(folder)) {
      std::filesystem::create_directories(folder);
      std::ofstream(folder + "/notes.txt") << "caf\xc3\xa9 notes\n";
      std::ofstream bin(folder + "/data.bin", std::ios::binary);
      for (int i = 0; i < 512; i++) bin.put(char(i));
    }
    return folder;
  }

  std::string home_, data_;
  ProcessSerialNumber psn_{};
};

}  // namespace standintest

using namespace standintest;

namespace {

const std::string kAccounts =
    "account Home = Ann Home <ann@home.example>\naccount Work = Ann Work <ann@work.example>\nsetting 169 = "
    "y\n";
// As the plug-in sends them: Mac OS Roman with CR line ends, recipients in round form. 0xC6
// (the increment sign, not Greek delta) and 0xDB (the euro sign) are where converters differ.
const std::string kSubject = "Caf\x8e \xd2news\xd3 \xc6\xdb";
const std::string kBody = "Dear Ann,\r\rna\x95ve r\x8esum\x8e, \xc6 5 \xdb.\r";
const std::string kTo = "ann@example.com (Ann Lee),borje@example.com (B\x9arje)";
const std::string kUTF8Subject = "One attachment \xe2\x9c\x93";

constexpr OSType kCore = kAECoreSuite;
constexpr OSType kName = formName;
constexpr OSType kProp = formPropertyID;
constexpr OSType kIndex = formAbsolutePosition;

Desc Property(OSType code, const Desc &of) {
  return Obj(kProp, kProp, Code(typeType, code), of);
}

}  // namespace

class EudoraTest : public StandInClient {
 protected:
  Desc Create() {
    Desc reply, message;
    Desc out = Obj(kName, FourCC("euMB"), Text("out"));
    EXPECT_EQ(
        Send(kCore, kAECreateElement,
             {{keyAEInsertHere,
               Record(typeInsertionLoc, {{keyAEObject, out}, {keyAEPosition, Code(typeEnumerated, kAEEnd)}})},
              {keyAEObjectClass, Code(typeType, FourCC("euMS"))}},
             &reply),
        noErr);
    AEGetParamDesc(&reply.d, keyDirectObject, typeWildCard, &message.d);
    return message;
  }
  // As the plug-in sets a field: without waiting for the answer.
  void Field(const Desc &message, const std::string &name, const std::string &value,
             DescType type = typeChar) {
    EXPECT_EQ(Send(kCore, kAESetData,
                   {{keyDirectObject, Obj(kName, FourCC("euFd"), Text(name), message)},
                    {keyAEData, Text(value, type)}},
                   nullptr, false),
              noErr);
  }
  SInt32 Attach(const Desc &message, std::initializer_list<std::string> paths) {
    Desc list = List({});
    for (const std::string &path : paths) {
      Desc alias = Obj(kName, typeAlias, Text(path));
      AEPutDesc(&list.d, 0, &alias.d);
    }
    return Answer(FourCC("CSOm"), FourCC("eAtc"), {{keyDirectObject, message}, {FourCC("eDcl"), list}});
  }
  SInt32 Queue(const Desc &message) {
    return Answer(FourCC("CSOm"), FourCC("eQue"), {{keyDirectObject, message}});
  }
  std::string Get(const Desc &specifier, SInt32 *error = nullptr) {
    Desc reply;
    EXPECT_EQ(Send(kCore, kAEGetData, {{keyDirectObject, specifier}}, &reply), noErr);
    if (error) *error = ReplyError(reply);
    return ReplyText(reply);
  }
};

TEST_F(EudoraTest, BuildsMessagesFieldByFieldInMailboxOut) {
  Launch("Eudora", FourCC("CSOm"), kAccounts);
  std::string files = Files();
  Desc full = Create();
  ObjectParts parts;
  ASSERT_EQ(ReadObjectSpecifier(full.d, &parts), noErr);
  SInt32 index = 0;
  EXPECT_EQ(parts.form, kIndex);
  EXPECT_EQ(parts.want, FourCC("euMS"));
  EXPECT_EQ(DescToLong(*parts.seld, &index), noErr);
  EXPECT_EQ(index, 1);
  Field(full, "", kBody);
  Field(full, "subject", kSubject);
  Field(full, "to", kTo);
  Field(full, "cc", "carl@example.com");
  Field(full, "bcc", "dora@example.com (Dora)");
  EXPECT_EQ(Attach(full, {files + "/notes.txt", files + "/data.bin"}), 0);
  EXPECT_EQ(
      Answer(kCore, kAESetData, {{keyDirectObject, Property(FourCC("eATy"), full)}, {keyAEData, Short(2)}}),
      0);
  Desc work = Obj(kName, FourCC("euPr"), Text("Work"));
  Desc nobody = Obj(kName, FourCC("euPr"), Text("Nobody"));
  EXPECT_EQ(
      Answer(kCore, kAESetData, {{keyDirectObject, Property(FourCC("euPr"), full)}, {keyAEData, nobody}}),
      errAENoSuchObject);
  EXPECT_EQ(Answer(kCore, kAESetData, {{keyDirectObject, Property(FourCC("euPr"), full)}, {keyAEData, work}}),
            0);
  EXPECT_EQ(Queue(full), 0);
  EXPECT_EQ(Queue(Create()), 0);  // the empty message

  Desc one = Create();
  Field(one, "subject", kUTF8Subject, typeUTF8Text);
  Field(one, "to", "ann@example.com", typeUTF8Text);
  EXPECT_EQ(Attach(one, {files + "/notes.txt"}), 0);
  EXPECT_EQ(Queue(one), 0);
  Desc missing = Create();
  Field(missing, "subject", "Missing file");
  EXPECT_EQ(Attach(missing, {files + "/notes.txt", files + "/gone.pdf"}), fnfErr);
  EXPECT_EQ(Queue(missing), 0);  // still running; nothing of the refused list was attached
  Desc draft = Create();
  Field(draft, "subject", "Draft");
  Field(draft, "to", "ann@example.com");
  EXPECT_EQ(Queue(Obj(kIndex, FourCC("euMS"), Long(99), Obj(kName, FourCC("euMB"), Text("out")))),
            errAENoSuchObject);
  Quit();
  ExpectMailMatches("Eudora");
}

TEST_F(EudoraTest, AnswersSettingsAndPersonalities) {
  Launch("Eudora", FourCC("CSOm"), kAccounts);
  Desc setting = Obj(kIndex, FourCC("ePrf"), Long(169));
  EXPECT_EQ(Get(setting), "y");
  EXPECT_EQ(Send(kCore, kAESetData, {{keyDirectObject, setting}, {keyAEData, Text("n")}}, nullptr, false),
            noErr);
  EXPECT_EQ(Get(setting), "n");
  SInt32 error = -1;
  const char *names[] = {"Home", "Work", "<none>"};  // past the last: no direct parameter, no error
  for (SInt32 n = 1; n <= 3; n++) {
    EXPECT_EQ(Get(Property(pName, Obj(kIndex, FourCC("euPr"), Long(n))), &error), names[n - 1]);
    EXPECT_EQ(error, 0);
  }
}

class MailsmithTest : public StandInClient {
 protected:
  Desc Window() {
    Desc reply, window;
    EXPECT_EQ(Send(kCore, kAECreateElement, {{keyAEObjectClass, Code(typeType, FourCC("mWnd"))}}, &reply),
              noErr);
    AEGetParamDesc(&reply.d, keyDirectObject, typeWildCard, &window.d);
    return window;
  }
  void Set(const Desc &window, OSType property, const std::string &value, DescType type = typeChar) {
    EXPECT_EQ(
        Send(kCore, kAESetData,
             {{keyDirectObject, Property(property, window)}, {keyAEData, Text(value, type)}}, nullptr, false),
        noErr);
  }
  SInt32 Element(const Desc &window, OSType kind, AEKeyword key, const std::string &value) {
    return Answer(kCore, kAECreateElement,
                  {{keyAEObjectClass, Code(typeType, kind)},
                   {keyAEInsertHere, window},
                   {keyAEPropData, Record(typeAERecord, {{key, Text(value)}})}});
  }
  SInt32 Queue(const Desc &window) {
    return Answer(FourCC("mail"), FourCC("queu"), {{keyDirectObject, window}});
  }
};

TEST_F(MailsmithTest, BuildsMessagesInWindows) {
  Launch("Mailsmith", FourCC("BLTO"), kAccounts);
  std::string files = Files();
  Desc full = Window();
  Set(full, FourCC("pcnt"), kBody);
  Set(full, FourCC("subj"), kSubject);
  Set(full, FourCC("SeAc"), "Work");
  EXPECT_EQ(Element(full, FourCC("!to "), FourCC("Addr"), "ann@example.com (Ann Lee)"), 0);
  EXPECT_EQ(Element(full, FourCC("!to "), FourCC("Addr"), "borje@example.com (B\x9arje)"), 0);
  EXPECT_EQ(Element(full, FourCC("!cc "), FourCC("Addr"), "carl@example.com"), 0);
  EXPECT_EQ(Element(full, FourCC("!bcc"), FourCC("Addr"), "dora@example.com (Dora)"), 0);
  EXPECT_EQ(Element(full, FourCC("Encl"), FourCC("file"), files + "/notes.txt"), 0);
  EXPECT_EQ(Answer(kCore, kAECreateElement,
                   {{keyAEObjectClass, Code(typeType, FourCC("Encl"))},
                    {keyAEInsertHere, full},
                    {keyAEPropData,
                     Record(typeAERecord, {{FourCC("file"), Text(files + "/data.bin")},
                                           {FourCC("Encd"), Code(typeEnumerated, FourCC("eB64"))}})}}),
            0);
  EXPECT_EQ(Queue(full), 0);
  EXPECT_EQ(Queue(full), errAENoSuchObject);  // queued windows close
  EXPECT_EQ(Queue(Window()), 0);

  Desc one = Window();
  Set(one, FourCC("subj"), kUTF8Subject, typeUTF8Text);
  EXPECT_EQ(Element(one, FourCC("!to "), FourCC("Addr"), "ann@example.com"), 0);
  EXPECT_EQ(Element(one, FourCC("Encl"), FourCC("file"), files + "/notes.txt"), 0);
  EXPECT_EQ(Queue(one), 0);
  Desc missing = Window();
  Set(missing, FourCC("subj"), "Missing file");
  EXPECT_EQ(Element(missing, FourCC("Encl"), FourCC("file"), files + "/gone.pdf"), fnfErr);
  EXPECT_EQ(Queue(missing), 0);
  Desc draft = Window();
  Set(draft, FourCC("subj"), "Draft");
  EXPECT_EQ(Element(draft, FourCC("!to "), FourCC("Addr"), "ann@example.com"), 0);

  Desc reply;
  ASSERT_EQ(Send(kCore, kAEGetData,
                 {{keyDirectObject,
                   Property(pName, Obj(kIndex, FourCC("Mact"), Code(typeAbsoluteOrdinal, kAEAll)))}},
                 &reply),
            noErr);
  long count = 0;
  AEDesc names;
  ASSERT_EQ(AEGetParamDesc(&reply.d, keyDirectObject, typeAEList, &names), noErr);
  EXPECT_EQ(AECountItems(&names, &count), noErr);
  EXPECT_EQ(count, 2);
  AEDisposeDesc(&names);
  Quit();
  ExpectMailMatches("Mailsmith");
}

class EmailerTest : public StandInClient {
 protected:
  static Desc Recipient(SInt16 kind, const std::string &address) {
    return Record(typeAERecord, {{FourCC("RCTP"), Short(kind)}, {FourCC("RCAD"), Text(address)}});
  }
  static Desc File(const std::string &path) { return Obj(kName, FourCC("file"), Text(path)); }
  SInt32 Mail(Keyed params) { return Answer(FourCC("MMan"), FourCC("CRML"), params); }
};

TEST_F(EmailerTest, TakesEachMessageInOneEvent) {
  Launch("Emailer", FourCC("MMan"), kAccounts);
  std::string files = Files();
  Desc queue(typeTrue, nullptr, 0);
  EXPECT_EQ(
      Mail({{FourCC("BODY"), Text(kBody)},
            {FourCC("SUBJ"), Text(kSubject)},
            {FourCC("RECP"),
             List({Recipient(0, "ann@example.com (Ann Lee)"), Recipient(0, "borje@example.com (B\x9arje)"),
                   Recipient(1, "carl@example.com"), Recipient(2, "dora@example.com (Dora)")})},
            {FourCC("FILE"), List({File(files + "/notes.txt"), File(files + "/data.bin")})},
            {FourCC("ENCD"), Short(3)},
            {FourCC("COMP"), Desc(typeFalse, nullptr, 0)},
            {FourCC("SAVE"), queue}}),
      0);
  EXPECT_EQ(Mail({{FourCC("RECP"), List({})}, {FourCC("SAVE"), queue}}), 0);
  EXPECT_EQ(Mail({{FourCC("SUBJ"), Text(kUTF8Subject, typeUTF8Text)},
                  {FourCC("RECP"), List({Recipient(0, "ann@example.com")})},
                  {FourCC("FILE"), List({File(files + "/notes.txt")})},
                  {FourCC("SAVE"), queue}}),
            0);
  Desc refused = Text("Missing file");
  EXPECT_EQ(Mail({{FourCC("SUBJ"), refused},
                  {FourCC("FILE"), List({File(files + "/gone.pdf")})},
                  {FourCC("SAVE"), queue}}),
            fnfErr);
  EXPECT_EQ(Mail({{FourCC("SUBJ"), refused}, {FourCC("SAVE"), queue}}), 0);
  EXPECT_EQ(
      Mail({{FourCC("SUBJ"), Text("Draft")}, {FourCC("RECP"), List({Recipient(0, "ann@example.com")})}}), 0);
  EXPECT_EQ(Mail({{FourCC("RECP"), List({Recipient(7, "x@example.com")})}}), paramErr);
  Quit();
  ExpectMailMatches("Emailer");
}
