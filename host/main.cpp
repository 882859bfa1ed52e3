// quillcast: the scripting host. It loads the Quillcast bundle as a scripting host would and
// runs host scripts against it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "host/Host.h"
#include "host/Script.h"

namespace {

constexpr int kUsageError = 2;

void Usage() {
  std::fprintf(stderr,
               "usage: quillcast run SCRIPT\n"
               "  Loads the Quillcast bundle (QUILLCAST_BUNDLE, or Quillcast.bundle beside this program)\n"
               "  and runs the host script SCRIPT against it.\n");
}

int RunCommand(const char *path) {
  std::error_code ignored;
  std::ifstream in(path, std::ios::binary);
  if (!std::filesystem::is_regular_file(path, ignored) || !in) {
    std::fprintf(stderr, "quillcast: cannot read %s\n", path);
    return kUsageError;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string error;
  std::optional<host::Script> script = host::ParseScript(path, text, &error);
  if (!script) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kUsageError;
  }
  // The plug-in's carbon layer finds its bundle (and resources) through the same variable.
  std::string bundle = host::DefaultBundlePath();
  setenv("QUILLCAST_BUNDLE", bundle.c_str(), 1);
  host::External external;
  if (!host::LoadExternal(bundle, &external, &error)) {
    std::fprintf(stderr, "quillcast: %s\n", error.c_str());
    return kUsageError;
  }
  host::HostState state;
  return host::RunScript(*script, external, &state);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "run") == 0) return RunCommand(argv[2]);
  // Installing the stand-in applications onto the Applications volume comes later.
  if (argc == 2 && std::strcmp(argv[1], "install-apps") == 0) return 0;
  Usage();
  return kUsageError;
}
