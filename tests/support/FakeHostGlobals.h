// Test helper: a host whose callback table serves host globals from a map, for code that
// reads and sets globals without a whole external (set-up files); a global never set reads
// as null, as in the quillcast host. Every other slot answers nothing. Strings handed to the
// plug-in are counted, so a test can check that each one was released exactly once.
#pragma once

#include "external/host/HostABI.h"
#include "external/host/HostCallbacks.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

struct FakeHostGlobals {
  std::map<std::string, std::string> globals;
  std::set<char *> lent;
};

inline FakeHostGlobals &FakeHost() {
  static FakeHostGlobals host;
  return host;
}

inline char *FakeHostLend(const std::string &value) {
  char *copy = static_cast<char *>(std::malloc(value.size() + 1));
  std::memcpy(copy, value.c_str(), value.size() + 1);
  FakeHost().lent.insert(copy);
  return copy;
}

inline char *FakeHostGetGlobal(intptr_t name, intptr_t, intptr_t, int32_t *status) {
  std::string key = reinterpret_cast<const char *>(name);  // NOLINT(performance-no-int-to-ptr)
  auto found = FakeHost().globals.find(key);
  *status = found == FakeHost().globals.end() ? 1 : 0;  // a global never set cannot be read
  return *status == 0 ? FakeHostLend(found->second) : nullptr;
}

inline char *FakeHostSetGlobal(intptr_t name, intptr_t value, intptr_t, int32_t *status) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  FakeHost().globals[reinterpret_cast<const char *>(name)] = reinterpret_cast<const char *>(value);
  *status = 0;
  return nullptr;
}

inline char *FakeHostNothing(intptr_t, intptr_t, intptr_t, int32_t *status) {
  *status = 0;
  return nullptr;
}

inline void FakeHostRelease(char *text) {
  if (FakeHost().lent.erase(text) == 1) std::free(text);
}

// Makes the fake host the plug-in's host, with no globals.
inline void InstallFakeHost() {
  static std::vector<XCallback> table = [] {
    std::vector<XCallback> slots(kXSlotCount, FakeHostNothing);
    slots[kXSlotGetGlobal] = FakeHostGetGlobal;
    slots[kXSlotSetGlobal] = FakeHostSetGlobal;
    return slots;
  }();
  FakeHost() = FakeHostGlobals{};
  SetHostCallbacks(table.data(), FakeHostRelease);
}
