// A volume's desktop database may have been written by anyone: every line must be taken or
// passed over safely, and what is taken must survive the writer unchanged.
#include "DesktopDatabase.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  std::vector<carbon::DesktopEntry> entries = carbon::ParseDesktopDatabase(text);
  std::vector<carbon::DesktopEntry> again =
      carbon::ParseDesktopDatabase(carbon::FormatDesktopDatabase(entries));
  if (again.size() != entries.size()) std::abort();
  for (size_t i = 0; i < entries.size(); i++) {
    if (again[i].creator != entries[i].creator || again[i].relativePath != entries[i].relativePath)
      std::abort();
    if (entries[i].relativePath.find("..") == 0 || entries[i].relativePath[0] == '/') std::abort();
  }
  return 0;
}
