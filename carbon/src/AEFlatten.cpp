// The flattened form of AEFlatten.h. A descriptor's data handle already holds its content in
// that form, so the writer adds the header and copies; the reader checks every byte of the
// content against the rules before it copies anything.
#include <AEDataModel.h>
#include <MacErrors.h>

#include "AEStorage.h"

#include <cstring>

namespace {

bool ValidItems(const uint8_t *bytes, size_t size, size_t at, int depth, bool isList, size_t *end) {
  if (depth > int(kAEFlatMaxDepth) || size - at < 4) return false;
  uint32_t count = GetBigEndian32(bytes + at);
  at += 4;
  if (count > (size - at) / kAEFlatItemHeaderSize) return false;
  for (uint32_t i = 0; i < count; i++) {
    if (size - at < kAEFlatItemHeaderSize) return false;
    AEKeyword key = GetBigEndian32(bytes + at);
    DescType type = GetBigEndian32(bytes + at + 4);
    uint32_t length = GetBigEndian32(bytes + at + 8);
    at += kAEFlatItemHeaderSize;
    if (length > size - at || (isList && key != typeWildCard)) return false;
    if (!ae::ValidContent(type, bytes + at, length, depth)) return false;
    at += length;
  }
  *end = at;
  return true;
}

}  // namespace

namespace ae {

bool ValidContent(DescType type, const uint8_t *bytes, size_t size, int depth) {
  if (size == 0) return !IsCompositeType(type);
  if (size < 4) return false;
  size_t end = 0;
  switch (GetBigEndian32(bytes)) {
    case kAEFlatFormData:
      return size > 4 && !IsCompositeType(type);
    case kAEFlatFormList:
      return type == typeAEList && ValidItems(bytes, size, 4, depth + 1, true, &end) && end == size;
    case kAEFlatFormRecord:
      return type != typeAEList && type != typeAppleEvent &&
             ValidItems(bytes, size, 4, depth + 1, false, &end) && end == size;
    case kAEFlatFormEvent:
      return type == typeAppleEvent && ValidItems(bytes, size, 4, depth + 1, false, &end) &&
             ValidItems(bytes, size, end, depth + 1, false, &end) && end == size;
    default:
      return false;
  }
}

}  // namespace ae

Size AESizeOfFlattenedDesc(const AEDesc *theAEDesc) {
  if (theAEDesc == nullptr) return 0;
  return Size(kAEFlatHeaderSize + ae::ContentOf(theAEDesc).size);
}

OSStatus AEFlattenDesc(const AEDesc *theAEDesc, Ptr buffer, Size bufferSize, Size *actualSize) {
  ae::Source source;
  OSErr err = ae::DescSource(theAEDesc, &source);
  if (err != noErr) return err;
  Size needed = Size(kAEFlatHeaderSize + source.size);
  if (actualSize != nullptr) *actualSize = needed;
  if (buffer == nullptr) return noErr;
  if (bufferSize < needed) return errAEBufferTooSmall;
  PutBigEndian32(buffer, kAEFlatMagic);
  PutBigEndian32(buffer + 4, kAEFlatVersion);
  PutBigEndian32(buffer + 8, source.type);
  PutBigEndian32(buffer + 12, uint32_t(source.size));
  if (source.size != 0) std::memcpy(buffer + kAEFlatHeaderSize, source.bytes, source.size);
  return noErr;
}

OSStatus AEUnflattenDescSafe(const void *buffer, Size bufferSize, AEDesc *result) {
  if (result == nullptr) return paramErr;
  AEInitializeDesc(result);
  const auto *bytes = static_cast<const uint8_t *>(buffer);
  if (bytes == nullptr || bufferSize < Size(kAEFlatHeaderSize)) return paramErr;
  if (GetBigEndian32(bytes) != kAEFlatMagic || GetBigEndian32(bytes + 4) != kAEFlatVersion) return paramErr;
  DescType type = GetBigEndian32(bytes + 8);
  size_t length = GetBigEndian32(bytes + 12);
  if (length != size_t(bufferSize) - kAEFlatHeaderSize) return paramErr;
  const uint8_t *content = bytes + kAEFlatHeaderSize;
  if (!ae::ValidContent(type, content, length, 0)) return paramErr;
  Handle h;
  OSErr err = ae::NewContentHandle({type, content, length, true}, &h);
  if (err != noErr) return err;
  result->descriptorType = type;
  result->dataHandle = h;
  return noErr;
}
