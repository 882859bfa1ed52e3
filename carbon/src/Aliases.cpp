// Alias Manager: minimal full-path aliases, made and read through the byte-order helpers.
#include <Aliases.h>

#include <Endian.h>
#include <MacErrors.h>
#include <MacMemory.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr Size kHeadSize = 10;
constexpr uint16_t kMinimalFullPath = 1;
constexpr Size kMaxPath = 32767;

// The path an alias holds, checked against the handle's own size; false when the bytes are
// not an alias of this layer.
bool ReadAliasPath(AliasHandle alias, std::string *path) {
  if (alias == nullptr || *alias == nullptr) return false;
  auto handle = reinterpret_cast<Handle>(alias);
  ByteReader reader = ByteReaderOver(*handle, size_t(GetHandleSize(handle)));
  uint32_t reserved = 0;
  uint16_t recorded = 0, kind = 0, length = 0;
  std::span<const uint8_t> text;
  if (!ReadBigEndian32(&reader, &reserved) || !ReadBigEndian16(&reader, &recorded) ||
      !ReadBigEndian16(&reader, &kind) || !ReadBigEndian16(&reader, &length) || reserved != 0 ||
      kind != kMinimalFullPath || recorded != kHeadSize + length || length > kMaxPath ||
      !ReadByteRun(&reader, length, &text)) {
    return false;
  }
  path->assign(text.begin(), text.end());
  return true;
}

// Component `index` counted back from the last one (0); empty components do not count.
std::string PathComponent(const std::string &path, int index) {
  std::vector<std::string> components;
  size_t start = 0;
  for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
    if (slash > start) components.push_back(path.substr(start, slash - start));
  }
  if (start < path.size()) components.push_back(path.substr(start));
  if (size_t(index) >= components.size()) return {};
  return components[components.size() - 1 - size_t(index)];
}

}  // namespace

OSErr NewAliasMinimalFromFullPath(short fullPathLength, const void *fullPath, ConstStr32Param,
                                  ConstStr31Param, AliasHandle *alias) {
  if (alias == nullptr) return paramErr;
  *alias = nullptr;
  if (fullPathLength < 1 || fullPath == nullptr) return paramErr;
  Handle handle = NewHandle(kHeadSize + fullPathLength);
  if (handle == nullptr) return MemError();
  auto *bytes = reinterpret_cast<uint8_t *>(*handle);
  PutBigEndian32(bytes, 0);
  PutBigEndian16(bytes + 4, uint16_t(kHeadSize + fullPathLength));
  PutBigEndian16(bytes + 6, kMinimalFullPath);
  PutBigEndian16(bytes + 8, uint16_t(fullPathLength));
  std::memcpy(bytes + kHeadSize, fullPath, size_t(fullPathLength));
  *alias = reinterpret_cast<AliasHandle>(handle);
  return noErr;
}

OSErr FSResolveAlias(const FSRef *, AliasHandle alias, FSRef *target, Boolean *wasChanged) {
  if (wasChanged != nullptr) *wasChanged = false;
  std::string path;
  if (target == nullptr || !ReadAliasPath(alias, &path)) return paramErr;
  // A NUL inside the path could only name some other, shorter path.
  if (path.find('\0') != std::string::npos) return fnfErr;
  return OSErr(FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), target, nullptr));
}

OSErr GetAliasInfo(AliasHandle alias, AliasInfoType index, Str63 theString) {
  std::string path;
  if (theString == nullptr || !ReadAliasPath(alias, &path)) return paramErr;
  std::string name = index >= asiAliasName ? PathComponent(path, index) : std::string();
  if (name.size() > 63) name.resize(63);
  theString[0] = static_cast<unsigned char>(name.size());
  std::copy(name.begin(), name.end(), theString + 1);
  return noErr;
}
