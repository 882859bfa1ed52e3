// quillcast: the scripting host. It loads the Quillcast bundle as a scripting host would and
// runs host scripts against it, and installs the stand-in applications of the build on the
// emulated machine.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/Deliver.h"
#include "host/Host.h"
#include "host/MergeCommand.h"
#include "host/Script.h"
#include "host/StandIns.h"

namespace {

constexpr int kUsageError = 2;

void Usage() {
  std::fprintf(stderr,
               "usage: quillcast run SCRIPT\n"
               "  Loads the Quillcast bundle (QUILLCAST_BUNDLE, or Quillcast.bundle beside this program)\n"
               "  and runs the host script SCRIPT against it. Stand-in applications missing from\n"
               "  $QUILLCAST_HOME/Applications are installed first, unless QUILLCAST_NO_AUTO_INSTALL=1.\n"
               "usage: quillcast merge --data FILE.csv --template FILE [OPTIONS]\n"
               "  Merges one message per record of the CSV file through the Quillcast external into an\n"
               "  email client, after checking the merge; quillcast merge --help lists the options.\n"
               "usage: quillcast install-apps [VOLUME]\n"
               "  Installs the stand-in applications of this build (apps/bin beside this program) on\n"
               "  VOLUME, by default $QUILLCAST_HOME/Applications.\n"
               "usage: quillcast open-app NAME [DOCUMENT...]\n"
               "  Opens the documents with the installed application NAME, launching it when it is not\n"
               "  running, as a user would (for example: open-app \"FileMaker Pro\" contacts.sqlite).\n");
  host::DeliverUsage(stderr);
}

int InstallCommand(const char *volumeArgument) {
  if (!host::MachineUsable()) return kUsageError;
  std::string folder = host::StandInFolder();
  std::vector<std::string> executables = host::StandInExecutables(folder);
  if (executables.empty()) {
    std::fprintf(stderr, "quillcast: no stand-in applications in %s (build them first)\n", folder.c_str());
    return 1;
  }
  std::error_code ignored;
  std::string volume = volumeArgument != nullptr
                           ? std::filesystem::absolute(volumeArgument, ignored).lexically_normal().string()
                           : host::ApplicationsVolume();
  return host::InstallStandIns(executables, volume, false, stdout) == 0 ? 0 : 1;
}

int OpenAppCommand(int count, char **arguments) {
  host::MachineHome();
  host::InstallMissingStandIns(stderr);
  std::string message;
  std::vector<std::string> documents(arguments + 1, arguments + count);
  if (host::OpenApplication(arguments[0], documents, &message) != 0) {
    std::fprintf(stderr, "quillcast: %s\n", message.c_str());
    return 1;
  }
  return 0;
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
  if (!host::MachineUsable()) return kUsageError;
  host::MachineHome();
  host::InstallMissingStandIns(stderr);
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
  if (argc >= 2 && std::strcmp(argv[1], "merge") == 0) return host::MergeCommand(argc - 1, argv + 1);
  if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "install-apps") == 0)
    return InstallCommand(argc == 3 ? argv[2] : nullptr);
  if (argc >= 2 && std::strcmp(argv[1], "deliver") == 0) return host::DeliverCommand(argc - 2, argv + 2);
  if (argc >= 3 && std::strcmp(argv[1], "open-app") == 0) return OpenAppCommand(argc - 2, argv + 2);
  Usage();
  return kUsageError;
}
