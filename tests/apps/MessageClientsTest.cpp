// The Apple Mail, Outlook Express, PowerMail and QuickMail stand-ins driven through AESend
// with the events the plug-in sends them, each launched on a fresh emulated machine. Every
// client plays the cases standin_reader.py reads back (one attachment with UTF-8 texts, a
// refused file, a draft; full and empty messages reach them through the plug-in's merges);
// the answers of each dialect and its refusals of an unknown account are checked here.
#include <fstream>
#include <iterator>
#include <string>

#include <Aliases.h>
#include <MacMemory.h>

#include "apps/mailstore/MailEvents.h"
#include "tests/apps/StandInClientFixture.h"

using namespace standintest;

namespace {

const std::string kAccounts =
    "account Home = Ann Home <ann@home.example>\naccount Work = Ann Work <ann@work.example>\n"
    "imap account Lab = Ann Lab <ann@lab.example>\n";
const std::string kUTF8Subject = "One attachment \xe2\x9c\x93";

constexpr OSType kCore = kAECoreSuite;

Desc Property(OSType code, const Desc &of) {
  return Obj(formPropertyID, formPropertyID, Code(typeType, code), of);
}
Desc All() {
  return Code(typeAbsoluteOrdinal, kAEAll);
}
Desc Enum(OSType code) {
  return Code(typeEnumerated, code);
}
Desc True() {
  return Desc(typeTrue, nullptr, 0);
}

}  // namespace

class MessageClient : public StandInClient {
 protected:
  // Sends a create event and returns the new object's specifier (null when refused).
  Desc Make(Keyed params, SInt32 *error = nullptr, bool wait = true) {
    Desc reply, made;
    EXPECT_EQ(Send(kCore, kAECreateElement, params, &reply, wait), noErr);
    if (error) *error = ReplyError(reply);
    AEGetParamDesc(&reply.d, keyDirectObject, typeWildCard, &made.d);
    return made;
  }
};

class MailAppTest : public MessageClient {
 protected:
  // As the plug-in names an attachment: a minimal alias of its full path.
  static Desc Alias(const std::string &path) {
    AliasHandle alias = nullptr;
    EXPECT_EQ(NewAliasMinimalFromFullPath(short(path.size()), path.data(), nullptr, nullptr, &alias), noErr);
    Desc desc(typeAlias, *alias, GetHandleSize(reinterpret_cast<Handle>(alias)));
    DisposeHandle(reinterpret_cast<Handle>(alias));
    return desc;
  }
  Desc Message(Keyed properties, SInt32 *error = nullptr) {
    return Make({{keyAEObjectClass, Code(typeType, FourCC("bcke"))},
                 {keyAEPropData, Record(typeAERecord, properties)}},
                error);
  }
  SInt32 Recipient(const Desc &message, OSType kind, const std::string &name, const std::string &address) {
    Desc location = Record(typeInsertionLoc, {{keyAEObject, Obj(formAbsolutePosition, kind, All(), message)},
                                              {keyAEPosition, Enum(kAEEnd)}});
    Desc properties = name.empty()
                          ? Record(typeAERecord, {{FourCC("radd"), Text(address)}})
                          : Record(typeAERecord, {{pName, Text(name)}, {FourCC("radd"), Text(address)}});
    return Answer(kCore, kAECreateElement,
                  {{keyAEObjectClass, Code(typeType, FourCC("rcpt"))},
                   {keyAEInsertHere, location},
                   {keyAEPropData, properties}});
  }
  SInt32 Attach(const Desc &message, const std::string &path) {
    Desc characters = Obj(formAbsolutePosition, FourCC("cha "), Long(-1), Property(FourCC("ctnt"), message));
    Desc location =
        Record(typeInsertionLoc, {{keyAEObject, characters}, {keyAEPosition, Enum(FourCC("afte"))}});
    return Answer(kCore, kAECreateElement,
                  {{keyAEObjectClass, Code(typeType, FourCC("atts"))},
                   {keyAEInsertHere, location},
                   {keyAEPropData, Record(typeAERecord, {{FourCC("atfn"), Alias(path)}})}});
  }
  SInt32 SendMessage(const Desc &message) {
    return Answer(FourCC("emsg"), FourCC("send"), {{keyDirectObject, message}});
  }
  // The message's 'ID  ', or the error that says it has gone.
  SInt32 ID(const Desc &message) {
    Desc reply;
    EXPECT_EQ(Send(kCore, kAEGetData, {{keyDirectObject, Property(FourCC("ID  "), message)}}, &reply), noErr);
    SInt32 id = 0;
    DescType type;
    Size size;
    return AEGetParamPtr(&reply.d, keyDirectObject, typeSInt32, &type, &id, 4, &size) == noErr
               ? id
               : ReplyError(reply);
  }
};

