#include "host/DryRun.h"

#include <MachineFolder.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "host/StandIns.h"

namespace host {

namespace {

namespace fs = std::filesystem;

constexpr double kQuitSeconds = 60;  // a client first writes every message it holds

// The lines of a client's accounts file that do not deliver mail: accounts, IMAP accounts,
// settings, comments. Whatever else a line may say (a server to deliver to, a login) stays
// behind, so that nothing a dry run makes can leave the machine.
std::string AccountsWithoutDelivery(const std::string &text) {
  std::istringstream in(text);
  std::string kept, line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first.empty() || first[0] == '#' || first == "account" || first == "imap" || first == "setting") {
      kept += line + "\n";
    }
  }
  return kept;
}

bool ReadWhole(const fs::path &path, std::string *bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

void CopyAccounts(const std::string &userHome, const std::string &home) {
  std::error_code ignored;
  for (const fs::directory_entry &client : fs::directory_iterator(fs::path(userHome) / "Data", ignored)) {
    std::string text;
    if (!ReadWhole(client.path() / "accounts.conf", &text)) continue;
    fs::path folder = fs::path(home) / "Data" / client.path().filename();
    if (carbon::MakePrivateFolders(folder.string()) == noErr)
      carbon::ReplaceFileContents((folder / "accounts.conf").string(), AccountsWithoutDelivery(text), false);
  }
}

// The order in which the client wrote a message: the Q counter of its Maildir file name.
unsigned long long WriteOrder(const std::string &name) {
  size_t q = name.find('Q');
  return q == std::string::npos ? 0 : std::strtoull(name.c_str() + q + 1, nullptr, 10);
}

std::vector<std::string> FileNames(const fs::path &folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const fs::directory_entry &entry : fs::directory_iterator(folder, ignored))
    names.push_back(entry.path().filename().string());
  return names;
}

// Moves one message to target, with its Bcc envelope, if any, on top.
bool MoveMessage(const fs::path &message, const fs::path *envelope, const fs::path &target, size_t *bytes) {
  std::error_code error;
  std::string head, body;
  if (envelope == nullptr) {
    fs::rename(message, target, error);  // the same file system, unless DIR is elsewhere
    if (!error) {
      *bytes += fs::file_size(target, error);
      return true;
    }
  } else if (!ReadWhole(*envelope, &head)) {
    return false;
  }
  if (!ReadWhole(message, &body) || carbon::ReplaceFileContents(target.string(), head + body, false) != 0)
    return false;
  *bytes += head.size() + body.size();
  return true;
}

}  // namespace

DryRunMachine::~DryRunMachine() {
  Remove();
}

bool DryRunMachine::Create(const std::string &userHome, const std::string &client, std::string *error) {
  // Inside the user's own machine, never in a shared temporary folder.
  std::string temporary = carbon::MachineSubfolder("Temporary Items", error);
  if (temporary.empty()) return false;
  std::string pattern = temporary + "/dry-run-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = "cannot make a folder for the dry run's machine: " + std::string(std::strerror(errno));
    return false;
  }
  home_ = pattern;
  setenv("QUILLCAST_HOME", home_.c_str(), 1);
  if (carbon::MachineFolder(error).empty()) return false;
  CopyAccounts(userHome, home_);
  std::vector<std::string> executables = StandInExecutables(StandInFolder());
  auto named = std::find_if(executables.begin(), executables.end(), [&client](const std::string &path) {
    return fs::path(path).filename() == client;
  });
  if (named != executables.end()) executables = {*named};  // installing takes a process each
  std::FILE *quiet = std::fopen("/dev/null", "w");
  int failed = InstallStandIns(executables, ApplicationsVolume(), false, quiet != nullptr ? quiet : stderr);
  if (quiet != nullptr) std::fclose(quiet);
  if (failed != 0) {
    *error = "cannot install the stand-in clients on the dry run's machine";
    return false;
  }
  return true;
}

bool DryRunMachine::CollectMessages(const std::string &client, const std::vector<int> &recordNumbers,
                                    const std::string &folder, size_t *bytes, std::string *error) {
  QuitApplications(client, kQuitSeconds);
  fs::path data = fs::path(home_) / "Data" / client;
  std::vector<std::string> names = FileNames(data / "outbox" / "new");
  std::vector<std::string> envelopes = FileNames(data / "envelopes");
  std::set<std::string> hasEnvelope(envelopes.begin(), envelopes.end());
  std::sort(names.begin(), names.end(),
            [](const std::string &a, const std::string &b) { return WriteOrder(a) < WriteOrder(b); });
  bool numbered = names.size() == recordNumbers.size();
  *bytes = 0;
  for (size_t i = 0; i < names.size(); i++) {
    std::string target =
        numbered ? std::to_string(recordNumbers[i]) + ".eml" : "message-" + std::to_string(i + 1) + ".eml";
    fs::path envelope = data / "envelopes" / names[i];
    if (!MoveMessage(data / "outbox" / "new" / names[i],
                     hasEnvelope.count(names[i]) != 0 ? &envelope : nullptr, fs::path(folder) / target,
                     bytes)) {
      *error = "cannot write " + (fs::path(folder) / target).string();
      return false;
    }
  }
  if (!numbered) {
    *error = "the client kept " + std::to_string(names.size()) + " messages for " +
             std::to_string(recordNumbers.size()) + " records; they are named in the order it kept them";
  }
  return numbered;
}

void DryRunMachine::Remove() {
  if (home_.empty()) return;
  for (const std::string &executable : StandInExecutables(StandInFolder())) {
    std::string name = fs::path(executable).filename().string();
    if (!RunningApplications(name).empty()) QuitApplications(name, kQuitSeconds);
  }
  std::error_code ignored;
  fs::remove_all(home_, ignored);
  home_.clear();
}

}  // namespace host
