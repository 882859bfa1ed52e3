// Apple Mail's replies to the account queries, as they arrive from another process, turned
// into account entries: any descriptor in any of the three places (the list of names, a full
// name, the list of addresses) gives an entry with texts of the stated sizes or an error,
// and never leaves a block behind.
//
// Input: two big-endian 16-bit lengths, then the flattened names, the flattened full name
// and (the rest) the flattened addresses.
#include <Endian.h>
#include <MacErrors.h>
#include <MacMemory.h>

#include <cstdlib>

#include "clients/MailAccounts.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

AEDesc Unflatten(const uint8_t *data, size_t size) {
  AEDesc desc;
  AEInitializeDesc(&desc);
  if (AEUnflattenDescSafe(data, Size(size), &desc) != noErr) AEInitializeDesc(&desc);
  return desc;
}

void ReadNames(const AEDescList &names) {
  long count = 0;
  if (AECountItems(&names, &count) != noErr) return;
  for (long index = 0; index <= count + 1 && index <= 16; ++index) {
    MailAccountEntry entry{};
    if (CopyMailAccountName(&names, index, &entry) == noErr) {
      Check(entry.name != nullptr && GetPtrSize(entry.name) == Size(entry.nameLength));
    } else {
      Check(entry.name == nullptr);
    }
    DisposePtr(entry.name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  size_t namesSize = GetBigEndian16(data);
  size_t fullNameSize = GetBigEndian16(data + 2);
  data += 4;
  size -= 4;
  if (namesSize + fullNameSize > size) return 0;
  long liveBefore = CarbonLiveBlocks();
  AEDesc names = Unflatten(data, namesSize);
  AEDesc fullName = Unflatten(data + namesSize, fullNameSize);
  AEDesc addresses = Unflatten(data + namesSize + fullNameSize, size - namesSize - fullNameSize);
  ReadNames(names);
  AEDesc fullText;
  AEInitializeDesc(&fullText);
  if (AECoerceDesc(&fullName, typeChar, &fullText) == noErr) {
    MailAccountEntry entry{};
    if (MakeMailAccountSender(&fullText, &addresses, &entry) == noErr) {
      Check(GetPtrSize(entry.sender) == Size(entry.senderLength));
      Check(entry.senderLength >= 3 && entry.sender[entry.senderLength - 1] == '>');
    }
    DisposePtr(entry.sender);
  }
  AEDisposeDesc(&fullText);
  AEDisposeDesc(&names);
  AEDisposeDesc(&fullName);
  AEDisposeDesc(&addresses);
  Check(CarbonLiveBlocks() == liveBefore);
  return 0;
}
