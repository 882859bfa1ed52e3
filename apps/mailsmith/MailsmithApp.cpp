// Mailsmith: the stand-in for Bare Bones Mailsmith, creator 'BLTO'. Its object model is
// the open message windows ('mWnd', by unique ID or by index), each with the properties
// 'pcnt' (the body), 'subj' and 'SeAc' (the sending account), recipient elements '!to ',
// '!cc ' and '!bcc', and enclosures ('Encl'); and the accounts of the accounts file
// ('Mact'). Events:
//   'core'/'crel'  a message window (answers its specifier), a recipient of a window
//                  ('prdt' {'Addr': text}) or an enclosure ('prdt' {'file': path, 'Encd':
//                  'eB64' (the default), 'eHQX', 'eUUc', 'eApS' or 'eApD'}; fnfErr when the
//                  file is missing)
//   'core'/'setd'  a window's 'pcnt', 'subj' or 'SeAc' (an account of that name; a name
//                  no account has answers errAENoSuchObject and the message is then refused)
//   'core'/'getd'  the name ('pnam') of every account, or of account n
//   'mail'/'queu'  queues the window's message (written to the outbox) and closes it; when
//                  an enclosure can no longer be read and the sender does not wait, the
//                  message goes to drafts without it (MailClientWriteKeeping)
// Windows still open when Mailsmith quits are kept as drafts, likewise.
#include <MacErrors.h>

#include <iterator>
#include <map>
#include <vector>

#include "apps/kit/StandInApp.h"
#include "apps/mailstore/MailAddress.h"
#include "apps/mailstore/MailClient.h"
#include "apps/mailstore/MailEvents.h"

