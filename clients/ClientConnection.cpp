// Client connection: finding or launching the client, the opening work per client, and
// undoing it at closing.
#include "clients/ClientConnection.h"

#include <AppleEvents.h>
#include <MacErrors.h>

#include <cstring>

#include "clients/ClientEvents.h"
#include "clients/EmailClients.h"
#include "clients/MailAccounts.h"
#include "clients/ObjectQueries.h"
#include "support/ApplicationLookup.h"
#include "support/ErrorReporting.h"

namespace {

constexpr SInt32 kInternationalSortingSetting = 169;
constexpr DescType kEudoraSettingClass = FourCC("ePrf");
constexpr DescType kPOPAccountClass = FourCC("popA");
constexpr DescType kIMAPAccountClass = FourCC("impA");
constexpr DescType kMailAccountClass = FourCC("mact");
constexpr DescType kFullNameProperty = FourCC("flln");
constexpr DescType kEmailAddressesProperty = FourCC("emad");
constexpr char kSortingOff = 'n';

// ----- Eudora: setting 169 -----

// Writes the direct parameter naming Eudora setting 169.
SInt32 WriteSortingSetting(AEStream *stream) {
  const SInt32 setting = kInternationalSortingSetting;
  SInt32 first = AEStream_WriteKey(stream, keyDirectObject);
  KeepFirstError(first, WriteApplicationObject(stream, formAbsolutePosition, kEudoraSettingClass,
                                               typeLongInteger, &setting, sizeof setting));
  return first;
}

// Reads the first character of setting 169 into savedSorting (left 0 for an empty text).
SInt32 ReadSortingSetting(EmailClientConnection *connection) {
  AEStream stream;
  SInt32 err = CreateClientEvent(&stream, &connection->process, kAECoreSuite, kAEGetData);
  if (err != noErr) return err;
  AppleEvent event;
  err = CloseClientEvent(&stream, WriteSortingSetting(&stream), &event);
  if (err != noErr) return err;
  AppleEvent reply;
  err = SendClientEvent(&event, &reply, kClientWaitReplyMode);
  if (err != noErr) return err;
  DescType actualType = typeNull;
  Size actualSize = 0;
  err = AEGetParamPtr(&reply, keyDirectObject, typeChar, &actualType, &connection->savedSorting, 1,
                      &actualSize);
  AEDisposeDesc(&reply);
  return err;
}

// Nothing of this work is reported: the connection opens whatever Eudora answers.
void OpenEudoraWork(EmailClientConnection *connection) {
  connection->savedSorting = 0;
  if (ReadSortingSetting(connection) == noErr)
    SetEudoraInternationalSorting(&connection->process, kSortingOff);
}

// ----- Outlook Express and Entourage: account lists -----

SInt32 OpenOutlookWork(EmailClientConnection *connection) {
  SInt32 err = GetPropertiesOfIndexedObjects(&connection->process, &connection->popAccounts, pName,
                                             kPOPAccountClass, typeAbsoluteOrdinal, kAEAll);
  if (err != noErr) return err;
  return GetPropertiesOfIndexedObjects(&connection->process, &connection->imapAccounts, pName,
                                       kIMAPAccountClass, typeAbsoluteOrdinal, kAEAll);
}

// ----- Apple Mail: account table -----

// Asks Mail for the full name and the addresses of the entry's account.
SInt32 GetAccountSender(const ProcessSerialNumber *process, MailAccountEntry *entry) {
  AEDesc fullName;
  AEDesc addresses;
  AEInitializeDesc(&fullName);
  AEInitializeDesc(&addresses);
  SInt32 err = GetPropertyOfNamedObject(process, &fullName, kFullNameProperty, typeChar, kMailAccountClass,
                                        entry->name, entry->nameLength);
  if (err == noErr) {
    err = GetPropertyOfNamedObject(process, &addresses, kEmailAddressesProperty, typeWildCard,
                                   kMailAccountClass, entry->name, entry->nameLength);
  }
  if (err == noErr) err = MakeMailAccountSender(&fullName, &addresses, entry);
  AEDisposeDesc(&addresses);
  AEDisposeDesc(&fullName);
  return err;
}

// Fills one entry from item `index` of Mail's account names.
SInt32 FillMailAccount(const ProcessSerialNumber *process, const AEDescList *names, long index,
                       MailAccountEntry *entry) {
  SInt32 err = CopyMailAccountName(names, index, entry);
  if (err != noErr) return err;
  return GetAccountSender(process, entry);
}

SInt32 OpenMailAppWork(EmailClientConnection *connection) {
  AEDescList names;
  AEInitializeDesc(&names);
  SInt32 err = GetPropertiesOfIndexedObjects(&connection->process, &names, pName, kMailAccountClass,
                                             typeAbsoluteOrdinal, kAEAll);
  long count = 0;
  if (err == noErr) err = AECountItems(&names, &count);
  OSErr allocErr = noErr;
  if (err == noErr) {
    // Cleared, so that a failure part way releases exactly the texts already made.
    connection->accounts = reinterpret_cast<MailAccountEntry *>(
        AllocPtrFinal(&allocErr, Size(count) * Size(sizeof(MailAccountEntry))));
    err = allocErr;
  }
  if (err == noErr) {
    std::memset(connection->accounts, 0, size_t(count) * sizeof(MailAccountEntry));
    connection->accountCount = SInt32(count);
    for (long index = 1; index <= count && err == noErr; ++index) {
      err = FillMailAccount(&connection->process, &names, index, &connection->accounts[index - 1]);
    }
  }
  AEDisposeDesc(&names);
  return err;
}

// Setting 169 := value, sent without a reply and waited for at most `ticks`.
SInt32 SendSortingSetting(const ProcessSerialNumber *process, char value, long ticks) {
  AEStream stream;
  SInt32 err = CreateClientEvent(&stream, process, kAECoreSuite, kAESetData);
  if (err != noErr) return err;
  SInt32 first = WriteSortingSetting(&stream);
  KeepFirstError(first, AEStream_WriteKeyDesc(&stream, keyAEData, typeChar, &value, 1));
  AppleEvent event;
  err = CloseClientEvent(&stream, first, &event);
  if (err != noErr) return err;
  AppleEvent reply;
  err = SendClientEventWithin(&event, &reply, kClientNoReplyMode, ticks);
  if (err != noErr) return err;
  AEDisposeDesc(&reply);
  return noErr;
}

// ----- the connection record -----

void InitConnection(EmailClientConnection *connection, OSType signature, const ProcessSerialNumber &process) {
  connection->signature = signature;
  connection->process = process;
  connection->savedSorting = 0;
  AEInitializeDesc(&connection->popAccounts);
  AEInitializeDesc(&connection->imapAccounts);
  connection->accounts = nullptr;
  connection->accountCount = 0;
  connection->timedOut = false;
}

// Releases whatever the connection holds (every field is initialised, so this is safe at
// any point of the opening work), then the connection itself.
void ReleaseConnection(EmailClientConnection *connection) {
  AEDisposeDesc(&connection->popAccounts);
  AEDisposeDesc(&connection->imapAccounts);
  ReleaseMailAccounts(connection->accounts, connection->accountCount);
  DestroyPtrFinal(reinterpret_cast<Ptr>(connection));
}

SInt32 DoOpeningWork(EmailClientConnection *connection) {
  switch (connection->signature) {
    case kEudoraCreator:
      OpenEudoraWork(connection);
      return noErr;
    case kOutlookExpressCreator:
    case kEntourageCreator:
      return OpenOutlookWork(connection);
    case kMailAppCreator:
      return OpenMailAppWork(connection);
    default:
      return noErr;
  }
}

}  // namespace

