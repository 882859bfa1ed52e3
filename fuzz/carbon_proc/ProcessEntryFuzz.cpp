// Process-table entries are written by other processes: any text must parse or be refused,
// and what parses must come back the same through the writer.
#include "ProcessTable.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  carbon::ProcessEntry entry;
  if (!carbon::ParseProcessEntry(text, &entry)) return 0;
  carbon::ProcessEntry again;
  if (!carbon::ParseProcessEntry(carbon::FormatProcessEntry(entry), &again) || again.pid != entry.pid ||
      again.creator != entry.creator || again.name != entry.name || again.socketPath != entry.socketPath ||
      again.order != entry.order) {
    std::abort();
  }
  return 0;
}
