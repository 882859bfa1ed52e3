// Fuzzes the host script parser: any text either parses into commands whose loops are
// paired, or is refused with a message that names a line.
#include "host/Script.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  std::string error;
  std::optional<host::Script> script = host::ParseScript("fuzz.qcs", text, &error);
  if (!script) {
    if (error.rfind("fuzz.qcs:", 0) != 0) __builtin_trap();
    return 0;
  }
  for (size_t i = 0; i < script->commands.size(); i++) {
    const host::Command &command = script->commands[i];
    if (command.name == "for" && script->commands[command.jump].jump != i) __builtin_trap();
  }
  return 0;
}