namespace {

constexpr OSType kCreator = FourCC("BLTO");
constexpr DescType cWindow = FourCC("mWnd");
constexpr DescType cAccount = FourCC("Mact");
constexpr DescType cEnclosure = FourCC("Encl");
constexpr DescType cTo = FourCC("!to ");
constexpr DescType cCc = FourCC("!cc ");
constexpr DescType cBcc = FourCC("!bcc");
constexpr DescType pContents = FourCC("pcnt");
constexpr DescType pSubject = FourCC("subj");
constexpr DescType pSendingAccount = FourCC("SeAc");
constexpr AEKeyword keyAddress = FourCC("Addr");
constexpr AEKeyword keyFile = FourCC("file");
constexpr AEKeyword keyEncoding = FourCC("Encd");
constexpr AEEventClass kMailClass = FourCC("mail");
constexpr AEEventID kQueue = FourCC("queu");

// Mailsmith's enclosure encodings; Base64 when the enclosure names none or another.
AttachmentEncoding EncodingOf(OSType code) {
  if (code == FourCC("eApD")) return AttachmentEncoding::appleDouble;
  if (code == FourCC("eApS")) return AttachmentEncoding::appleSingle;
  if (code == FourCC("eHQX")) return AttachmentEncoding::binHex;
  if (code == FourCC("eUUc")) return AttachmentEncoding::uuencode;
  return AttachmentEncoding::base64;
}

struct Mailsmith {
  MailClient client;
  std::map<SInt32, MailMessage> windows;  // open windows by ID, oldest first
  SInt32 nextID = 1;
};

OSErr ResolveWindow(Mailsmith &mailsmith, const AEDesc &specifier, MailMessage **window) {
  ObjectParts parts;
  OSErr err = ReadObjectSpecifier(specifier, &parts);
  if (err == noErr && (parts.want != cWindow || parts.from.type() != typeNull)) err = errAENoSuchObject;
  if (err != noErr) return err;
  auto found = mailsmith.windows.end();
  SInt32 id = 0;
  if (parts.form == formUniqueID && DescToLong(*parts.seld, &id) == noErr) found = mailsmith.windows.find(id);
  long index = 0;
  bool all = false;
  if (parts.form == formAbsolutePosition &&
      ReadIndexSelector(*parts.seld, static_cast<long>(mailsmith.windows.size()), &index, &all) == noErr &&
      !all)
    found = std::next(mailsmith.windows.begin(), index - 1);
  if (found == mailsmith.windows.end()) return errAENoSuchObject;
  *window = &found->second;
  return noErr;
}

OSErr ResolveParamWindow(Mailsmith &mailsmith, const AppleEvent &event, AEKeyword key, MailMessage **window) {
  OwnedDesc specifier;
  OSErr err = AEGetParamDesc(&event, key, typeWildCard, specifier.get());
  return err != noErr ? err : ResolveWindow(mailsmith, *specifier, window);
}

OSErr CreateWindow(Mailsmith &mailsmith, AppleEvent &reply) {
  SInt32 id = mailsmith.nextID++;
  mailsmith.windows.emplace(id, MailMessage{});
  if (!WantsReply(reply)) return noErr;
  OwnedDesc specifier;
  OSErr err =
      MakeObjectSpecifier(formUniqueID, cWindow, typeSInt32, &id, sizeof id, nullptr, specifier.get());
  return err != noErr ? err : AEPutParamDesc(&reply, keyDirectObject, specifier.get());
}

// A recipient or an enclosure, inserted into the window 'insh' names, described by 'prdt'.
OSErr CreateWindowElement(Mailsmith &mailsmith, DescType kind, const AppleEvent &event) {
  MailMessage *window = nullptr;
  OwnedDesc properties;
  OSErr err = ResolveParamWindow(mailsmith, event, keyAEInsertHere, &window);
  if (err == noErr) err = AEGetParamDesc(&event, keyAEPropData, typeAERecord, properties.get());
  std::string text;
  if (err == noErr) err = GetKeyUTF8(*properties, kind == cEnclosure ? keyFile : keyAddress, &text);
  if (err != noErr) return err;
  if (kind == cEnclosure) {
    err = CheckAttachmentPath(text);
    if (err == noErr) window->attachments.push_back(std::move(text));
    OSType encoding = 0;
    if (err == noErr && GetKeyCode(*properties, keyEncoding, &encoding) == noErr)
      window->encoding = EncodingOf(encoding);
    return err;
  }
  std::vector<MailAddress> *list = RecipientList(*window, kind);
  for (MailAddress &mailbox : ParseAddressList(text)) list->push_back(std::move(mailbox));
  return noErr;
}

OSErr Create(Mailsmith &mailsmith, const AppleEvent &event, AppleEvent &reply) {
  DescType kind = 0, type;
  Size size;
  OSErr err = AEGetParamPtr(&event, keyAEObjectClass, typeType, &type, &kind, sizeof kind, &size);
  if (err != noErr) return err;
  if (kind == cWindow) return CreateWindow(mailsmith, reply);
  if (kind == cEnclosure || kind == cTo || kind == cCc || kind == cBcc)
    return CreateWindowElement(mailsmith, kind, event);
  return errAECantHandleClass;
}

OSErr SetData(Mailsmith &mailsmith, const AppleEvent &event, AppleEvent &) {
  OwnedDesc direct;
  ObjectParts parts;
  OSType property = 0;
  MailMessage *window = nullptr;
  std::string value;
  OSErr err = AEGetParamDesc(&event, keyDirectObject, typeWildCard, direct.get());
  if (err == noErr) err = ReadObjectSpecifier(*direct, &parts);
  if (err == noErr) err = PropertyOf(parts, &property);
  if (err == noErr) err = ResolveWindow(mailsmith, *parts.from, &window);
  if (err == noErr) err = GetParamUTF8(event, keyAEData, &value);
  if (err != noErr) return err;
  if (property == pSendingAccount) {
    // Kept even when unknown, so that the message is refused rather than sent from another.
    bool known = FindMailAccount(mailsmith.client.config, value) != nullptr;
    window->account = std::move(value);
    return known ? OSErr(noErr) : OSErr(errAENoSuchObject);
  }
  if (property == pContents)
    window->body = std::move(value);
  else if (property == pSubject)
    window->subject = std::move(value);
  else
    return errAENoSuchObject;
  return noErr;
}

// 'pnam' of obj(form 'indx', want 'Mact', seld n or all).
OSErr GetData(Mailsmith &mailsmith, const AppleEvent &event, AppleEvent &reply) {
  ObjectParts accounts;
  OSType property = 0;
  OSErr err = ReadPropertyQuestion(event, &property, &accounts);
  if (err == noErr && (property != pName || accounts.want != cAccount)) err = errAENoSuchObject;
  if (err != noErr) return err;
  std::vector<std::string> names;
  for (const MailAccount &account : mailsmith.client.config.accounts) names.push_back(account.name);
  return AnswerIndexedNames(accounts, names, reply);
}

// Writes a message that no one waits for, never dropping it for an enclosure.
OSErr WriteKeeping(Mailsmith &mailsmith, const MailMessage &message, MailFolder folder) {
  return MailClientWriteFor(mailsmith.client, "Mailsmith", message, folder, false, {});
}

OSErr Queue(Mailsmith &mailsmith, const AppleEvent &event, AppleEvent &reply) {
  MailMessage *window = nullptr;
  OSErr err = ResolveParamWindow(mailsmith, event, keyDirectObject, &window);
  if (err != noErr) return err;
  if (WantsReply(reply)) {
    err = MailClientWrite(mailsmith.client, *window, MailFolder::outbox);
  } else {
    err = WriteKeeping(mailsmith, *window, MailFolder::outbox);
  }
  if (err != noErr) return err;
  for (auto at = mailsmith.windows.begin(); at != mailsmith.windows.end(); ++at) {
    if (&at->second != window) continue;
    mailsmith.windows.erase(at);
    break;
  }
  return noErr;
}

void InstallHandlers(standin::StandInApp &app, Mailsmith &mailsmith) {
  OpenMailClient(app.DataFolder(), {}, &mailsmith.client);
  app.InstallEventHandler(kAECoreSuite, kAECreateElement, mailsmith, Create);
  app.InstallEventHandler(kAECoreSuite, kAESetData, mailsmith, SetData);
  app.InstallEventHandler(kAECoreSuite, kAEGetData, mailsmith, GetData);
  app.InstallEventHandler(kMailClass, kQueue, mailsmith, Queue);
}

}  // namespace

int main(int argc, char **argv) {
  Mailsmith mailsmith;
  int status =
      standin::StandInMain(argc, argv, kCreator, "Mailsmith",
                           [&mailsmith](standin::StandInApp &app) { InstallHandlers(app, mailsmith); });
  for (const auto &[id, window] : mailsmith.windows) WriteKeeping(mailsmith, window, MailFolder::drafts);
  CloseMailClient(&mailsmith.client);
  return status;
}
