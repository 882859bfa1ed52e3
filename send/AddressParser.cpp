#include "send/AddressParser.h"

#include <MacErrors.h>

#include <cstring>

#include "support/ErrorReporting.h"

namespace {

// Room the single-item forms always fit in: an item in round or angled form is at most one
// byte longer than the item, and an item is never longer than the trimmed list.
constexpr UInt32 kBufferSlack = 16;

bool IsBlank(char c) {
  return c == ' ' || c == '\r' || c == '\n' || c == '\t';
}

void TrimBlanks(const char **text, UInt32 *length) {
  const char *start = *text;
  const char *stop = start + *length;
  while (start < stop && IsBlank(*start)) start++;
  while (stop > start && IsBlank(stop[-1])) stop--;
  *text = start;
  *length = UInt32(stop - start);
}

// Cuts the next item off the list: up to the next comma outside parentheses. Parentheses
// nest for this purpose only; an unmatched ")" never makes the depth negative.
void CutNextItem(AddressParser *parser, const char **item, UInt32 *length) {
  const char *start = parser->current;
  const char *scan = start;
  UInt32 depth = 0;
  while (scan < parser->end) {
    char c = *scan;
    if (c == '(') {
      depth++;
    } else if (c == ')') {
      if (depth > 0) depth--;
    } else if (c == ',' && depth == 0) {
      break;
    }
    scan++;
  }
  *item = start;
  *length = UInt32(scan - start);
  parser->current = scan < parser->end ? scan + 1 : parser->end;
}

char *Append(char *to, const char *from, UInt32 length) {
  if (length != 0) std::memcpy(to, from, length);
  return to + length;
}

// Writes "address (name)" or the address alone; returns the byte count.
UInt32 WriteRound(char *to, const char *name, UInt32 nameLength, const char *address, UInt32 addressLength) {
  char *at = Append(to, address, addressLength);
  if (nameLength != 0) {
    at = Append(at, " (", 2);
    at = Append(at, name, nameLength);
    *at++ = ')';
  }
  return UInt32(at - to);
}

UInt32 WriteAngled(char *to, const char *name, UInt32 nameLength, const char *address, UInt32 addressLength) {
  char *at = to;
  if (nameLength != 0) {
    at = Append(at, name, nameLength);
    at = Append(at, " <", 2);
  }
  at = Append(at, address, addressLength);
  if (nameLength != 0) *at++ = '>';
  return UInt32(at - to);
}

// Makes room for at least `needed` bytes, keeping the first `used`. The joined list can be
// longer than the input by one byte per item, so long lists need more than the slack.
bool GrowBuffer(AddressParser *parser, UInt32 used, UInt64 needed) {
  if (needed <= parser->bufferSize) return true;
  UInt64 size = UInt64(parser->bufferSize) * 2;
  if (size < needed) size = needed;
  if (size > 0xFFFFFFFFu) size = needed;
  if (size > 0xFFFFFFFFu) {
    parser->status = memFullErr;
    return false;
  }
  OSErr status = noErr;
  Ptr bigger = AllocPtrFinal(&status, Size(size));
  if (bigger == nullptr) {
    parser->status = status != noErr ? status : OSErr(memFullErr);
    return false;
  }
  Append(bigger, parser->buffer, used);
  DestroyPtrFinal(parser->buffer);
  parser->buffer = bigger;
  parser->bufferSize = UInt32(size);
  return true;
}

}  // namespace

AddressParser *InitializeAddressParser(OSErr *status, const char *text, UInt32 length) {
  const char *start = text;
  UInt32 trimmed = length;
  if (length != 0) TrimBlanks(&start, &trimmed);
  if (trimmed == 0) {
    *status = noErr;
    return nullptr;
  }
  auto *parser = reinterpret_cast<AddressParser *>(AllocPtrFinal(status, sizeof(AddressParser)));
  if (parser == nullptr) return nullptr;
  parser->current = start;
  parser->end = start + trimmed;
  parser->status = noErr;
  parser->bufferSize = trimmed + kBufferSlack;
  if (parser->bufferSize < trimmed) parser->bufferSize = 0xFFFFFFFFu;
  parser->buffer = AllocPtrFinal(status, Size(parser->bufferSize));
  if (parser->buffer == nullptr) {
    DestroyPtrFinal(reinterpret_cast<Ptr>(parser));
    return nullptr;
  }
  *status = noErr;
  return parser;
}

