// The scripting host's side of the external: loading the bundle, the callback table served
// from the host's own globals, and the run of a parsed script.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "external/host/HostABI.h"
#include "host/Script.h"

namespace host {

// The loaded external. The bundle stays loaded for the life of the process.
struct External {
  std::string bundlePath;
  const char *name = nullptr;
  const XTableEntry *table = nullptr;
  XFreeRoutine release = nullptr;
  XHandler handler = nullptr;
};

// The bundle folder: QUILLCAST_BUNDLE, or Quillcast.bundle beside this program.
std::string DefaultBundlePath();

// Loads the bundle and calls getXtable with the host's callback table. False with error set
// when the bundle cannot be loaded or its table has no function.
bool LoadExternal(const std::string &bundlePath, External *external, std::string *error);

// The state a script runs against: host globals and script variables. The callback slots
// reach it through one process-wide pointer while a script runs.
struct HostState {
  std::map<std::string, std::string> globals;
  std::map<std::string, std::string> variables;  // "let", loop variables, result
  std::set<char *> lent;                         // strings handed to the external, not yet released
  std::string misuse;                            // the first release of a string the host did not lend
};

// One call of the external, as a script's "call" makes it, with its callbacks served from
// state: the result, or nothing when the external returned none. A null entry of args is a
// null argument.
std::optional<std::string> CallExternal(const External &external, HostState *state,
                                        const std::vector<const char *> &args);

// Runs the script; 0 on success, 1 when an expectation failed, 2 on a script error. Failures
// are written to standard error as "path:line: message".
int RunScript(const Script &script, const External &external, HostState *state);

}  // namespace host
