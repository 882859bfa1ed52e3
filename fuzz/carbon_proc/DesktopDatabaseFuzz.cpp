// A volume's desktop database may have been written by anyone: every line must be taken or
// passed over safely, and what is taken must survive the writer unchanged.
#include "DesktopDatabase.h"

#include <algorithm>
#include <cstdlib>

namespace {

// A name such as "..x.app" stays inside; only a component that is exactly "." or "..", an
// empty one, or a leading "/" could leave the volume.
bool InsideVolume(const std::string &path) {
  if (path.empty() || path[0] == '/') return false;
  for (size_t start = 0; start <= path.size();) {
    size_t end = std::min(path.find('/', start), path.size());
    std::string part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  std::vector<carbon::DesktopEntry> entries = carbon::ParseDesktopDatabase(text);
  std::vector<carbon::DesktopEntry> again =
      carbon::ParseDesktopDatabase(carbon::FormatDesktopDatabase(entries));
  if (again.size() != entries.size()) std::abort();
  for (size_t i = 0; i < entries.size(); i++) {
    if (again[i].creator != entries[i].creator || again[i].relativePath != entries[i].relativePath)
      std::abort();
    if (!InsideVolume(entries[i].relativePath)) std::abort();
  }
  return 0;
}
