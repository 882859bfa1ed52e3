// Account discovery: the per-client queries and the text made of their answers.
#include "clients/AccountDiscovery.h"

#include <AppleEvents.h>
#include <MacErrors.h>
#include <Processes.h>

#include "clients/ClientConnection.h"
#include "clients/EmailClients.h"
#include "clients/ObjectQueries.h"
#include "support/ErrorReporting.h"
#include "support/MemoryBuffer.h"

namespace {

constexpr SInt32 kMostPersonalities = 256;

SInt32 GetAllNames(EmailClientConnection *connection, AEDesc *result, DescType objectClass) {
  return GetPropertiesOfIndexedObjects(&connection->process, result, pName, objectClass, typeAbsoluteOrdinal,
                                       kAEAll);
}

// POP names, then IMAP names; a query that fails leaves its names out.
SInt32 GetOutlookAccountNames(EmailClientConnection *connection, AEDescList *list) {
  if (GetAllNames(connection, list, FourCC("popA")) != noErr) {
    SInt32 err = AECreateList(nullptr, 0, false, list);
    if (err != noErr) return err;
  }
  AEDescList imap;
  if (GetAllNames(connection, &imap, FourCC("impA")) != noErr) return noErr;
  long count = 0;
  OSErr err = AECountItems(&imap, &count);
  for (long index = 1; err == noErr && index <= count; index++) {
    AEKeyword key;
    AEDesc item;
    AEInitializeDesc(&item);
    err = AEGetNthDesc(&imap, index, typeWildCard, &key, &item);
    if (err == noErr) err = AEPutDesc(list, 0, &item);
    AEDisposeDesc(&item);
  }
  AEDisposeDesc(&imap);
  return noErr;
}

// Personality 1, 2, ... until an answer is not text. On failure the list is released.
SInt32 GetEudoraPersonalities(EmailClientConnection *connection, AEDescList *list) {
  SInt32 err = AECreateList(nullptr, 0, false, list);
  if (err != noErr) return err;
  for (SInt32 n = 1; n <= kMostPersonalities; n++) {
    AEDesc item;
    err = GetPropertiesOfIndexedObjects(&connection->process, &item, pName, FourCC("euPr"), typeSInt32,
                                        UInt32(n));
    if (err != noErr) break;
    if (item.descriptorType != typeChar) {
      AEDisposeDesc(&item);
      return noErr;
    }
    err = AEPutDesc(list, 0, &item);
    AEDisposeDesc(&item);
    if (err != noErr) break;
  }
  if (err != noErr) AEDisposeDesc(list);
  return err;
}

// The names of the temporary or open connection's client as text.
Handle AccountsOf(EmailClientConnection *connection) {
  AEDescList names;
  AEInitializeDesc(&names);
  if (GetEmailClientAccountNames(connection, &names) != noErr) return nullptr;
  Handle text = AccountNamesToText(&names);
  AEDisposeDesc(&names);
  return text;
}

}  // namespace

SInt32 GetEmailClientAccountNames(EmailClientConnection *connection, AEDescList *list) {
  switch (connection->signature) {
    case kMailsmithCreator:
      return GetAllNames(connection, list, FourCC("Mact"));
    case kPowerMailCreator:
      return GetAllNames(connection, list, FourCC("acct"));
    case kMailAppCreator:
      return GetAllNames(connection, list, FourCC("mact"));
    case kOutlookExpressCreator:
    case kEntourageCreator:
      return GetOutlookAccountNames(connection, list);
    case kEudoraCreator:
      return GetEudoraPersonalities(connection, list);
    case kQuickMailCreator:
    case kEmailerCreator:
      return errAEEventNotHandled;
    default:
      return 1;
  }
}

Handle AccountNamesToText(const AEDescList *names) {
  long count = 0;
  MemoryBuffer buffer;
  if (AECountItems(names, &count) != noErr || CreateMemoryBuffer(&buffer) != noErr) return nullptr;
  OSErr status = noErr;
  for (long index = 1; status == noErr && index <= count; index++) {
    char name[kLongestAccountName];
    AEKeyword key;
    DescType type;
    Size size = 0;
    status = AEGetNthPtr(names, index, typeChar, &key, &type, name, kLongestAccountName, &size);
    if (status != noErr || size > kLongestAccountName) break;
    status = WriteMemoryBuffer(&buffer, name, UInt32(size));
    const char lineEnd = 13;
    if (status == noErr) status = WriteMemoryBuffer(&buffer, &lineEnd, 1);
  }
  // A text without its NUL would be read past its end.
  const char terminator = 0;
  if (status == noErr) status = WriteMemoryBuffer(&buffer, &terminator, 1);
  Handle text = CloseMemoryBuffer(&buffer);
  if (status == noErr) return text;
  DestroyHandleFinal(text);
  return nullptr;
}

Handle GetEmailClientAccounts(const char *name, EmailClientConnection *open) {
  if (open != nullptr) return AccountsOf(open);
  OSType creator = FindEmailClientCreator(name);
  if (creator == 0) return nullptr;
  EmailClientInfo info;
  GetEmailClientInformation(creator, &info);
  if (!info.available) return nullptr;
  EmailClientConnection *temporary = nullptr;
  if (OpenEmailClientConnection(creator, &temporary) != noErr) return nullptr;
  Handle text = AccountsOf(temporary);
  CloseEmailClientConnection(temporary);
  ProcessSerialNumber host;
  if (GetCurrentProcess(&host) == noErr) SetFrontProcess(&host);
  return text;
}
