// Value conversions at the host boundary and the handle wrappers.
#include "support/Conversions.h"

#include <MacErrors.h>
#include <MacMemory.h>
#include <Quickdraw.h>
#include <TextUtils.h>

#include "support/ErrorReporting.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const Str255 kTrue = "\x04true";
const Str255 kFalse =
    "\x05"
    "false";

// Length of the handle's text: the bytes before the first NUL, within the block.
Size HandleTextLength(Handle text) {
  Size size = GetHandleSize(text);
  const void *nul = std::memchr(*text, 0, size_t(size));
  return nul ? static_cast<const char *>(nul) - *text : size;
}

StringPtr CharsToString(const char *text, Size length, Str255 out) {
  UInt8 count = length > 255 ? 255 : UInt8(length);
  BlockMoveData(text, out + 1, count);
  out[0] = count;
  return out;
}

}  // namespace

void ReplaceCharacters(UInt8 from, UInt8 to, char *text) {
  if (text == nullptr) return;
  ReplaceOverLength(from, to, text, Size(std::strlen(text)));
}

void ReplaceOverLength(UInt8 from, UInt8 to, void *bytes, Size count) {
  if (bytes == nullptr) return;
  auto *p = static_cast<UInt8 *>(bytes);
  for (Size i = 0; i < count; i++) {
    if (p[i] == from) p[i] = to;
  }
}

char *BoolToPointer(Boolean flag) {
  return StringToPointer(flag ? kTrue : kFalse);
}
Handle BoolToHandle(Boolean flag) {
  return StringToHandle(flag ? kTrue : kFalse);
}

char *StringToPointer(ConstStr255Param text) {
  auto *copy = static_cast<char *>(std::malloc(size_t(text[0]) + 1));
  if (copy == nullptr) return nullptr;
  BlockMoveData(text + 1, copy, text[0]);
  copy[text[0]] = 0;
  return copy;
}

Handle StringToHandle(ConstStr255Param text) {
  Handle h = MyNewHandle(Size(text[0]) + 1);
  if (h == nullptr) return nullptr;
  BlockMoveData(text + 1, *h, text[0]);
  (*h)[text[0]] = 0;
  return h;
}

char *LongToPointer(SInt32 value) {
  Str255 text;
  NumToString(value, text);
  return StringToPointer(text);
}

Handle LongToHandle(SInt32 value) {
  Str255 text;
  NumToString(value, text);
  return StringToHandle(text);
}

StringPtr PointerToString(const char *text, Str255 out) {
  Size length = 0;
  while (length < 255 && text[length] != 0) length++;
  return CharsToString(text, length, out);
}

StringPtr HandleToString(Handle text, Str255 out) {
  return CharsToString(*text, HandleTextLength(text), out);
}

SInt32 PointerToLong(const char *text) {
  Str255 digits;
  long value = 0;
  StringToNum(PointerToString(text, digits), &value);
  return SInt32(value);
}

SInt32 HandleToLong(Handle text) {
  Str255 digits;
  long value = 0;
  StringToNum(HandleToString(text, digits), &value);
  return SInt32(value);
}

char *HandleKillToPointer(Handle text) {
  if (text == nullptr) return nullptr;
  Size length = HandleTextLength(text);
  auto *copy = static_cast<char *>(std::malloc(size_t(length) + 1));
  if (copy != nullptr) {
    BlockMoveData(*text, copy, length);
    copy[length] = 0;
  }
  DisposeHandle(text);
  return copy;
}

Handle MyNewHandle(Size byteCount) {
  OSErr status;
  Handle h = AllocHandleFinal(&status, byteCount);
  return MemError() == noErr ? h : nullptr;
}

Boolean MySetHandleSize(Handle h, Size byteCount) {
  SetHandleSize(h, byteCount);
  return MemError() == noErr;
}

UInt32 MyGetHandleSize(Handle text) {
  return UInt32(HandleTextLength(text));
}

void MyDisposeHandle(Handle h) {
  if (h != nullptr) DestroyHandleFinal(h);
}

char *GetFullScreenRectangle() {
  GDHandle device = GetMainDevice();
  Rect bounds = {0, 0, 0, 0};
  if (device != nullptr) bounds = (*device)->gdRect;
  for (device = GetDeviceList(); device != nullptr; device = GetNextDevice(device)) {
    UnionRect(&bounds, &(*device)->gdRect, &bounds);
  }
  auto *text = static_cast<char *>(std::malloc(128));
  if (text == nullptr) return nullptr;
  std::snprintf(text, 128, "%d,%d,%d,%d", bounds.left, bounds.top, bounds.right, bounds.bottom);
  return text;
}
