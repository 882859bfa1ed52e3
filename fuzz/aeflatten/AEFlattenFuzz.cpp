// Flattened descriptors as they arrive from another process. Whatever the reader accepts must
// flatten back to exactly the bytes given, read again the same, and survive every reader of
// descriptors (AEPrint, the list calls, coercion) without leaking a block.
#include <AEHelpers.h>
#include <MacErrors.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::vector<uint8_t> Flatten(const AEDesc &desc) {
  std::vector<uint8_t> bytes(size_t(AESizeOfFlattenedDesc(&desc)));
  Size size = 0;
  Check(AEFlattenDesc(&desc, reinterpret_cast<Ptr>(bytes.data()), Size(bytes.size()), &size) == noErr);
  Check(size_t(size) == bytes.size());
  return bytes;
}

void ReadEverything(const AEDesc &desc) {
  Handle text = nullptr;
  Check(AEPrintDescToHandle(&desc, &text) == noErr);
  DisposeHandle(text);
  long count = 0;
  if (AECountItems(&desc, &count) == noErr) {
    for (long i = 1; i <= count && i <= 64; i++) {
      AEDesc item;
      AEKeyword key;
      char buffer[16];
      Size size;
      DescType type;
      if (AEGetNthDesc(&desc, i, typeChar, &key, &item) == noErr) AEDisposeDesc(&item);
      AEGetNthPtr(&desc, i, typeSInt32, &key, &type, buffer, sizeof buffer, &size);
    }
  }
  for (DescType to : {typeChar, typeUTF8Text, typeSInt16, typeAEList, typeObjectSpecifier, typeBoolean}) {
    AEDesc coerced;
    if (AECoerceDesc(&desc, to, &coerced) == noErr) AEDisposeDesc(&coerced);
  }
  AEDesc attribute;
  if (AEGetAttributeDesc(&desc, keyEventClassAttr, typeChar, &attribute) == noErr) AEDisposeDesc(&attribute);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  long blocks = CarbonLiveBlocks();
  AEDesc desc;
  if (AEUnflattenDescSafe(data, Size(size), &desc) != noErr) {
    Check(desc.dataHandle == nullptr && CarbonLiveBlocks() == blocks);
    return 0;
  }
  std::vector<uint8_t> again = Flatten(desc);
  Check(again.size() == size && std::memcmp(again.data(), data, size) == 0);
  AEDesc twice;
  Check(AEUnflattenDescSafe(again.data(), Size(again.size()), &twice) == noErr);
  Check(Flatten(twice) == again);
  ReadEverything(desc);
  AEDisposeDesc(&twice);
  AEDisposeDesc(&desc);
  Check(CarbonLiveBlocks() == blocks);
  return 0;
}