TEST_F(MailAppTest, MakesMessagesWithRecipientsAndAttachmentsAndSendsThem) {
  Launch("Mail", FourCC("emal"), kAccounts);
  std::string files = Files();
  SInt32 error = 0;
  Desc one = Message({{FourCC("subj"), Text(kUTF8Subject, typeUTF8Text)}});
  EXPECT_EQ(Recipient(one, FourCC("trcp"), "", "ann@example.com"), 0);
  EXPECT_EQ(Attach(one, files + "/notes.txt"), 0);
  EXPECT_GT(ID(one), 0);
  EXPECT_EQ(SendMessage(one), 0);
  EXPECT_EQ(ID(one), errAENoSuchObject);  // sent: gone
  Desc missing = Message({{FourCC("subj"), Text("Missing file")}});
  EXPECT_EQ(Attach(missing, files + "/gone.pdf"), fnfErr);
  EXPECT_EQ(Attach(missing, files), notAFileErr);
  EXPECT_EQ(SendMessage(missing), 0);
  Desc draft = Message({{FourCC("subj"), Text("Draft")}, {FourCC("pvis"), True()}});
  EXPECT_EQ(Recipient(draft, FourCC("trcp"), "", "ann@example.com"), 0);

  // A sender that is no account's address makes no message at all.
  Desc refused = Message({{FourCC("sndr"), Text("Eve <eve@example.com>")}}, &error);
  EXPECT_EQ(error, errAENoSuchObject);
  EXPECT_EQ(refused.d.descriptorType, typeNull);
  Quit();
  ExpectMailMatches("Mail");
}

class OutlookTest : public MessageClient {
 protected:
  Desc Message(Keyed properties, bool wait = true, SInt32 *error = nullptr) {
    return Make({{keyAEObjectClass, Code(typeType, FourCC("outm"))},
                 {keyAEInsertHere, Property(FourCC("pOtB"), Desc())},
                 {keyAEPropData, Record(typeAERecord, properties)}},
                error, wait);
  }
  static Desc Recipient(const std::string &address, OSType kind) {
    return Record(typeAERecord, {{FourCC("addr"), Text(address)}, {FourCC("rtyp"), Enum(kind)}});
  }
  static Desc Account(OSType kind, const std::string &name) { return Obj(formName, kind, Text(name)); }
};

TEST_F(OutlookTest, MakesMessagesInTheOutBox) {
  Launch("Outlook Express", FourCC("MSNM"), kAccounts);
  std::string files = Files();
  SInt32 error = 0;
  // Account names are matched whatever their case.
  Message({{FourCC("subj"), Text(kUTF8Subject, typeUTF8Text)},
           {FourCC("rcpt"), List({Recipient("ann@example.com", FourCC("!to "))})},
           {FourCC("cAtc"), List({Text(files + "/notes.txt")})},
           {FourCC("cAct"), Account(FourCC("popA"), "wORK")}},
          true, &error);
  EXPECT_EQ(error, 0);
  Message({{FourCC("subj"), Text("Missing file")}, {FourCC("cAtc"), List({Text(files + "/gone.pdf")})}}, true,
          &error);
  EXPECT_EQ(error, fnfErr);
  Message({{FourCC("subj"), Text("Missing file")}}, false);
  Desc draft = Message({{FourCC("subj"), Text("Draft")},
                        {FourCC("pHtm"), True()},
                        {FourCC("ctnt"), Text("<p>Hello</p>")},
                        {FourCC("rcpt"), List({Recipient("ann@example.com", FourCC("!to "))})},
                        {FourCC("cAct"), Account(FourCC("impA"), "lab")}});
  EXPECT_EQ(Answer(kCoreEventClass, kAEOpenDocuments, {{keyDirectObject, draft}}), 0);

  // An account of the other kind, or of no kind, is refused: nothing is written.
  Message({{FourCC("subj"), Text("Nobody")}, {FourCC("cAct"), Account(FourCC("impA"), "Work")}}, true,
          &error);
  EXPECT_EQ(error, errAENoSuchObject);
  Message({{FourCC("subj"), Text("Nobody")}, {FourCC("cAct"), Account(FourCC("popA"), "Wor")}}, true, &error);
  EXPECT_EQ(error, errAENoSuchObject);
  Quit();
  ExpectMailMatches("Outlook Express");
}

