// The flattened form of AEFlatten.h. A descriptor's data handle already holds its content in
// that form, so the writer adds the header and copies; the reader checks every byte of the
// content against the rules before it copies anything.
#include <AEDataModel.h>
#include <Endian.h>
#include <MacErrors.h>

#include "AEStorage.h"

#include <cstring>

namespace {

// count, then count items, each of whose content is valid; list items have no key.
bool ValidItems(ByteReader *items, int depth, bool isList) {
  uint32_t count = 0;
  if (depth > int(kAEFlatMaxDepth) || !ReadBigEndian32(items, &count)) return false;
  if (count > items->rest.size() / kAEFlatItemHeaderSize) return false;  // refused before any is read
  for (uint32_t i = 0; i < count; i++) {
    uint32_t key = 0, type = 0, length = 0;
    ByteReader content;
    if (!ReadBigEndian32(items, &key) || !ReadBigEndian32(items, &type) || !ReadBigEndian32(items, &length) ||
        !ReadInnerReader(items, length, &content)) {
      return false;
    }
    if (isList && key != typeWildCard) return false;
    if (!ae::ValidContent(type, content.rest.data(), content.rest.size(), depth)) return false;
  }
  return true;
}

}  // namespace

namespace ae {

bool ValidContent(DescType type, const uint8_t *bytes, size_t size, int depth) {
  if (size == 0) return !IsCompositeType(type);
  ByteReader content = ByteReaderOver(bytes, size);
  uint32_t form = 0;
  if (!ReadBigEndian32(&content, &form)) return false;
  switch (form) {
    case kAEFlatFormData:
      return !content.rest.empty() && !IsCompositeType(type);
    case kAEFlatFormList:
      return type == typeAEList && ValidItems(&content, depth + 1, true) && ReadToTheEnd(content);
    case kAEFlatFormRecord:
      return type != typeAEList && type != typeAppleEvent && ValidItems(&content, depth + 1, false) &&
             ReadToTheEnd(content);
    case kAEFlatFormEvent:
      return type == typeAppleEvent && ValidItems(&content, depth + 1, false) &&
             ValidItems(&content, depth + 1, false) && ReadToTheEnd(content);
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
  if (buffer == nullptr || bufferSize < 0) return paramErr;
  ByteReader flat = ByteReaderOver(buffer, size_t(bufferSize));
  uint32_t magic = 0, version = 0, type = 0, length = 0;
  ByteReader content;
  if (!ReadBigEndian32(&flat, &magic) || !ReadBigEndian32(&flat, &version) ||
      !ReadBigEndian32(&flat, &type) || !ReadBigEndian32(&flat, &length) ||
      !ReadInnerReader(&flat, length, &content) || !ReadToTheEnd(flat)) {
    return paramErr;
  }
  if (magic != kAEFlatMagic || version != kAEFlatVersion) return paramErr;
  if (!ae::ValidContent(type, content.rest.data(), length, 0)) return paramErr;
  Handle h;
  OSErr err = ae::NewContentHandle({type, content.rest.data(), length, true}, &h);
  if (err != noErr) return err;
  result->descriptorType = type;
  result->dataHandle = h;
  return noErr;
}
