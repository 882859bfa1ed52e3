// The host's side of the external: bundle loading, the callback slots and the script run.
#include "host/Host.h"

#include <MachineFolder.h>

#include <dlfcn.h>
#include <regex.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "host/StandIns.h"

namespace host {

namespace {

constexpr int kPassed = 0;
constexpr int kExpectationFailed = 1;
constexpr int kScriptError = 2;

// How long quit-app and kill-app wait for the applications to be gone. A quitting mail
// client first writes what it still holds.
constexpr double kQuitSeconds = 20;
constexpr double kKillSeconds = 5;

HostState *g_state = nullptr;  // the state the callback slots serve while a script runs

// Callback arguments are pointer-sized words that carry the external's strings.
std::string Text(intptr_t word) {
  const char *p = reinterpret_cast<const char *>(word);  // NOLINT(performance-no-int-to-ptr)
  return p != nullptr ? std::string(p) : std::string();
}

// A malloc copy of value that the external must hand back through the delete routine.
char *Lend(const std::string &value) {
  auto *copy = static_cast<char *>(std::malloc(value.size() + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, value.c_str(), value.size() + 1);
  g_state->lent.insert(copy);
  return copy;
}

void DeleteLent(char *text) {
  if (g_state->lent.erase(text) == 1) {
    std::free(text);
  } else if (g_state->misuse.empty()) {
    g_state->misuse = "the external released a string that the host had not lent (or released it twice)";
  }
}

char *Unsupported(intptr_t, intptr_t, intptr_t, int32_t *status) {
  if (status != nullptr) *status = 1;
  return nullptr;
}

char *SlotSendCardMessage(intptr_t message, intptr_t, intptr_t, int32_t *status) {
  g_state->variables["message"] = Text(message);
  if (status != nullptr) *status = 0;
  return nullptr;
}

char *SlotEvalExpr(intptr_t expression, intptr_t, intptr_t, int32_t *status) {
  if (status != nullptr) *status = 0;
  return Lend(Text(expression));
}

char *FromMap(const std::map<std::string, std::string> &map, intptr_t name, int32_t *status) {
  auto found = map.find(Text(name));
  if (status != nullptr) *status = found == map.end() ? 1 : 0;
  return found == map.end() ? nullptr : Lend(found->second);
}

char *SlotGetGlobal(intptr_t name, intptr_t, intptr_t, int32_t *status) {
  return FromMap(g_state->globals, name, status);
}

char *SlotSetGlobal(intptr_t name, intptr_t value, intptr_t, int32_t *status) {
  g_state->globals[Text(name)] = Text(value);
  if (status != nullptr) *status = 0;
  return nullptr;
}

char *SlotGetVariable(intptr_t name, intptr_t, intptr_t, int32_t *status) {
  return FromMap(g_state->variables, name, status);
}

char *SlotSetVariable(intptr_t name, intptr_t value, intptr_t, int32_t *status) {
  g_state->variables[Text(name)] = Text(value);
  if (status != nullptr) *status = 0;
  return nullptr;
}

// Slots 0 .. kXSlotCount - 1; what the host does not offer answers null with status 1.
const XCallback *CallbackTable() {
  static XCallback table[kXSlotCount];
  for (XCallback &slot : table) slot = Unsupported;
  table[kXSlotSendCardMessage] = SlotSendCardMessage;
  table[kXSlotEvalExpr] = SlotEvalExpr;
  table[kXSlotGetGlobal] = SlotGetGlobal;
  table[kXSlotSetGlobal] = SlotSetGlobal;
  table[kXSlotGetVariable] = SlotGetVariable;
  table[kXSlotSetVariable] = SlotSetVariable;
  return table;
}

bool ReadFile(const std::string &path, std::string *bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The printable form of bytes for messages: escapes for everything but plain ASCII.
std::string Shown(const std::string &bytes, bool none = false) {
  if (none) return "(nothing)";
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

bool ParseInteger(const std::string &text, long long *value) {
  if (text.empty() || text.size() > 18) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  long long result = 0;
  for (; i < text.size(); i++) {
    if (text[i] < '0' || text[i] > '9') return false;
    result = result * 10 + (text[i] - '0');
  }
  *value = text[0] == '-' ? -result : result;
  return true;
}

// Runs one script: the commands in order, loops through their jumps.
class Runner {
 public:
  Runner(const Script &script, const External &external, HostState *state)
      : script_(script), external_(external), state_(*state) {}

  int Run() {
    for (pc_ = 0; pc_ < script_.commands.size();) {
      const Command &command = script_.commands[pc_];
      line_ = command.line;
      size_t next = pc_ + 1;
      int status = Execute(command, &next);
      if (status != kPassed) return status;
      pc_ = next;
    }
    if (!state_.lent.empty()) {
      return Fail(kExpectationFailed,
                  std::to_string(state_.lent.size()) + " string(s) lent to the external were never released");
    }
    return kPassed;
  }

 private:
  struct Loop {
    std::string variable;
    long long current;
    long long last;
  };

  int Fail(int status, const std::string &message) {
    std::fprintf(stderr, "%s:%d: %s\n", script_.path.c_str(), line_, message.c_str());
    return status;
  }

  bool Substitute(const Argument &arg, std::string *out, std::string *error) {
    out->clear();
    for (const Piece &piece : arg.pieces) {
      if (!piece.variable) {
        *out += piece.text;
        continue;
      }
      auto found = state_.variables.find(piece.text);
      if (found != state_.variables.end()) {
        *out += found->second;
      } else if (const char *env = std::getenv(piece.text.c_str())) {
        *out += env;
      } else {
        *error = "unknown variable $" + piece.text;
        return false;
      }
    }
    return true;
  }

  // All arguments substituted; a script error (with its message) when a variable is unknown.
  int Arguments(const Command &command, std::vector<std::string> *values) {
    values->resize(command.args.size());
    std::string error;
    for (size_t i = 0; i < command.args.size(); i++) {
      if (!Substitute(command.args[i], &(*values)[i], &error)) return Fail(kScriptError, error);
    }
    return kPassed;
  }

  int Execute(const Command &command, size_t *next) {
    std::vector<std::string> args;
    if (int status = Arguments(command, &args); status != kPassed) return status;
    const std::string &name = command.name;
    if (name == "call") return Call(command, args);
    if (name == "print") return Print(args, false);
    if (name == "show") return Print(args, true);
    if (name == "set") return state_.globals[args[0]] = args[1], kPassed;
    if (name == "unset") return state_.globals.erase(args[0]), kPassed;
    if (name == "get") return Get(args[0]);
    if (name == "let") return state_.variables[args[0]] = args[1], kPassed;
    if (name == "for") return For(command, args, next);
    if (name == "end") return End(command, next);
    if (name == "write-file") return WriteFile(args[0], args[1]);
    if (name == "remove-file") return RemoveFile(args[0]);
    if (name == "setenv" || name == "unsetenv") return Environment(name, args);
    if (name == "running") return Running(args[0]);
    if (name == "quit-app" || name == "kill-app") return StopApplications(name, args[0]);
    if (name == "open-app") return OpenApp(args);
    return Expect(name, args);
  }

  // The environment of the host, which the plug-in reads (QUILLCAST_AE_TRACE) and the
  // applications it launches from now on inherit.
  int Environment(const std::string &name, const std::vector<std::string> &args) {
    const std::string &variable = args[0];
    if (variable.empty() || variable.find('=') != std::string::npos ||
        variable.find('\0') != std::string::npos) {
      return Fail(kScriptError, "bad environment variable name " + Shown(variable));
    }
    if (name == "setenv") {
      setenv(variable.c_str(), args[1].c_str(), 1);
    } else {
      unsetenv(variable.c_str());
    }
    return kPassed;
  }

  int Running(const std::string &application) {
    resultNone_ = false;
    result_ = RunningApplications(application).empty() ? "false" : "true";
    state_.variables["result"] = result_;
    return kPassed;
  }

  int OpenApp(const std::vector<std::string> &args) {
    std::string message;
    if (OpenApplication(args[0], std::vector<std::string>(args.begin() + 1, args.end()), &message) != noErr) {
      return Fail(kExpectationFailed, message);
    }
    return kPassed;
  }

  // quit-app quits as a user would (the application writes what it holds); kill-app is a
  // crash. Both wait until the processes are gone.
  int StopApplications(const std::string &name, const std::string &application) {
    if (RunningApplications(application).empty()) {
      return Fail(kExpectationFailed, "no application " + Shown(application) + " is running");
    }
    bool gone = name == "quit-app" ? QuitApplications(application, kQuitSeconds)
                                   : KillApplications(application, kKillSeconds);
    if (!gone) {
      return Fail(kExpectationFailed, "application " + Shown(application) + " did not go away");
    }
    return kPassed;
  }

  int Expect(const std::string &name, const std::vector<std::string> &args) {
    if (name == "expect" && (resultNone_ || result_ != args[0])) {
      return Fail(kExpectationFailed, "expected " + Shown(args[0]) + ", got " + Shown(result_, resultNone_));
    }
    if (name == "expect-none" && !resultNone_) {
      return Fail(kExpectationFailed, "expected nothing, got " + Shown(result_));
    }
    if (name == "expect-match") return ExpectMatch(args[0]);
    if (name == "expect-global") {
      auto found = state_.globals.find(args[0]);
      bool none = found == state_.globals.end();
      if (none || found->second != args[1]) {
        return Fail(kExpectationFailed, "expected global " + args[0] + " to be " + Shown(args[1]) + ", got " +
                                            Shown(none ? "" : found->second, none));
      }
    }
    if (name == "expect-file") return ExpectFile(args[0], args[1]);
    if (name == "expect-no-file" && std::filesystem::exists(args[0])) {
      return Fail(kExpectationFailed, "expected no file " + args[0]);
    }
    return kPassed;
  }

  int Call(const Command &command, const std::vector<std::string> &args) {
    // The external may change its arguments in place, so each gets its own buffer.
    std::vector<std::vector<char>> buffers(args.size());
    std::vector<char *> argv(args.size());
    for (size_t i = 0; i < args.size(); i++) {
      if (command.args[i].nil) continue;
      buffers[i].assign(args[i].begin(), args[i].end());
      buffers[i].push_back(0);
      argv[i] = buffers[i].data();
    }
    char *result = nullptr;
    int32_t pass = -1, error = -1;
    external_.handler(argv.data(), int32_t(argv.size()), &result, &pass, &error);
    resultNone_ = result == nullptr;
    result_ = result != nullptr ? std::string(result) : std::string();
    if (result != nullptr) external_.release(result);
    state_.variables["result"] = result_;
    if (!state_.misuse.empty()) return Fail(kExpectationFailed, state_.misuse);
    if (pass != 0 || error != 0) {
      return Fail(kExpectationFailed, "the external set pass " + std::to_string(pass) + " and error " +
                                          std::to_string(error) + " (both must be 0)");
    }
    return kPassed;
  }

  // "print" writes the bytes as they are; "show" writes each argument in its escaped form.
  int Print(const std::vector<std::string> &args, bool escaped) {
    std::string line;
    for (size_t i = 0; i < args.size(); i++)
      line += (i > 0 ? " " : "") + (escaped ? Shown(args[i]) : args[i]);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return kPassed;
  }

  int Get(const std::string &name) {
    auto found = state_.globals.find(name);
    resultNone_ = found == state_.globals.end();
    result_ = resultNone_ ? std::string() : found->second;
    state_.variables["result"] = result_;
    return kPassed;
  }

  int ExpectMatch(const std::string &pattern) {
    regex_t regex;
    if (pattern.find('\0') != std::string::npos ||
        regcomp(&regex, pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
      return Fail(kScriptError, "bad regular expression " + Shown(pattern));
    }
    // The result is matched up to its first NUL, as the external returned it.
    bool matched = regexec(&regex, result_.c_str(), 0, nullptr, 0) == 0;
    regfree(&regex);
    if (!matched || resultNone_) {
      return Fail(kExpectationFailed,
                  "expected a match of " + Shown(pattern) + ", got " + Shown(result_, resultNone_));
    }
    return kPassed;
  }

  int ExpectFile(const std::string &path, const std::string &wanted) {
    std::string bytes;
    if (!ReadFile(path, &bytes)) return Fail(kExpectationFailed, "expected a file " + path);
    if (bytes != wanted) {
      return Fail(kExpectationFailed,
                  "expected " + path + " to hold " + Shown(wanted) + ", it holds " + Shown(bytes));
    }
    return kPassed;
  }

  // The folders it makes are 0700, and a link at path is replaced, never written through.
  int WriteFile(const std::string &path, const std::string &bytes) {
    std::filesystem::path file(path);
    if (file.has_parent_path()) carbon::MakePrivateFolders(file.parent_path().string());
    if (int error = carbon::ReplaceFileContents(path, bytes, false); error != 0)
      return Fail(kScriptError, "cannot write " + path + ": " + std::strerror(error));
    return kPassed;
  }

  int RemoveFile(const std::string &path) {
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error) return Fail(kScriptError, "cannot remove " + path + ": " + error.message());
    return kPassed;
  }

  int For(const Command &command, const std::vector<std::string> &args, size_t *next) {
    long long first = 0, last = 0;
    if (!ParseInteger(args[1], &first) || !ParseInteger(args[2], &last)) {
      return Fail(kScriptError,
                  "\"for\" needs two whole numbers, got " + Shown(args[1]) + " and " + Shown(args[2]));
    }
    if (first > last) {
      *next = command.jump + 1;
      return kPassed;
    }
    loops_.push_back(Loop{args[0], first, last});
    state_.variables[args[0]] = std::to_string(first);
    return kPassed;
  }

  int End(const Command &command, size_t *next) {
    Loop &loop = loops_.back();
    if (loop.current < loop.last) {
      loop.current++;
      state_.variables[loop.variable] = std::to_string(loop.current);
      *next = command.jump + 1;
    } else {
      loops_.pop_back();
    }
    return kPassed;
  }

  const Script &script_;
  const External &external_;
  HostState &state_;
  std::vector<Loop> loops_;
  std::string result_;
  bool resultNone_ = true;
  size_t pc_ = 0;
  int line_ = 0;
};

}  // namespace

std::string DefaultBundlePath() {
  if (const char *bundle = std::getenv("QUILLCAST_BUNDLE"); bundle != nullptr && *bundle != 0) return bundle;
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return (self.parent_path() / "Quillcast.bundle").string();
}

bool LoadExternal(const std::string &bundlePath, External *external, std::string *error) {
  std::string object = bundlePath + "/Contents/MacOS/Quillcast";
  void *library = dlopen(object.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    *error = "cannot load " + object + ": " + dlerror();
    return false;
  }
  auto getTable = reinterpret_cast<XGetTableRoutine>(dlsym(library, "getXtable"));
  if (getTable == nullptr) {
    *error = object + " does not export getXtable";
    return false;
  }
  external->bundlePath = bundlePath;
  getTable(CallbackTable(), DeleteLent, &external->name, &external->table, &external->release);
  for (const XTableEntry *entry = external->table; entry && entry->name && entry->name[0]; entry++) {
    if (std::strcmp(entry->type, "F") == 0 && entry->handler != nullptr) {
      external->handler = entry->handler;
      return true;
    }
  }
  *error = object + " offers no external function";
  return false;
}

std::optional<std::string> CallExternal(const External &external, HostState *state,
                                        const std::vector<const char *> &args) {
  // The external may change its arguments in place, so each gets its own buffer.
  std::vector<std::string> buffers(args.size());
  std::vector<char *> argv(args.size());
  for (size_t i = 0; i < args.size(); i++) {
    if (args[i] == nullptr) continue;
    buffers[i] = args[i];
    argv[i] = buffers[i].data();
  }
  HostState *outer = g_state;
  g_state = state;
  char *result = nullptr;
  int32_t pass = 0, error = 0;
  external.handler(argv.data(), int32_t(argv.size()), &result, &pass, &error);
  g_state = outer;
  if (result == nullptr) return std::nullopt;
  std::string text(result);
  external.release(result);
  return text;
}

int RunScript(const Script &script, const External &external, HostState *state) {
  g_state = state;
  int status = Runner(script, external, state).Run();
  g_state = nullptr;
  return status;
}

}  // namespace host
