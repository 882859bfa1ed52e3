// A client's answer to "the name of every account", as it arrives from another process:
// turned into the "Acts" text, and searched for the merge's account name as Outlook Express
// and Entourage do. Whatever the descriptor, the text is NUL-terminated, each name ends with
// its CR, no name is longer than 256 bytes, and nothing is left allocated.
//
// Input: one byte n, then n bytes of account name, then the flattened answer.
#include <MacMemory.h>

#include <cstdlib>

#include "clients/AccountDiscovery.h"
#include "send/OutlookSender.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckText(Handle text, const AEDescList &names) {
  if (text == nullptr) return;
  Size size = GetHandleSize(text);
  Check(size >= 1 && (*text)[size - 1] == 0);
  Check(size == 1 || (*text)[size - 2] == 13);  // every name ends with its CR
  long count = 0;
  Check(AECountItems(&names, &count) == noErr);
  Check(size - 1 <= count * (kLongestAccountName + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size_t(data[0]) + 1 > size) return 0;
  const char *name = reinterpret_cast<const char *>(data + 1);
  UInt32 nameLength = data[0];
  data += 1 + nameLength;
  size -= 1 + nameLength;
  long liveBefore = CarbonLiveBlocks();
  AEDesc names;
  AEInitializeDesc(&names);
  if (AEUnflattenDescSafe(data, Size(size), &names) != noErr) AEInitializeDesc(&names);
  Handle text = AccountNamesToText(&names);
  CheckText(text, names);
  DisposeHandle(text);
  IsNameInNameList(name, nameLength, &names);
  AEDisposeDesc(&names);
  Check(CarbonLiveBlocks() == liveBefore);
  return 0;
}
