// Fuzzes the preferences reader through its file: the input is the whole file. The load
// must leave a valid store (the one it had, or the one it read) and read nothing outside it.
#include <Folders.h>
#include <MacErrors.h>
#include <MacMemory.h>

#include "store/Preferences.h"
#include "store/RecordStore.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string Setup(FSSpec *spec) {
  namespace fs = std::filesystem;
  std::string home = (fs::temp_directory_path() / "quillcast-fuzz-prefs-XXXXXX").string();
  setenv("QUILLCAST_HOME", mkdtemp(home.data()), 1);
  int16_t vRefNum = 0;
  long dirID = 0;
  FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vRefNum, &dirID);
  FSMakeFSSpec(vRefNum, int32_t(dirID), reinterpret_cast<const unsigned char *>("\x05input"), spec);
  return home + "/Preferences/input";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static FSSpec spec;
  static const std::string path = Setup(&spec);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char *>(data), long(size));

  RecordStore store{};
  if (!InitDictionary(&store)) return 0;
  DictionaryAppend(&store);
  DictionaryWrite(&store, 0, "kept", 4);
  SInt16 fileRef = 0;
  if (FSpOpenDF(&spec, fsRdPerm, &fileRef) == noErr) {
    std::free(ReadPreferences(fileRef, &store));
    FSClose(fileRef);
  }
  if (!DictionaryCheck(&store)) __builtin_trap();
  // Touch every record, so that a bad offset shows under AddressSanitizer.
  uint32_t sum = 0;
  for (SInt32 i = 0; i < DictionaryItems(&store); i++) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(DictionaryData(&store, i));
    for (UInt32 j = 0; j < DictionaryLength(&store, i); j++) sum += bytes[j];
  }
  KillDictionary(&store);
  return int(sum & 0);
}
