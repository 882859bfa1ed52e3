// Address lists of any bytes. Every item form stays inside its buffer or the input, and the
// joined list equals the round forms of the same items joined by commas.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "send/AddressParser.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Within(const char *p, UInt32 n, const char *start, size_t size) {
  return n == 0 || (p >= start && p + n <= start + size);
}

std::string RoundItemsJoined(const char *text, UInt32 size) {
  OSErr status = noErr;
  AddressParser *parser = InitializeAddressParser(&status, text, size);
  std::string joined;
  bool any = false;
  const char *item = nullptr;
  UInt32 length = 0;
  while (GetNextAddressRound(parser, &item, &length)) {
    Check(Within(item, length, parser->buffer, parser->bufferSize));
    if (any) joined += ',';
    joined.append(item, length);
    any = true;
  }
  DestroyAddressParser(parser);
  return joined;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 0xFFFF) return 0;
  const char *text = reinterpret_cast<const char *>(data);
  OSErr status = noErr;
  AddressParser *parser = InitializeAddressParser(&status, text, UInt32(size));
  const char *a = nullptr, *n = nullptr;
  UInt32 al = 0, nl = 0;
  for (unsigned step = 0; parser != nullptr; step++) {
    bool more = false;
    switch (step % 4) {
      case 0:
        more = ParseNextAddress(parser, &n, &nl, &a, &al);
        if (more) Check(Within(n, nl, text, size) && Within(a, al, text, size));
        break;
      case 1:
        more = GetNextAddressRound(parser, &a, &al);
        if (more) Check(Within(a, al, parser->buffer, parser->bufferSize));
        break;
      case 2:
        more = GetNextAddressAngled(parser, &a, &al);
        if (more) Check(Within(a, al, parser->buffer, parser->bufferSize));
        break;
      default:
        more = GetNextAddressOnly(parser, &a, &al);
        if (more) Check(Within(a, al, text, size));
    }
    if (!more) break;
  }
  DestroyAddressParser(parser);

  parser = InitializeAddressParser(&status, text, UInt32(size));
  const char *joined = nullptr;
  UInt32 length = 0;
  std::string all;
  if (GetAllAddressesRound(parser, &joined, &length)) all.assign(joined, length);
  DestroyAddressParser(parser);
  Check(all == RoundItemsJoined(text, UInt32(size)));
  return 0;
}
