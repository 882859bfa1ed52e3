// Scripted test clients: small stand-ins for Apple Mail, Outlook Express, Entourage and
// Eudora that answer only the queries a connection makes when it opens and closes. One
// source, built once per client with its creator code and name.
//
// What a client knows comes from script.txt in its data folder, read at start, one
// directive per line, fields separated by tabs:
//   account <name> <full name> [<address> ...]   an Apple Mail account ('mact')
//   pop <name>                                    a POP account ('popA')
//   imap <name>                                   an IMAP account ('impA')
//   names <class> <name>                          an object of any other class with that name
//                                                 (Eudora personalities 'euPr' by number too)
//   ghost <name>                                  an Apple Mail account listed by name only
//   setting <number> <text>                       a Eudora setting ('ePrf'); absent: no such object
//   silent <class>                                queries about this class get no direct parameter
//   die <class>                                   a query about this class ends the process
#include <MacErrors.h>

#include <unistd.h>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "apps/kit/StandInApp.h"

namespace {

struct Account {
  std::string name;
  std::string fullName;
  std::vector<std::string> addresses;
};

struct Script {
  std::vector<Account> mailAccounts;
  std::vector<std::string> ghosts;                          // listed after the accounts, with no properties
  std::map<OSType, std::vector<std::string>> accountNames;  // 'popA', 'impA'
  std::map<SInt32, std::string> settings;
  std::vector<OSType> silent;
  std::vector<OSType> fatal;
};

OSType CodeOf(const std::string &text) {
  std::string padded = (text + "    ").substr(0, 4);
  return FourCC({padded[0], padded[1], padded[2], padded[3], 0});
}

std::vector<std::string> SplitTabs(const std::string &line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
    fields.push_back(line.substr(start, tab - start));
  }
  fields.push_back(line.substr(start));
  return fields;
}

Script ReadScript(const std::string &path) {
  Script script;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f = SplitTabs(line);
    if (f.size() >= 3 && f[0] == "account") {
      script.mailAccounts.push_back({f[1], f[2], std::vector<std::string>(f.begin() + 3, f.end())});
    } else if (f.size() == 2 && f[0] == "ghost") {
      script.ghosts.push_back(f[1]);
    } else if (f.size() == 2 && f[0] == "pop") {
      script.accountNames[FourCC("popA")].push_back(f[1]);
    } else if (f.size() == 2 && f[0] == "imap") {
      script.accountNames[FourCC("impA")].push_back(f[1]);
    } else if (f.size() == 3 && f[0] == "names") {
      script.accountNames[CodeOf(f[1])].push_back(f[2]);
    } else if (f.size() == 3 && f[0] == "setting") {
      script.settings[SInt32(std::stol(f[1]))] = f[2];
    } else if (f.size() == 2 && f[0] == "silent") {
      script.silent.push_back(CodeOf(f[1]));
    } else if (f.size() == 2 && f[0] == "die") {
      script.fatal.push_back(CodeOf(f[1]));
    }
  }
  return script;
}

bool Contains(const std::vector<OSType> &codes, OSType code) {
  for (OSType c : codes) {
    if (c == code) return true;
  }
  return false;
}

// An object specifier taken apart: form, class, selector and container.
struct Specifier {
  OSType form = 0;
  OSType want = 0;
  AEDesc seld{typeNull, nullptr};
  AEDesc from{typeNull, nullptr};
  ~Specifier() {
    AEDisposeDesc(&seld);
    AEDisposeDesc(&from);
  }
};

OSErr ReadSpecifier(const AEDesc &record, Specifier *spec) {
  DescType type;
  Size size;
  OSErr err = AEGetKeyPtr(&record, keyAEKeyForm, typeEnumerated, &type, &spec->form, 4, &size);
  if (err == noErr) err = AEGetKeyPtr(&record, keyAEDesiredClass, typeType, &type, &spec->want, 4, &size);
  if (err == noErr) err = AEGetKeyDesc(&record, keyAEKeyData, typeWildCard, &spec->seld);
  if (err == noErr) err = AEGetKeyDesc(&record, keyAEContainer, typeWildCard, &spec->from);
  return err;
}

std::string TextOf(const AEDesc &desc) {
  AEDesc text;
  if (AECoerceDesc(&desc, typeChar, &text) != noErr) return {};
  std::string value(size_t(AEGetDescDataSize(&text)), '\0');
  AEGetDescData(&text, value.data(), Size(value.size()));
  AEDisposeDesc(&text);
  return value;
}

OSErr PutTextList(AppleEvent &reply, const std::vector<std::string> &items) {
  AEDescList list;
  OSErr err = AECreateList(nullptr, 0, false, &list);
  for (size_t i = 0; err == noErr && i < items.size(); ++i) {
    err = AEPutPtr(&list, 0, typeChar, items[i].data(), Size(items[i].size()));
  }
  if (err == noErr) err = AEPutParamDesc(&reply, keyDirectObject, &list);
  AEDisposeDesc(&list);
  return err;
}

