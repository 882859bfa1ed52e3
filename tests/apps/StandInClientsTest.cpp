// The Eudora, Mailsmith and Emailer stand-ins driven through AESend with the events of their
// dialects, each launched on a fresh emulated machine: every client plays the same cases
// (standin_reader.py reads the mail written back with Python's email package and checks it),
// and the answers each dialect gives are checked here.
#include <string>
#include <vector>

#include "apps/mailstore/MailEvents.h"
#include "tests/apps/StandInClientFixture.h"

using namespace standintest;

namespace {

const std::string kAccounts =
    "account Home = Ann Home <ann@home.example>\naccount Work = Ann Work <ann@work.example>\nsetting 169 = "
    "y\n";
// Full and empty messages reach every client through the plug-in's merges; these tests play
// the rest: texts sent as UTF-8, refused files and accounts, and drafts.
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
  Desc one = Create();
  ObjectParts parts;
  ASSERT_EQ(ReadObjectSpecifier(one.d, &parts), noErr);
  SInt32 index = 0;
  EXPECT_EQ(parts.form, kIndex);
  EXPECT_EQ(parts.want, FourCC("euMS"));
  EXPECT_EQ(DescToLong(*parts.seld, &index), noErr);
  EXPECT_EQ(index, 1);
  Field(one, "subject", kUTF8Subject, typeUTF8Text);
  Field(one, "to", "ann@example.com", typeUTF8Text);
  EXPECT_EQ(Attach(one, {files + "/notes.txt"}), 0);
  Desc work = Obj(kName, FourCC("euPr"), Text("Work"));
  Desc nobody = Obj(kName, FourCC("euPr"), Text("Nobody"));
  EXPECT_EQ(
      Answer(kCore, kAESetData, {{keyDirectObject, Property(FourCC("euPr"), one)}, {keyAEData, nobody}}),
      errAENoSuchObject);
  EXPECT_EQ(Answer(kCore, kAESetData, {{keyDirectObject, Property(FourCC("euPr"), one)}, {keyAEData, work}}),
            0);
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
  Desc one = Window();
  Set(one, FourCC("subj"), kUTF8Subject, typeUTF8Text);
  EXPECT_EQ(Element(one, FourCC("!to "), FourCC("Addr"), "ann@example.com"), 0);
  EXPECT_EQ(Element(one, FourCC("Encl"), FourCC("file"), files + "/notes.txt"), 0);
  EXPECT_EQ(Queue(one), 0);
  EXPECT_EQ(Queue(one), errAENoSuchObject);  // queued windows close
  Desc missing = Window();
  Set(missing, FourCC("subj"), "Missing file");
  EXPECT_EQ(Element(missing, FourCC("Encl"), FourCC("file"), files + "/gone.pdf"), fnfErr);
  EXPECT_EQ(Queue(missing), 0);
  // An account no one has: the message is refused, neither sent nor kept from another account.
  Desc nobody = Window();
  Set(nobody, FourCC("subj"), "Nobody");
  Set(nobody, FourCC("SeAc"), "Nobody");
  EXPECT_EQ(Queue(nobody), errAENoSuchObject);
  Desc draft = Window();
  Set(draft, FourCC("subj"), "Draft");
  EXPECT_EQ(Element(draft, FourCC("!to "), FourCC("Addr"), "ann@example.com"), 0);
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
