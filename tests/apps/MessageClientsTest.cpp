// The Apple Mail, Outlook Express, PowerMail and QuickMail stand-ins driven through AESend
// with the events the plug-in sends them, each launched on a fresh emulated machine. Every
// client plays the cases standin_reader.py reads back (the full message, an empty one, one
// attachment with UTF-8 texts, a refused file, a draft); the answers of each dialect and its
// refusals of an unknown account are checked here.
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
const std::string kSubject = "Caf\x8e \xd2news\xd3 \xc6\xdb";
const std::string kBody = "Dear Ann,\r\rna\x95ve r\x8esum\x8e, \xc6 5 \xdb.\r";
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

// The names a getd of 'pnam' of every object of a class answers, joined by commas.
class MessageClient : public StandInClient {
 protected:
  std::string Names(DescType objectClass) {
    Desc reply, names;
    EXPECT_EQ(
        Send(kCore, kAEGetData,
             {{keyDirectObject, Property(pName, Obj(formAbsolutePosition, objectClass, All()))}}, &reply),
        noErr);
    if (AEGetParamDesc(&reply.d, keyDirectObject, typeAEList, &names.d) != noErr) return "<none>";
    long count = 0;
    AECountItems(&names.d, &count);
    std::string joined;
    for (long i = 1; i <= count; i++) {
      char name[256];
      Size size = 0;
      DescType type;
      AEKeyword key;
      AEGetNthPtr(&names.d, i, typeChar, &key, &type, name, sizeof name, &size);
      joined += (i > 1 ? "," : "") + std::string(name, size_t(size));
    }
    return joined;
  }
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
  EXPECT_EQ(Names(FourCC("mact")), "Home,Work,Lab");
  Desc reply;
  ASSERT_EQ(Send(kCore, kAEGetData,
                 {{keyDirectObject, Property(FourCC("flln"), Obj(formName, FourCC("mact"), Text("Work")))}},
                 &reply),
            noErr);
  EXPECT_EQ(ReplyText(reply), "Ann Work");

  SInt32 error = 0;
  Desc full = Message({{FourCC("ctnt"), Text(kBody)},
                       {FourCC("subj"), Text(kSubject)},
                       {FourCC("sndr"), Text("Ann Work <ANN@work.example>")}});
  EXPECT_EQ(Recipient(full, FourCC("trcp"), "Ann Lee", "ann@example.com"), 0);
  EXPECT_EQ(Recipient(full, FourCC("trcp"), "B\x9arje", "borje@example.com"), 0);
  EXPECT_EQ(Recipient(full, FourCC("crcp"), "", "carl@example.com"), 0);
  EXPECT_EQ(Recipient(full, FourCC("brcp"), "Dora", "dora@example.com"), 0);
  EXPECT_EQ(Attach(full, files + "/notes.txt"), 0);
  EXPECT_EQ(Attach(full, files + "/data.bin"), 0);
  SInt32 id = ID(full);
  EXPECT_GT(id, 0);
  EXPECT_EQ(SendMessage(full), 0);
  EXPECT_EQ(ID(full), errAENoSuchObject);  // sent: gone
  EXPECT_EQ(SendMessage(Message({})), 0);