class TestClient {
 public:
  TestClient(standin::StandInApp &app) : app_(app), script_(ReadScript(app.DataFolder() + "/script.txt")) {}

  void Install() {
    app_.InstallEventHandler(kAECoreSuite, kAEGetData, [this](const AppleEvent &event, AppleEvent &reply) {
      return GetData(event, reply);
    });
    app_.InstallEventHandler(kAECoreSuite, kAESetData,
                             [this](const AppleEvent &event, AppleEvent &) { return SetData(event); });
  }

 private:
  // 'getd' of 'pnam' of every account of a class, of a property of a named account, or
  // of a setting by number.
  OSErr GetData(const AppleEvent &event, AppleEvent &reply) {
    AEDesc direct;
    OSErr err = AEGetParamDesc(&event, keyDirectObject, typeAERecord, &direct);
    if (err != noErr) return err;
    Specifier outer;
    err = ReadSpecifier(direct, &outer);
    AEDisposeDesc(&direct);
    if (err != noErr) return err;
    if (outer.want == FourCC("ePrf")) return GetSetting(outer, reply);
    Specifier container;
    AEDesc record;
    err = AECoerceDesc(&outer.from, typeAERecord, &record);
    if (err != noErr) return err;
    err = ReadSpecifier(record, &container);
    AEDisposeDesc(&record);
    if (err != noErr) return err;
    if (Contains(script_.fatal, container.want)) _exit(4);
    if (Contains(script_.silent, container.want)) return noErr;
    OSType property = 0;
    if (AEGetDescData(&outer.seld, &property, 4) != noErr) return errAENoSuchObject;
    if (container.form == formAbsolutePosition && container.seld.descriptorType == typeSInt32) {
      return GetNthName(container.want, container.seld, property, reply);
    }
    if (container.form == formAbsolutePosition) return GetAllNames(container.want, property, reply);
    return GetAccountProperty(TextOf(container.seld), property, reply);
  }

  OSErr GetAllNames(OSType objectClass, OSType property, AppleEvent &reply) {
    if (property != pName) return errAENoSuchObject;
    std::vector<std::string> names;
    if (objectClass == FourCC("mact")) {
      for (const Account &account : script_.mailAccounts) names.push_back(account.name);
      names.insert(names.end(), script_.ghosts.begin(), script_.ghosts.end());
    } else {
      names = script_.accountNames[objectClass];
    }
    return PutTextList(reply, names);
  }

  // The name of object n (from 1) of the class; no such object past the last.
  OSErr GetNthName(OSType objectClass, const AEDesc &selector, OSType property, AppleEvent &reply) {
    SInt32 n = 0;
    const std::vector<std::string> &names = script_.accountNames[objectClass];
    if (property != pName || AEGetDescData(&selector, &n, 4) != noErr || n < 1 || size_t(n) > names.size()) {
      return errAENoSuchObject;
    }
    return standin::PutTextParam(reply, keyDirectObject, names[size_t(n) - 1]);
  }

  OSErr GetAccountProperty(const std::string &name, OSType property, AppleEvent &reply) {
    for (const Account &account : script_.mailAccounts) {
      if (account.name != name) continue;
      if (property == FourCC("flln")) return standin::PutTextParam(reply, keyDirectObject, account.fullName);
      if (property == FourCC("emad")) return PutTextList(reply, account.addresses);
    }
    return errAENoSuchObject;
  }

  OSErr GetSetting(const Specifier &spec, AppleEvent &reply) {
    SInt32 number = 0;
    if (AEGetDescData(&spec.seld, &number, 4) != noErr) return errAENoSuchObject;
    auto found = script_.settings.find(number);
    if (found == script_.settings.end()) return errAENoSuchObject;
    return standin::PutTextParam(reply, keyDirectObject, found->second);
  }

  OSErr SetData(const AppleEvent &event) {
    AEDesc direct;
    OSErr err = AEGetParamDesc(&event, keyDirectObject, typeAERecord, &direct);
    if (err != noErr) return err;
    Specifier spec;
    err = ReadSpecifier(direct, &spec);
    AEDisposeDesc(&direct);
    SInt32 number = 0;
    if (err == noErr && spec.want != FourCC("ePrf")) err = errAENoSuchObject;
    if (err == noErr) err = AEGetDescData(&spec.seld, &number, 4);
    std::string value;
    if (err == noErr) err = standin::GetTextParam(event, keyAEData, &value);
    if (err != noErr) return err;
    script_.settings[number] = value;
    return noErr;
  }

  standin::StandInApp &app_;
  Script script_;
};

}  // namespace

int main(int argc, char **argv) {
  std::unique_ptr<TestClient> client;
  return standin::StandInMain(argc, argv, CodeOf(TESTCLIENT_CREATOR), TESTCLIENT_NAME,
                              [&client](standin::StandInApp &app) {
                                client = std::make_unique<TestClient>(app);
                                client->Install();
                              });
}
