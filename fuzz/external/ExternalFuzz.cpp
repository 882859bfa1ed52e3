// Fuzzes ExternalMain through its arguments. An input is a run of calls separated by the
// byte 0x00; a call's arguments are separated by 0x1F, and an argument that is exactly the
// byte 0x1E is a null pointer. After each input the record store must keep its invariants;
// "Kill" then leaves the next input a store-less external.
#include <MacMemory.h>

#include "external/External.h"
#include "store/Globals.h"
#include "store/Preferences.h"
#include "store/RecordStore.h"
#include "tests/support/PluginResources.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxCalls = 64;

char *NoAnswer(intptr_t, intptr_t, intptr_t, int32_t *status) {
  *status = 1;
  return nullptr;
}

void Release(char *) {}

// Selectors of subsystems that start or talk to other processes are left out.
bool Allowed(const std::string &selector) {
  static const char *const kLeftOut[] = {"Clnt", "Encd", "Acts", "sHTM", "Strt", "Merg", "Fnsh", "FMPx",
                                         "Flds", "Retr", "Recv", "Open", "Save", "AbTo", "WaAb"};
  for (const char *code : kLeftOut) {
    if (selector.compare(0, 4, code) == 0) return false;
  }
  return true;
}

void Setup() {
  namespace fs = std::filesystem;
  std::string home = (fs::temp_directory_path() / "quillcast-fuzz-external-XXXXXX").string();
  setenv("QUILLCAST_HOME", mkdtemp(home.data()), 1);
  if (std::getenv("QUILLCAST_BUNDLE") == nullptr) {
    const char *build = std::getenv("QUILLCAST_BUILD_DIR");
    fs::path bundle =
        build ? fs::path(build) : fs::read_symlink("/proc/self/exe").parent_path() / ".." / "..";
    setenv("QUILLCAST_BUNDLE", (bundle / "Quillcast.bundle").c_str(), 1);
  }
  static XCallback table[kXSlotCount];
  for (XCallback &slot : table) slot = NoAnswer;
  const char *name;
  const XTableEntry *entries;
  XFreeRoutine release;
  getXtable(table, Release, &name, &entries, &release);
  // What an error alert loads stays cached for the process; load it before the first input.
  setenv("QUILLCAST_BUILD_DIR", fs::path(std::getenv("QUILLCAST_BUNDLE")).parent_path().c_str(), 0);
  OpenPluginResources();
}

void CallWith(std::vector<std::string> &args) {
  if (!args.empty() && !Allowed(args[0])) return;
  std::vector<char *> argv;
  argv.reserve(args.size());
  for (std::string &arg : args) argv.push_back(arg == "\x1E" ? nullptr : arg.data());
  char *result = nullptr;
  int32_t pass = 1, error = 1;
  ExternalMain(argv.data(), int32_t(argv.size()), &result, &pass, &error);
  if (pass != 0 || error != 0) __builtin_trap();
  std::free(result);
  if (globals.records.data != nullptr && !DictionaryCheck(&globals.records)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = (Setup(), true);
  (void)ready;
  std::string input(reinterpret_cast<const char *>(data), size);
  size_t calls = 0;
  for (size_t start = 0; start <= input.size() && calls < kMaxCalls; calls++) {
    size_t end = input.find('\0', start);
    if (end == std::string::npos) end = input.size();
    std::vector<std::string> args;
    for (size_t at = start; at <= end;) {
      size_t stop = input.find('\x1F', at);
      if (stop == std::string::npos || stop > end) stop = end;
      args.push_back(input.substr(at, stop - at));
      at = stop + 1;
    }
    CallWith(args);
    start = end + 1;
  }
  std::vector<std::string> kill = {"Kill"};
  CallWith(kill);
  return 0;
}
