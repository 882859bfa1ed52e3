// The content of descriptors in their data handles: walking items, and editing a list, record
// or event in place with one resize and one move per change.
#include "AEStorage.h"

#include <MacErrors.h>

#include <algorithm>
#include <cstring>

namespace ae {

namespace {

constexpr size_t kFormSize = 4;
constexpr size_t kCountSize = 4;
// Contents stay well inside the 32-bit lengths of the flattened form.
constexpr size_t kMaxContentSize = 0x7FFFFF00;

size_t SkipSection(Content c, size_t countAt) {
  uint32_t count = GetBigEndian32(c.bytes + countAt);
  size_t at = countAt + kCountSize;
  for (uint32_t i = 0; i < count; i++) at += kAEFlatItemHeaderSize + GetBigEndian32(c.bytes + at + 8);
  return at;
}

void AddToCount(Handle h, const Section &section, int delta) {
  auto *at = reinterpret_cast<uint8_t *>(*h) + section.countAt;
  PutBigEndian32(at, GetBigEndian32(at) + uint32_t(delta));
}

bool PointsInto(Handle h, size_t total, const void *p) {
  const char *begin = *h;
  const char *end = begin + total;
  const char *q = static_cast<const char *>(p);
  return q != nullptr && std::less_equal<>()(begin, q) && std::less<>()(q, end);
}

// Makes room for newSize bytes where oldSize bytes were, at offset, in a handle of total bytes;
// the bytes after move along.
OSErr Resize(Handle h, size_t total, size_t offset, size_t oldSize, size_t newSize) {
  size_t tail = total - offset - oldSize;
  if (newSize > oldSize) {
    if (total - oldSize + newSize > kMaxContentSize) return memFullErr;
    SetHandleSize(h, Size(total - oldSize + newSize));
    if (MemError() != noErr) return memFullErr;
  }
  std::memmove(*h + offset + newSize, *h + offset + oldSize, tail);
  if (newSize < oldSize) SetHandleSize(h, Size(total - oldSize + newSize));
  return noErr;
}

}  // namespace

Content ContentOf(const AEDesc *desc) {
  if (desc == nullptr || desc->dataHandle == nullptr || *desc->dataHandle == nullptr) return {};
  return {reinterpret_cast<const uint8_t *>(*desc->dataHandle), size_t(GetHandleSize(desc->dataHandle))};
}

uint32_t FormOf(Content c) {
  return c.size < kFormSize ? uint32_t(kAEFlatFormData) : GetBigEndian32(c.bytes);
}

bool IsComposite(uint32_t form) {
  return form == kAEFlatFormList || form == kAEFlatFormRecord || form == kAEFlatFormEvent;
}

bool IsCompositeType(DescType type) {
  return type == typeAEList || type == typeAERecord || type == typeAppleEvent;
}

Content DataOf(Content c) {
  if (c.size <= kFormSize) return {};
  return {c.bytes + kFormSize, c.size - kFormSize};
}

bool WellFormed(Content c) {
  if (c.size == 0) return true;
  if (c.size < kFormSize) return false;
  uint32_t form = FormOf(c);
  if (form == kAEFlatFormData) return c.size > kFormSize;
  return IsComposite(form) && c.size >= kFormSize + kCountSize;
}

namespace {

// SectionOf for content already read from the descriptor.
OSErr SectionIn(const AEDesc *desc, Content c, Part part, Section *section) {
  if (c.size == 0 && desc->descriptorType == typeNull) return errAEDescIsNull;
  if (!WellFormed(c)) return errAENotAEDesc;
  uint32_t form = FormOf(c);
  if (part == Part::Attributes) {
    if (form != kAEFlatFormEvent) return errAENotAppleEvent;
    *section = AttributesSection(c);
    return noErr;
  }
  if (!IsComposite(form)) return errAEWrongDataType;
  *section = ItemsSection(c);
  return noErr;
}

}  // namespace

OSErr SectionOf(const AEDesc *desc, Part part, Section *section) {
  if (desc == nullptr) return paramErr;
  return SectionIn(desc, ContentOf(desc), part, section);
}

Section ItemsSection(Content c) {
  size_t countAt = FormOf(c) == kAEFlatFormEvent ? SkipSection(c, kFormSize) : kFormSize;
  return {countAt, c.size};
}

Section AttributesSection(Content c) {
  return {kFormSize, SkipSection(c, kFormSize)};
}

uint32_t CountOf(Content c, const Section &section) {
  return GetBigEndian32(c.bytes + section.countAt);
}

Item ItemAt(Content c, size_t offset) {
  Item item;
  item.key = GetBigEndian32(c.bytes + offset);
  item.type = GetBigEndian32(c.bytes + offset + 4);
  item.content = {c.bytes + offset + kAEFlatItemHeaderSize, GetBigEndian32(c.bytes + offset + 8)};
  item.offset = offset;
  item.size = kAEFlatItemHeaderSize + item.content.size;
  return item;
}

bool NthItem(Content c, const Section &section, long index, Item *item) {
  if (index < 1 || index > long(CountOf(c, section))) return false;
  size_t at = section.countAt + kCountSize;
  for (long i = 1;; i++) {
    *item = ItemAt(c, at);
    if (i == index) return true;
    at += item->size;
  }
}

bool FindItem(Content c, const Section &section, AEKeyword key, Item *item) {
  for (size_t at = section.countAt + kCountSize; at < section.end; at += item->size) {
    *item = ItemAt(c, at);
    if (item->key == key) return true;
  }
  return false;
}

size_t Source::ContentSize() const {
  if (isContent) return size;
  return size == 0 ? 0 : kFormSize + size;
}

void Source::WriteContent(uint8_t *to) const {
  if (size == 0) return;
  if (isContent) {
    std::memcpy(to, bytes, size);
    return;
  }
  PutBigEndian32(to, kAEFlatFormData);
  NativeToStored(type, bytes, to + kFormSize, size);
}

Source RawSource(DescType type, const void *data, Size size) {
  return {type, data, size_t(size), false};
}

OSErr PutSource(DescType type, const void *data, Size size, AEDesc *holder, Source *source) {
  AEInitializeDesc(holder);
  if (size < 0 || (data == nullptr && size > 0)) return paramErr;
  if (!IsCompositeType(type)) {
    *source = RawSource(type, data, size);
    return noErr;
  }
  OSErr err = AECreateDesc(type, data, size, holder);
  return err != noErr ? err : DescSource(holder, source);
}

// Whether the descriptor type and the form of the content agree (AEFlatten.h).
bool TypeFitsForm(DescType type, uint32_t form) {
  if (type == typeAEList || form == kAEFlatFormList) return type == typeAEList && form == kAEFlatFormList;
  if (type == typeAppleEvent || form == kAEFlatFormEvent)
    return type == typeAppleEvent && form == kAEFlatFormEvent;
  return type != typeAERecord || form == kAEFlatFormRecord;
}

OSErr DescSource(const AEDesc *desc, Source *source) {
  if (desc == nullptr) return paramErr;
  Content c = ContentOf(desc);
  if (!WellFormed(c) || !TypeFitsForm(desc->descriptorType, FormOf(c))) return errAENotAEDesc;
  *source = {desc->descriptorType, c.bytes, c.size, true};
  return noErr;
}

uint8_t *WriteItem(uint8_t *at, AEKeyword key, const Source &source) {
  size_t length = source.ContentSize();
  PutBigEndian32(at, key);
  PutBigEndian32(at + 4, source.type);
  PutBigEndian32(at + 8, uint32_t(length));
  source.WriteContent(at + kAEFlatItemHeaderSize);
  return at + kAEFlatItemHeaderSize + length;
}

OSErr PutItem(Handle h, const Section &section, size_t offset, size_t oldSize, AEKeyword key,
              const Source &source) {
  size_t total = size_t(GetHandleSize(h));
  if (PointsInto(h, total, source.bytes)) {
    // The source lives in the handle about to move: put a copy of it instead.
    Ptr copy = NewPtr(Size(source.size));
    if (copy == nullptr) return memFullErr;
    std::memcpy(copy, source.bytes, source.size);
    Source moved = source;
    moved.bytes = copy;
    OSErr err = PutItem(h, section, offset, oldSize, key, moved);
    DisposePtr(copy);
    return err;
  }
  size_t length = source.ContentSize();
  if (length > kMaxContentSize) return memFullErr;
  OSErr err = Resize(h, total, offset, oldSize, kAEFlatItemHeaderSize + length);
  if (err != noErr) return err;
  WriteItem(reinterpret_cast<uint8_t *>(*h) + offset, key, source);
  if (oldSize == 0) AddToCount(h, section, +1);
  return noErr;
}

OSErr DeleteItem(Handle h, const Section &section, const Item &item) {
  OSErr err = Resize(h, size_t(GetHandleSize(h)), item.offset, item.size, 0);
  if (err == noErr) AddToCount(h, section, -1);
  return err;
}

OSErr PutKeyed(AEDesc *desc, Part part, AEKeyword key, const Source &source) {
  if (desc == nullptr) return paramErr;
  Content c = ContentOf(desc);
  Section section;
  OSErr err = SectionIn(desc, c, part, &section);
  if (err != noErr) return err;
  if (FormOf(c) == kAEFlatFormList) return errAEWrongDataType;
  Item item;
  if (FindItem(c, section, key, &item))
    return PutItem(desc->dataHandle, section, item.offset, item.size, key, source);
  return PutItem(desc->dataHandle, section, section.end, 0, key, source);
}

OSErr FindKeyed(const AEDesc *desc, Part part, AEKeyword key, Item *item) {
  if (desc == nullptr) return paramErr;
  Content c = ContentOf(desc);
  Section section;
  OSErr err = SectionIn(desc, c, part, &section);
  if (err != noErr) return err;
  if (FormOf(c) == kAEFlatFormList) return errAEWrongDataType;
  return FindItem(c, section, key, item) ? OSErr(noErr) : OSErr(errAEDescNotFound);
}

OSErr DeleteKeyed(AEDesc *desc, Part part, AEKeyword key) {
  Item item;
  OSErr err = FindKeyed(desc, part, key, &item);
  if (err != noErr) return err;
  Section section;
  SectionOf(desc, part, &section);
  return DeleteItem(desc->dataHandle, section, item);
}

OSErr NewContentHandle(const Source &source, Handle *result) {
  *result = nullptr;
  size_t length = source.ContentSize();
  if (length == 0) return noErr;
  if (length > kMaxContentSize) return memFullErr;
  Handle h = NewHandle(Size(length));
  if (h == nullptr) return memFullErr;
  source.WriteContent(reinterpret_cast<uint8_t *>(*h));
  *result = h;
  return noErr;
}

Handle NewCompositeHandle(uint32_t form) {
  size_t size = form == kAEFlatFormEvent ? kFormSize + 2 * kCountSize : kFormSize + kCountSize;
  Handle h = NewHandleClear(Size(size));
  if (h != nullptr) PutBigEndian32(*h, form);
  return h;
}

bool IsNativeOrderType(DescType type, size_t size) {
  switch (type) {
    case typeSInt16:
      return size == 2;
    case typeSInt32:
    case typeUInt32:
    case typeType:
    case typeEnumerated:
    case typeKeyword:
    case typeProperty:
    case typeAbsoluteOrdinal:
      return size == 4;
    case typeProcessSerialNumber:
      return size == 8;
    default:
      return false;
  }
}

void NativeToStored(DescType type, const void *from, void *to, size_t size) {
  if (!IsNativeOrderType(type, size)) {
    if (size != 0) std::memmove(to, from, size);
    return;
  }
  const auto *in = static_cast<const uint8_t *>(from);
  auto *out = static_cast<uint8_t *>(to);
  if (size == 2) {
    uint16_t v;
    std::memcpy(&v, in, 2);
    PutBigEndian16(out, v);
    return;
  }
  for (size_t i = 0; i < size; i += 4) {
    uint32_t v;
    std::memcpy(&v, in + i, 4);
    PutBigEndian32(out + i, v);
  }
}

void StoredToNative(DescType type, const void *from, void *to, size_t size) {
  if (!IsNativeOrderType(type, size)) {
    if (size != 0) std::memmove(to, from, size);
    return;
  }
  const auto *in = static_cast<const uint8_t *>(from);
  auto *out = static_cast<uint8_t *>(to);
  if (size == 2) {
    uint16_t v = GetBigEndian16(in);
    std::memcpy(out, &v, 2);
    return;
  }
  for (size_t i = 0; i < size; i += 4) {
    uint32_t v = GetBigEndian32(in + i);
    std::memcpy(out + i, &v, 4);
  }
}

void CopyData(DescType type, Content c, void *to, Size maximumSize, Size *actualSize) {
  bool composite = IsComposite(FormOf(c));
  Content data = composite ? c : DataOf(c);
  if (actualSize != nullptr) *actualSize = Size(data.size);
  size_t n = std::min(size_t(std::max<Size>(maximumSize, 0)), data.size);
  if (n == 0) return;
  if (!composite && IsNativeOrderType(type, data.size)) {
    uint8_t native[8];
    StoredToNative(type, data.bytes, native, data.size);
    std::memcpy(to, native, n);
  } else {
    std::memcpy(to, data.bytes, n);
  }
}

OSErr ItemToDesc(const Item &item, DescType desiredType, AEDesc *result) {
  if (desiredType != typeWildCard && desiredType != item.type) {
    return CoerceContent(item.type, item.content, desiredType, result);
  }
  Handle h;
  OSErr err = NewContentHandle({item.type, item.content.bytes, item.content.size, true}, &h);
  if (err != noErr) {
    AEInitializeDesc(result);
    return err;
  }
  result->descriptorType = item.type;
  result->dataHandle = h;
  return noErr;
}

OSErr ItemToPtr(const Item &item, DescType desiredType, DescType *typeCode, void *dataPtr, Size maximumSize,
                Size *actualSize) {
  if (dataPtr == nullptr && maximumSize > 0) return paramErr;
  if (desiredType == typeWildCard || desiredType == item.type) {
    CopyData(item.type, item.content, dataPtr, maximumSize, actualSize);
    if (typeCode != nullptr) *typeCode = item.type;
    return noErr;
  }
  AEDesc coerced;
  OSErr err = CoerceContent(item.type, item.content, desiredType, &coerced);
  if (err != noErr) return err;
  CopyData(coerced.descriptorType, ContentOf(&coerced), dataPtr, maximumSize, actualSize);
  if (typeCode != nullptr) *typeCode = coerced.descriptorType;
  AEDisposeDesc(&coerced);
  return noErr;
}

}  // namespace ae
