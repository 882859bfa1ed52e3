// Internal to the carbon layer: a resource file read into memory and checked, and the
// bounded readers of the resource layouts that the layer itself interprets. Shared by the
// Resource Manager, the Dialog Manager and the resource file's fuzz target.
#pragma once

#include <MacTypes.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace carbon {

struct ResourceEntry {
  ResType type;
  int16_t id;
  uint32_t offset;  // checked: offset + length lies inside the file
  uint32_t length;
};

struct ResourceMap {
  std::vector<uint8_t> bytes;
  std::vector<ResourceEntry> entries;  // in index order
};

// Takes the file's bytes; noErr, or mapReadErr (map left empty) when anything is out of
// place.
OSErr ParseResourceMap(std::vector<uint8_t> bytes, ResourceMap *map);
std::span<const uint8_t> ResourceData(const ResourceMap &map, const ResourceEntry &entry);

// Converts the integers of a loaded resource from file order to host order where the type
// asks for it ('Err2'); other types are left alone. Never reads or writes outside data.
void FlipResourceToHost(ResType type, std::span<uint8_t> data);

// String `index` (1-based) of 'STR#' data, or false when it is not there.
bool StringListItem(std::span<const uint8_t> data, int index, std::string *item);

// A copy of a resource's data from the current resource chain, made without the Memory
// Manager (so it works when the heap is exhausted). False when not found.
bool CopyChainResource(ResType type, int16_t id, std::vector<uint8_t> *data);

}  // namespace carbon
