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

// The header's count, then that many entries, each of whose data lies past the table and
// inside the file.
bool ReadHeaderAndTable(const std::vector<uint8_t> &bytes, std::vector<ResourceEntry> *entries) {
  ByteReader file = ByteReaderOver(bytes.data(), bytes.size());
  uint32_t magic = 0, count = 0;
  uint16_t version = 0;
  ByteReader table;
  if (!ReadBigEndian32(&file, &magic) || !ReadBigEndian16(&file, &version) ||
      !ReadByteRun(&file, 2, nullptr) || !ReadBigEndian32(&file, &count) || !ReadByteRun(&file, 4, nullptr) ||
      !ReadInnerReader(&file, size_t(count) * rsrc::kEntrySize, &table)) {
    return false;
  }
  if (magic != rsrc::kMagic || version != rsrc::kVersion) return false;
  const uint64_t tableEnd = bytes.size() - file.rest.size();
  entries->reserve(count);
  for (uint32_t i = 0; i < count; i++) {
    ResourceEntry entry{};
    uint16_t id = 0;
    if (!ReadBigEndian32(&table, &entry.type) || !ReadBigEndian16(&table, &id) ||
        !ReadByteRun(&table, 2, nullptr) || !ReadBigEndian32(&table, &entry.offset) ||
        !ReadBigEndian32(&table, &entry.length)) {
      return false;
    }
    entry.id = int16_t(id);
    if (entry.offset < tableEnd || uint64_t(entry.offset) + entry.length > bytes.size()) return false;
    entries->push_back(entry);
  }
  return true;
}

}  // namespace

OSErr ParseResourceMap(std::vector<uint8_t> bytes, ResourceMap *map) {
  map->bytes.clear();
  map->entries.clear();
  std::vector<ResourceEntry> entries;
  if (!ReadHeaderAndTable(bytes, &entries)) return mapReadErr;
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
  ByteReader list{data};
  uint16_t count = 0;
  if (!ReadBigEndian16(&list, &count) || index < 1 || index > count) return false;
  for (int i = 1;; i++) {
    uint8_t length = 0;
    std::span<const uint8_t> text;
    if (!ReadByte(&list, &length) || !ReadByteRun(&list, length, &text)) return false;
    if (i == index) {
      item->assign(text.begin(), text.end());
      return true;
    }
  }
}

}  // namespace carbon
