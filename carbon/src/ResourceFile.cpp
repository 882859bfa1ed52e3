// Checking a resource file and reading the layouts inside it. Everything here treats the
// bytes as hostile: each offset and length is compared with what is really there before use.
#include "ResourceFile.h"

#include <ResourceFormat.h>

#include <Endian.h>
#include <MacErrors.h>
#include <Resources.h>

#include <cstring>

namespace carbon {

namespace {

bool ParseEntries(const std::vector<uint8_t> &bytes, std::vector<ResourceEntry> *entries) {
  uint64_t count = GetBigEndian32(&bytes[rsrc::kCountAt]);
  uint64_t tableEnd = rsrc::kHeaderSize + count * rsrc::kEntrySize;
  if (tableEnd > bytes.size()) return false;
  entries->reserve(size_t(count));
  for (uint64_t i = 0; i < count; i++) {
    const uint8_t *at = &bytes[rsrc::kHeaderSize + i * rsrc::kEntrySize];
    ResourceEntry entry{GetBigEndian32(at + rsrc::kTypeAt), int16_t(GetBigEndian16(at + rsrc::kIDAt)),
                        GetBigEndian32(at + rsrc::kOffsetAt), GetBigEndian32(at + rsrc::kLengthAt)};
    if (entry.offset < tableEnd || uint64_t(entry.offset) + entry.length > bytes.size()) return false;
    entries->push_back(entry);
  }
  return true;
}

}  // namespace

OSErr ParseResourceMap(std::vector<uint8_t> bytes, ResourceMap *map) {
  map->bytes.clear();
  map->entries.clear();
  if (bytes.size() < rsrc::kHeaderSize || GetBigEndian32(&bytes[rsrc::kMagicAt]) != rsrc::kMagic ||
      GetBigEndian16(&bytes[rsrc::kVersionAt]) != rsrc::kVersion) {
    return mapReadErr;
  }
  std::vector<ResourceEntry> entries;
  if (!ParseEntries(bytes, &entries)) return mapReadErr;
  map->bytes = std::move(bytes);
  map->entries = std::move(entries);
  return noErr;
}

std::span<const uint8_t> ResourceData(const ResourceMap &map, const ResourceEntry &entry) {
  return std::span<const uint8_t>(map.bytes).subspan(entry.offset, entry.length);
}

void FlipResourceToHost(ResType type, std::span<uint8_t> data) {
  if (type != kErrorMessagesResType || data.size() < rsrc::kErr2CountSize) return;
  uint16_t count = GetBigEndian16(data.data());
  std::memcpy(data.data(), &count, sizeof count);
  for (size_t i = 0; i < count; i++) {
    size_t at = rsrc::kErr2CountSize + i * rsrc::kErr2EntrySize + rsrc::kErr2CodeAt;
    if (at + 2 > data.size()) break;
    uint16_t code = GetBigEndian16(&data[at]);
    std::memcpy(&data[at], &code, sizeof code);
  }
}

bool StringListItem(std::span<const uint8_t> data, int index, std::string *item) {
  if (data.size() < 2 || index < 1 || index > GetBigEndian16(data.data())) return false;
  size_t at = 2;
  for (int i = 1;; i++) {
    if (at >= data.size()) return false;
    size_t length = data[at];
    if (at + 1 + length > data.size()) return false;
    if (i == index) {
      item->assign(reinterpret_cast<const char *>(&data[at + 1]), length);
      return true;
    }
    at += 1 + length;
  }
}

}  // namespace carbon