class PowerMailTest : public MessageClient {
 protected:
  Desc Message(Keyed properties, bool wait = true, SInt32 *error = nullptr) {
    return Make({{keyAEObjectClass, Code(typeType, FourCC("msg "))},
                 {keyAEPropData, Record(typeAERecord, properties)}},
                error, wait);
  }
  static Desc Recipient(const std::string &address, OSType kind) {
    return Record(typeAERecord, {{FourCC("addr"), Text(address)}, {FourCC("rtyp"), Enum(kind)}});
  }
  static Desc File(const std::string &path) {
    return Record(typeAERecord, {{FourCC("file"), Text(path)}, {FourCC("Comp"), Enum(FourCC("eNoC"))}});
  }
};

TEST_F(PowerMailTest, TakesWholeMessagesQueuedOrAsDraftsToOpen) {
  Launch("PowerMail", FourCC("Cmlt"), kAccounts);
  std::string files = Files();
  Desc wait = Enum(FourCC("wait"));
  Message({{FourCC("subj"), Text(kUTF8Subject, typeUTF8Text)},
           {FourCC("cAtc"), List({File(files + "/notes.txt")})},
           {FourCC("rcpt"), List({Recipient("ann@example.com", FourCC("!to "))})},
           {FourCC("stts"), wait}},
          false);
  SInt32 error = 0;
  Message({{FourCC("subj"), Text("Missing file")},
           {FourCC("cAtc"), List({File(files + "/gone.pdf")})},
           {FourCC("stts"), wait}},
          true, &error);
  EXPECT_EQ(error, fnfErr);
  Message({{FourCC("subj"), Text("Missing file")}, {FourCC("stts"), wait}}, false);
  Desc draft = Message({{FourCC("subj"), Text("Draft")},
                        {FourCC("rcpt"), List({Recipient("ann@example.com", FourCC("!to "))})}});
  EXPECT_EQ(Answer(kCoreEventClass, kAEOpenDocuments, {{keyDirectObject, draft}}), 0);
  Message({{FourCC("subj"), Text("Nobody")}, {FourCC("acct"), Text("work")}, {FourCC("stts"), wait}}, true,
          &error);
  EXPECT_EQ(error, errAENoSuchObject);  // exact names only
  Quit();
  ExpectMailMatches("PowerMail");
}

class QuickMailTest : public MessageClient {
 protected:
  void Event(AEEventID id, Keyed params = {}) {
    EXPECT_EQ(Send(FourCC("CeLP"), id, params, nullptr, false), noErr);
  }
  static Desc Recipient(const std::string &name, const std::string &address) {
    if (name.empty()) return Record(typeAERecord, {{FourCC("Addr"), Text(address)}});
    return Record(typeAERecord, {{FourCC("ALst"), Text(name)}, {FourCC("Addr"), Text(address)}});
  }
};

