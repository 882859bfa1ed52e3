// Fuzz target: a resource file from anywhere. The map is checked, then every resource is
// read the way its users read it: loaded and converted to host order, walked as a string
// list, and, for 'ALRT', 'DLOG' and 'DITL', shown as an alert or made into a dialog. No
// input may read outside the file.
#include "ResourceFile.h"

#include <Dialogs.h>
#include <MacErrors.h>
#include <Resources.h>

#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void WalkMap(const carbon::ResourceMap &map) {
  for (const carbon::ResourceEntry &entry : map.entries) {
    std::span<const uint8_t> data = carbon::ResourceData(map, entry);
    std::vector<uint8_t> copy(data.begin(), data.end());
    carbon::FlipResourceToHost(entry.type, copy);
    std::string item;
    for (int index = 0; index < 4; index++) carbon::StringListItem(data, index, &item);
  }
}

// Alerts go through the Resource Manager, so the bytes go through a real file once.
void ShowAlerts(const uint8_t *data, size_t size, const carbon::ResourceMap &map) {
  static const std::string path = "/tmp/quillcast-fuzz-" + std::to_string(getpid()) + ".rsrc";
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  if (CarbonOpenResourceFile(path.c_str()) > 0) {
    std::fflush(stderr);
    int saved = dup(2);
    int quiet = open("/dev/null", O_WRONLY);  // alerts write to standard error: keep the run readable
    if (quiet >= 0) dup2(quiet, 2);
    for (const carbon::ResourceEntry &entry : map.entries) {
      if (entry.type == kAlertResType) Alert(entry.id, nullptr);
      if (entry.type != kDialogResType) continue;
      DialogRef dialog = GetNewDialog(entry.id, nullptr, nullptr);
      if (dialog != nullptr) DisposeDialog(dialog);
    }
    std::fflush(stderr);
    if (saved >= 0) dup2(saved, 2);
    if (quiet >= 0) close(quiet);
    if (saved >= 0) close(saved);
  }
  CarbonCloseAllResourceFiles();
  std::remove(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  carbon::ResourceMap map;
  if (carbon::ParseResourceMap(std::vector<uint8_t>(data, data + size), &map) != noErr) return 0;
  WalkMap(map);
  ShowAlerts(data, size, map);
  return 0;
}