  Desc one = Message({{FourCC("subj"), Text(kUTF8Subject, typeUTF8Text)}});
  EXPECT_EQ(Recipient(one, FourCC("trcp"), "", "ann@example.com"), 0);
  EXPECT_EQ(Attach(one, files + "/notes.txt"), 0);
  EXPECT_EQ(SendMessage(one), 0);
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

TEST_F(OutlookTest, ListsPOPThenIMAPAccountsAndMakesMessagesInTheOutBox) {
  Launch("Outlook Express", FourCC("MSNM"), kAccounts);
  std::string files = Files();
  EXPECT_EQ(Names(FourCC("popA")), "Home,Work");
  EXPECT_EQ(Names(FourCC("impA")), "Lab");
  Message({{FourCC("ctnt"), Text(kBody)},
           {FourCC("subj"), Text(kSubject)},
           {FourCC("rcpt"), List({Recipient("ann@example.com (Ann Lee)", FourCC("!to ")),
                                  Recipient("borje@example.com (B\x9arje)", FourCC("!to ")),
                                  Recipient("carl@example.com", FourCC("!cc ")),
                                  Recipient("dora@example.com (Dora)", FourCC("!bcc"))})},
           {FourCC("cAtc"), List({Text(files + "/notes.txt"), Text(files + "/data.bin")})},
           {FourCC("Encd"), Enum(FourCC("eUUE"))},
           {FourCC("Cmpr"), Enum(FourCC("cmSt"))},
           {FourCC("cAct"), Account(FourCC("popA"), "wORK")}},
          false);
  Message({}, false);
  Message({{FourCC("subj"), Text(kUTF8Subject, typeUTF8Text)},
           {FourCC("rcpt"), List({Recipient("ann@example.com", FourCC("!to "))})},
           {FourCC("cAtc"), List({Text(files + "/notes.txt")})}},
          false);
  SInt32 error = 0;
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
  static Desc File(const std::string &path, OSType encoding) {
    return encoding
               ? Record(typeAERecord, {{FourCC("file"), Text(path)},
                                       {FourCC("Encd"), Enum(encoding)},
                                       {FourCC("Comp"), Enum(FourCC("eNoC"))}})
               : Record(typeAERecord, {{FourCC("file"), Text(path)}, {FourCC("Comp"), Enum(FourCC("eNoC"))}});
  }
};

TEST_F(PowerMailTest, TakesWholeMessagesQueuedOrAsDraftsToOpen) {
  Launch("PowerMail", FourCC("Cmlt"), kAccounts);
  std::string files = Files();
  EXPECT_EQ(Names(FourCC("acct")), "Home,Work,Lab");
  Desc wait = Enum(FourCC("wait"));
  Message({{FourCC("ctnt"), Text(kBody)},
           {FourCC("subj"), Text(kSubject)},
           {FourCC("cAtc"),
            List({File(files + "/notes.txt", FourCC("eBnH")), File(files + "/data.bin", FourCC("eBnH"))})},
           {FourCC("rcpt"), List({Recipient("Ann Lee <ann@example.com>", FourCC("!to ")),
                                  Recipient("B\x9arje <borje@example.com>", FourCC("!to ")),
                                  Recipient("carl@example.com", FourCC("!cc ")),
                                  Recipient("Dora <dora@example.com>", FourCC("!bcc"))})},
           {FourCC("acct"), Text("Work")},
           {FourCC("stts"), wait}},
          false);
  Message({{FourCC("rcpt"), List({})}, {FourCC("stts"), wait}}, false);
  Message({{FourCC("subj"), Text(kUTF8Subject, typeUTF8Text)},
           {FourCC("cAtc"), List({File(files + "/notes.txt", 0)})},
           {FourCC("rcpt"), List({Recipient("ann@example.com", FourCC("!to "))})},
           {FourCC("stts"), wait}},
          false);
  SInt32 error = 0;
  Message({{FourCC("subj"), Text("Missing file")},
           {FourCC("cAtc"), List({File(files + "/gone.pdf", 0)})},
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
  Event(FourCC("SetD"), {{FourCC("Body"), Text(kBody)},
                         {keyDirectObject, Text(kSubject)},
                         {FourCC("ToLs"), List({Recipient("Ann Lee", "ann@example.com"),
                                                Recipient("B\x9arje", "borje@example.com")})},
                         {FourCC("CcLs"), List({Recipient("", "carl@example.com")})},
                         {FourCC("BcLs"), List({Recipient("Dora", "dora@example.com")})}});
  Event(FourCC("Eadd"), {{keyDirectObject, Text(files + "/notes.txt")}});
  Event(FourCC("Eadd"), {{keyDirectObject, Text(files + "/data.bin")}});
  Event(FourCC("Actn"), {{keyDirectObject, Enum(FourCC("ActN"))}});
  Event(FourCC("NewM"));
  Event(FourCC("SetD"));
  Event(FourCC("Actn"), {{keyDirectObject, Enum(FourCC("ActN"))}});
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
