// Host scripts: a small line-oriented language that drives the external.
//
// A script is parsed whole before it runs, so that a bad line is reported (with its number)
// before anything happens. Each line is a command and its arguments, separated by spaces or
// tabs; '#' at the start of a line begins a comment. An argument is a bare word or a
// "quoted text"; both take the escapes \xHH \r \n \t \0 \\ \" \$ and the substitutions $NAME
// and ${NAME} (script variables first, then the environment). The bare word nil is a null
// argument. The commands are listed in kCommands (Script.cpp) and in the README.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace host {

// One piece of an argument: literal bytes, or a variable to substitute when the line runs.
struct Piece {
  bool variable = false;
  std::string text;  // the bytes, or the variable's name
};

struct Argument {
  bool nil = false;
  std::vector<Piece> pieces;
};

struct Command {
  int line = 0;
  std::string name;
  std::vector<Argument> args;
  size_t jump = 0;  // "for": the index of its "end"; "end": the index of its "for"
};

struct Script {
  std::string path;
  std::vector<Command> commands;
};

// Parses text; on failure returns nothing and sets error to "path:line: message".
std::optional<Script> ParseScript(const std::string &path, const std::string &text, std::string *error);

}  // namespace host
