// Apple Mail's account replies turned into account entries.
#include "clients/MailAccounts.h"

#include <MacErrors.h>

#include "support/ErrorReporting.h"

namespace {

// Copies a plain descriptor's data into a new block (caller releases it).
SInt32 CopyDescData(const AEDesc *desc, Ptr *data, UInt32 *length) {
  Size size = AEGetDescDataSize(desc);
  OSErr err = noErr;
  Ptr block = AllocPtrFinal(&err, size);
  if (block == nullptr) return err;
  err = AEGetDescData(desc, block, size);
  if (err != noErr) {
    DestroyPtrFinal(block);
    return err;
  }
  *data = block;
  *length = UInt32(size);
  return noErr;
}

// The first of the account's addresses as text, or an empty text when it has none.
SInt32 GetFirstAddress(const AEDescList *addresses, AEDesc *address) {
  long count = 0;
  SInt32 err = AECountItems(addresses, &count);
  if (err != noErr) return err;
  if (count == 0) return AECreateDesc(typeChar, nullptr, 0, address);
  AEKeyword key;
  return AEGetNthDesc(addresses, 1, typeChar, &key, address);
}

// Copies a text's bytes to `at`; the caller has made room for all of them.
SInt32 PutText(const AEDesc *text, Size size, Ptr at) {
  return size > 0 ? AEGetDescData(text, at, size) : 0;
}

// "Full Name <address>" into a new block.
SInt32 MakeSenderText(const AEDesc *fullName, const AEDesc *address, MailAccountEntry *entry) {
  Size nameSize = AEGetDescDataSize(fullName);
  Size addressSize = AEGetDescDataSize(address);
  OSErr allocErr = noErr;
  Ptr sender = AllocPtrFinal(&allocErr, nameSize + addressSize + 3);
  if (sender == nullptr) return allocErr;
  SInt32 err = PutText(fullName, nameSize, sender);
  sender[nameSize] = ' ';
  sender[nameSize + 1] = '<';
  if (err == noErr) err = PutText(address, addressSize, sender + nameSize + 2);
  sender[nameSize + addressSize + 2] = '>';
  if (err != noErr) {
    DestroyPtrFinal(sender);
    return err;
  }
  entry->sender = sender;
  entry->senderLength = UInt32(nameSize + addressSize + 3);
  return noErr;
}

}  // namespace

SInt32 CopyMailAccountName(const AEDescList *names, long index, MailAccountEntry *entry) {
  AEKeyword key;
  AEDesc item;
  AEInitializeDesc(&item);
  SInt32 err = AEGetNthDesc(names, index, typeChar, &key, &item);
  if (err == noErr) err = CopyDescData(&item, &entry->name, &entry->nameLength);
  AEDisposeDesc(&item);
  return err;
}

SInt32 MakeMailAccountSender(const AEDesc *fullName, const AEDescList *addresses, MailAccountEntry *entry) {
  AEDesc address;
  AEInitializeDesc(&address);
  SInt32 err = GetFirstAddress(addresses, &address);
  if (err == noErr) err = MakeSenderText(fullName, &address, entry);
  AEDisposeDesc(&address);
  return err;
}

void ReleaseMailAccounts(MailAccountEntry *accounts, SInt32 count) {
  if (accounts == nullptr) return;
  for (SInt32 index = 0; index < count; ++index) {
    DestroyPtrFinal(accounts[index].name);
    DestroyPtrFinal(accounts[index].sender);
  }
  DestroyPtrFinal(reinterpret_cast<Ptr>(accounts));
}