TEST_F(QuickMailTest, ActsOnTheNewMessageInArrivalOrder) {
  Launch("QuickMail", FourCC("CeLP"), kAccounts);
  std::string files = Files();
  Event(FourCC("Actn"), {{keyDirectObject, Enum(FourCC("ActN"))}});  // nothing to send yet: journaled
  Event(FourCC("NewM"));
  Event(FourCC("SetD"), {{keyDirectObject, Text(kUTF8Subject, typeUTF8Text)},
                         {FourCC("ToLs"), List({Recipient("", "ann@example.com")})}});
  Event(FourCC("Eadd"), {{keyDirectObject, Text(files + "/notes.txt")}});
  Event(FourCC("Actn"), {{keyDirectObject, Enum(FourCC("ActN"))}});
  Event(FourCC("NewM"));
  Event(FourCC("SetD"),
        {{keyDirectObject, Text("Draft")}, {FourCC("ToLs"), List({Recipient("", "ann@example.com")})}});
  // A new message while one is open keeps the open one as a draft.
  Event(FourCC("NewM"));
  Event(FourCC("SetD"), {{keyDirectObject, Text("Missing file")}});
  Event(FourCC("Eadd"), {{keyDirectObject, Text(files + "/gone.pdf")}});
  Event(FourCC("Actn"), {{keyDirectObject, Enum(FourCC("ActN"))}});
  Quit();
  std::ifstream journal(data_ + "/journal.log");
  std::string text((std::istreambuf_iterator<char>(journal)), {});
  EXPECT_NE(text.find("# nothing to send (error -1728)"), std::string::npos);
  EXPECT_NE(text.find("# attachment not read: " + files + "/gone.pdf"), std::string::npos);
  ExpectMailMatches("QuickMail");
}

// Events no plug-in sends but a careless or hostile sender might: wrong types, missing parts,
// specifiers of nothing, lists where records belong. Each client answers an error (or, for
// QuickMail, journals it), writes nothing, and goes on serving.
class BadEventsTest : public MessageClient,
                      public ::testing::WithParamInterface<std::pair<const char *, OSType>> {};

TEST_P(BadEventsTest, AreRefusedWithoutHarm) {
  auto [name, creator] = GetParam();
  Launch(name, creator, kAccounts);
  Desc garbage = Text(std::string("\0\xff\r\n", 4) + std::string(40000, 'x'));
  Desc nothing = Obj(formUniqueID, FourCC("bcke"), Long(77));
  Desc list = List({garbage, Long(1)});
  const std::pair<AEEventClass, AEEventID> events[] = {
      {kCore, kAECreateElement},           {kCore, kAEGetData},
      {kCoreEventClass, kAEOpenDocuments}, {FourCC("emsg"), FourCC("send")},
      {FourCC("CeLP"), FourCC("SetD")},    {FourCC("CeLP"), FourCC("Eadd")}};
  const Keyed params[] = {
      {},
      {{keyDirectObject, garbage}},
      {{keyDirectObject, nothing}},
      {{keyAEObjectClass, Code(typeType, FourCC("outm"))}, {keyAEPropData, list}},
      {{keyAEObjectClass, Code(typeType, FourCC("msg "))},
       {keyAEPropData, Record(typeAERecord, {{FourCC("rcpt"), list}, {FourCC("cAtc"), garbage}})}},
      {{keyAEObjectClass, Code(typeType, FourCC("rcpt"))}, {keyAEInsertHere, nothing}},
      {{keyAEObjectClass, Code(typeType, FourCC("atts"))},
       {keyAEInsertHere, Record(typeInsertionLoc, {{keyAEObject, garbage}})}},
      {{FourCC("ToLs"), list}, {keyDirectObject, list}},
  };
  for (const auto &[eventClass, id] : events)
    for (const Keyed &keyed : params) Answer(eventClass, id, keyed);
  Desc reply;
  EXPECT_EQ(Send(kCore, kAEGetData, {{keyDirectObject, garbage}}, &reply), noErr)
      << name << " stopped serving";
  Quit();
  EXPECT_TRUE(std::filesystem::is_empty(data_ + "/outbox/new"));
}

INSTANTIATE_TEST_SUITE_P(EveryNewClient, BadEventsTest,
                         ::testing::Values(std::pair{"Mail", FourCC("emal")},
                                           std::pair{"Outlook Express", FourCC("MSNM")},
                                           std::pair{"PowerMail", FourCC("Cmlt")},
                                           std::pair{"QuickMail", FourCC("CeLP")}));