void DestroyAddressParser(AddressParser *parser) {
  if (parser == nullptr) return;
  DestroyPtrFinal(parser->buffer);
  DestroyPtrFinal(reinterpret_cast<Ptr>(parser));
}

Boolean SeparateByBrackets(const char *text, UInt32 length, char open, char close, const char **inside,
                           UInt32 *insideLength, const char **outside, UInt32 *outsideLength) {
  const char *stop = text + length;
  const char *opening = static_cast<const char *>(std::memchr(text, open, length));
  if (opening == nullptr) return false;
  const char *closing = static_cast<const char *>(std::memchr(opening, close, size_t(stop - opening)));
  if (closing == nullptr) return false;
  *inside = opening + 1;
  *insideLength = UInt32(closing - opening - 1);
  UInt32 before = UInt32(opening - text);
  UInt32 after = UInt32(stop - closing - 1);
  if (before <= after) {
    *outside = closing + 1;
    *outsideLength = after;
  } else {
    *outside = text;
    *outsideLength = before;
  }
  return true;
}

Boolean ParseNextAddress(AddressParser *parser, const char **name, UInt32 *nameLength, const char **address,
                         UInt32 *addressLength) {
  if (parser == nullptr) return false;
  const char *item = nullptr;
  UInt32 itemLength = 0;
  do {
    if (parser->current >= parser->end) return false;
    CutNextItem(parser, &item, &itemLength);
    TrimBlanks(&item, &itemLength);
  } while (itemLength == 0);

  const char *n = item;
  UInt32 nLength = 0;
  const char *a = item;
  UInt32 aLength = itemLength;
  if (!SeparateByBrackets(item, itemLength, '<', '>', &a, &aLength, &n, &nLength)) {
    SeparateByBrackets(item, itemLength, '(', ')', &n, &nLength, &a, &aLength);
  }
  TrimBlanks(&n, &nLength);
  TrimBlanks(&a, &aLength);
  *name = n;
  *nameLength = nLength;
  *address = a;
  *addressLength = aLength;
  return true;
}

Boolean GetNextAddressRound(AddressParser *parser, const char **text, UInt32 *length) {
  const char *name, *address;
  UInt32 nameLength, addressLength;
  if (!ParseNextAddress(parser, &name, &nameLength, &address, &addressLength)) return false;
  *text = parser->buffer;
  *length = WriteRound(parser->buffer, name, nameLength, address, addressLength);
  return true;
}

Boolean GetNextAddressAngled(AddressParser *parser, const char **text, UInt32 *length) {
  const char *name, *address;
  UInt32 nameLength, addressLength;
  if (!ParseNextAddress(parser, &name, &nameLength, &address, &addressLength)) return false;
  *text = parser->buffer;
  *length = WriteAngled(parser->buffer, name, nameLength, address, addressLength);
  return true;
}

Boolean GetNextAddressOnly(AddressParser *parser, const char **text, UInt32 *length) {
  const char *name, *address;
  UInt32 nameLength, addressLength;
  if (!ParseNextAddress(parser, &name, &nameLength, &address, &addressLength)) return false;
  *text = address;
  *length = addressLength;
  return true;
}

Boolean GetAllAddressesRound(AddressParser *parser, const char **text, UInt32 *length) {
  if (parser == nullptr) return false;
  const char *name, *address;
  UInt32 nameLength, addressLength;
  UInt32 used = 0;
  bool any = false;
  while (ParseNextAddress(parser, &name, &nameLength, &address, &addressLength)) {
    // Comma, address, " (", name, ")".
    UInt64 needed = UInt64(used) + 1 + addressLength + (nameLength != 0 ? nameLength + 3 : 0);
    if (!GrowBuffer(parser, used, needed)) {
      parser->current = parser->end;
      return false;
    }
    if (any) parser->buffer[used++] = ',';
    used += WriteRound(parser->buffer + used, name, nameLength, address, addressLength);
    any = true;
  }
  *text = parser->buffer;
  *length = used;
  return any;
}
