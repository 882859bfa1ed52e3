// The host script parser: tokens, escapes, substitutions and the command table.
#include "host/Script.h"

#include <cstring>

namespace host {

namespace {

struct CommandSpec {
  const char *name;
  size_t minArgs;
  size_t maxArgs;
};

constexpr size_t kMany = 64;

const CommandSpec kCommands[] = {
    {"call", 1, kMany},       {"print", 0, kMany},    {"show", 0, kMany},      {"set", 2, 2},
    {"unset", 1, 1},          {"get", 1, 1},          {"let", 2, 2},           {"expect", 1, 1},
    {"expect-none", 0, 0},    {"expect-match", 1, 1}, {"expect-global", 2, 2}, {"expect-file", 2, 2},
    {"expect-no-file", 1, 1}, {"write-file", 2, 2},   {"remove-file", 1, 1},   {"setenv", 2, 2},
    {"unsetenv", 1, 1},       {"running", 1, 1},      {"quit-app", 1, 1},      {"kill-app", 1, 1},
    {"open-app", 1, kMany},   {"for", 3, 3},          {"end", 0, 0},
};

const CommandSpec *FindCommand(const std::string &name) {
  for (const CommandSpec &spec : kCommands) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one line's tokens. Each tokenizer step returns false with error set on bad input.
class LineReader {
 public:
  explicit LineReader(const std::string &line) : line_(line) {}

  bool Next(Argument *arg, bool *found, std::string *error) {
    while (at_ < line_.size() && (line_[at_] == ' ' || line_[at_] == '\t')) at_++;
    *found = at_ < line_.size();
    if (!*found) return true;
    *arg = Argument{};
    bool quoted = line_[at_] == '"';
    size_t start = at_;
    if (quoted) at_++;
    while (at_ < line_.size()) {
      char c = line_[at_];
      if (quoted && c == '"') {
        at_++;
        return EndOfToken(error);
      }
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (!ReadPiece(arg, error)) return false;
    }
    if (quoted) {
      *error = "unterminated quoted text";
      return false;
    }
    if (line_.compare(start, at_ - start, "nil") == 0) *arg = Argument{true, {}};
    return true;
  }

 private:
  bool EndOfToken(std::string *error) {
    if (at_ < line_.size() && line_[at_] != ' ' && line_[at_] != '\t') {
      *error = "text after a closing quote";
      return false;
    }
    return true;
  }

  void AddLiteral(Argument *arg, char c) {
    if (arg->pieces.empty() || arg->pieces.back().variable) arg->pieces.push_back(Piece{false, ""});
    arg->pieces.back().text.push_back(c);
  }

  bool ReadPiece(Argument *arg, std::string *error) {
    char c = line_[at_];
    if (c == '\\') return ReadEscape(arg, error);
    if (c == '$') return ReadVariable(arg, error);
    AddLiteral(arg, c);
    at_++;
    return true;
  }

  bool ReadEscape(Argument *arg, std::string *error) {
    if (at_ + 1 >= line_.size()) {
      *error = "a backslash at the end of the line";
      return false;
    }
    char c = line_[at_ + 1];
    at_ += 2;
    switch (c) {
      case 'r':
        AddLiteral(arg, '\r');
        return true;
      case 'n':
        AddLiteral(arg, '\n');
        return true;
      case 't':
        AddLiteral(arg, '\t');
        return true;
      case '0':
        AddLiteral(arg, '\0');
        return true;
      case '\\':
      case '"':
      case '$':
      case ' ':
        AddLiteral(arg, c);
        return true;
      case 'x':
        break;
      default:
        *error = std::string("unknown escape \\") + c;
        return false;
    }
    int high = at_ < line_.size() ? HexValue(line_[at_]) : -1;
    int low = at_ + 1 < line_.size() ? HexValue(line_[at_ + 1]) : -1;
    if (high < 0 || low < 0) {
      *error = "\\x needs two hexadecimal digits";
      return false;
    }
    AddLiteral(arg, char(high * 16 + low));
    at_ += 2;
    return true;
  }

  bool ReadVariable(Argument *arg, std::string *error) {
    at_++;
    bool braced = at_ < line_.size() && line_[at_] == '{';
    if (braced) at_++;
    size_t start = at_;
    while (at_ < line_.size() && IsNameChar(line_[at_])) at_++;
    std::string name = line_.substr(start, at_ - start);
    if (braced && (at_ >= line_.size() || line_[at_] != '}')) {
      *error = "${ without a closing }";
      return false;
    }
    if (braced) at_++;
    if (name.empty() && braced) {
      *error = "${} without a variable name";
      return false;
    }
    if (name.empty()) {
      AddLiteral(arg, '$');  // a dollar sign that names nothing stands for itself
      return true;
    }
    arg->pieces.push_back(Piece{true, name});
    return true;
  }

  const std::string &line_;
  size_t at_ = 0;
};

bool ParseLine(const std::string &text, Command *command, std::string *error) {
  LineReader reader(text);
  Argument arg;
  bool found = false;
  bool first = true;
  while (reader.Next(&arg, &found, error) && found) {
    if (first) {
      if (arg.nil || arg.pieces.size() != 1 || arg.pieces[0].variable) {
        *error = "a line must start with a command name";
        return false;
      }
      command->name = arg.pieces[0].text;
      first = false;
    } else {
      command->args.push_back(arg);
    }
  }
  return error->empty();
}

bool CheckCommand(const Command &command, std::string *error) {
  const CommandSpec *spec = FindCommand(command.name);
  if (spec == nullptr) {
    *error = "unknown command \"" + command.name + "\"";
    return false;
  }
  if (command.args.size() < spec->minArgs || command.args.size() > spec->maxArgs) {
    *error = "\"" + command.name + "\" takes " + std::to_string(spec->minArgs) +
             (spec->maxArgs == spec->minArgs ? "" : " or more") + " argument(s), not " +
             std::to_string(command.args.size());
    return false;
  }
  for (const Argument &arg : command.args) {
    if (arg.nil && command.name != "call") {
      *error = "nil is an argument of \"call\" only";
      return false;
    }
  }
  return true;
}

// Pairs every "for" with its "end".
bool MatchLoops(Script *script, std::string *error) {
  std::vector<size_t> open;
  for (size_t i = 0; i < script->commands.size(); i++) {
    Command &command = script->commands[i];
    if (command.name == "for") open.push_back(i);
    if (command.name != "end") continue;
    if (open.empty()) {
      *error = script->path + ":" + std::to_string(command.line) + ": \"end\" without \"for\"";
      return false;
    }
    command.jump = open.back();
    script->commands[open.back()].jump = i;
    open.pop_back();
  }
  if (!open.empty()) {
    *error =
        script->path + ":" + std::to_string(script->commands[open.back()].line) + ": \"for\" without \"end\"";
    return false;
  }
  return true;
}

}  // namespace

std::optional<Script> ParseScript(const std::string &path, const std::string &text, std::string *error) {
  Script script{path, {}};
  size_t start = 0;
  for (int line = 1; start <= text.size(); line++) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string content = text.substr(start, end - start);
    start = end + 1;
    if (!content.empty() && content.back() == '\r') content.pop_back();
    size_t first = content.find_first_not_of(" \t");
    if (first == std::string::npos || content[first] == '#') continue;
    Command command;
    command.line = line;
    error->clear();
    if (!ParseLine(content, &command, error) || !CheckCommand(command, error)) {
      *error = path + ":" + std::to_string(line) + ": " + *error;
      return std::nullopt;
    }
    script.commands.push_back(std::move(command));
  }
  if (!MatchLoops(&script, error)) return std::nullopt;
  return script;
}

}  // namespace host