SInt32 OpenEmailClientConnection(OSType signature, EmailClientConnection **result) {
  EmailClientInfo info;
  GetEmailClientInformation(signature, &info);
  if (!info.running) {
    if (!info.available) return fnfErr;
    SInt32 err = OpenApplicationFile(&info.applicationFile, &info.process);
    if (err != noErr) return err;
  }
  OSErr allocErr = noErr;
  auto *connection =
      reinterpret_cast<EmailClientConnection *>(AllocPtrFinal(&allocErr, sizeof(EmailClientConnection)));
  *result = connection;
  if (connection == nullptr) return allocErr;
  InitConnection(connection, signature, info.process);
  SInt32 err = DoOpeningWork(connection);
  if (err != noErr) {
    ReleaseConnection(connection);
    *result = nullptr;
  }
  return err;
}

void CloseEmailClientConnection(EmailClientConnection *connection) {
  if (connection == nullptr) return;
  if (connection->signature == kEudoraCreator && connection->savedSorting != 0) {
    // A client that let a send time out may be frozen: the event is handed over for when it
    // wakes, and "Fnsh" does not cost a second time-out.
    SendSortingSetting(&connection->process, connection->savedSorting,
                       connection->timedOut ? kNoWaitTimeout : kClientEventTimeout);
  }
  ReleaseConnection(connection);
}

OSErr ShowHideEmailClientConnection(EmailClientConnection *connection, Boolean visible) {
  return ShowHideProcess(&connection->process, visible);
}

SInt32 SetEudoraInternationalSorting(const ProcessSerialNumber *process, char value) {
  return SendSortingSetting(process, value, kClientEventTimeout);
}
