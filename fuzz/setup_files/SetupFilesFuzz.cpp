// Fuzzes "Open" through its file: the input is the whole set-up file. Whatever it holds, the
// open must leave a valid record store (or none) and read nothing outside it, and release
// every string of the host.
#include <MacMemory.h>

#include "store/Globals.h"
#include "store/RecordStore.h"
#include "store/SetupFiles.h"
#include "tests/support/FakeHostGlobals.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string &Folder() {
  static std::string folder;
  return folder;
}

const std::string &Path() {
  static const std::string path = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillcast-fuzz-setup-XXXXXX").string();
    Folder() = mkdtemp(pattern.data());
    std::atexit([] { std::filesystem::remove_all(Folder()); });
    return Folder() + "/input";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::ofstream(Path(), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char *>(data), long(size));
  InstallFakeHost();
  if (!InitDictionary(&globals.records)) return 0;
  DictionaryAppend(&globals.records);
  DictionaryWrite(&globals.records, 0, "kept", 4);
  OpenFile(Path().c_str());
  RecordStore &store = globals.records;
  if (store.data != nullptr && !DictionaryCheck(&store)) __builtin_trap();
  // Touch every record, so that a bad offset shows under AddressSanitizer.
  uint32_t sum = 0;
  for (SInt32 i = 0; store.data != nullptr && i < DictionaryItems(&store); i++) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(DictionaryData(&store, i));
    for (UInt32 j = 0; j < DictionaryLength(&store, i); j++) sum += bytes[j];
  }
  KillDictionary(&store);
  if (!FakeHost().lent.empty()) __builtin_trap();
  return int(sum & 0);
}
