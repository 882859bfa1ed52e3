// The process table: entry files under $QUILLCAST_HOME/run, read and cleaned by every
// process that looks at the table, written by the applications themselves when they
// register and by the Process Manager when it shows, hides or fronts one.
#include "ProcessTable.h"

#include "CarbonPaths.h"

#include <AEReceiver.h>
#include <MacErrors.h>
#include <MachineFolder.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace carbon {
namespace {

// A file of the run folder; empty when the machine folder is refused, so that nothing is
// read from or written to a folder that is not the user's.
std::string RunFile(const std::string &name) {
  std::string folder = RunFolder();
  return folder.empty() ? folder : folder + "/" + name;
}

// Holds the table's flock for one read-modify-write.
class TableLock {
 public:
  TableLock() : fd_(open(RunFile(".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~TableLock() {
    if (fd_ >= 0) close(fd_);
  }
  TableLock(const TableLock &) = delete;
  TableLock &operator=(const TableLock &) = delete;

 private:
  int fd_;
};

bool ParseNumber(std::string_view text, uint64_t *value) {
  if (text.empty() || text.size() > 20) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

bool ParseCode(std::string_view text, OSType *code) {
  if (text.size() != 6 || text.front() != '\'' || text.back() != '\'') return false;
  *code = 0;
  for (size_t at = 1; at < 5; at++) *code = (*code << 8) | uint8_t(text[at]);
  return true;
}

std::string FormatCode(OSType code) {
  std::string text = "'";
  for (int shift = 24; shift >= 0; shift -= 8) text += char(uint8_t(code >> shift));
  return text + "'";
}

bool ApplyEntryField(std::string_view key, std::string_view value, ProcessEntry *entry) {
  uint64_t number = 0;
  if (key == "creator") return ParseCode(value, &entry->creator);
  if (key == "type") return ParseCode(value, &entry->type);
  if (key == "name") {
    entry->name = value;
    return value.size() <= kMaxProcessName;
  }
  if (key == "pid") {
    if (!ParseNumber(value, &number) || number == 0 || number > 0x7fffffff) return false;
    entry->pid = pid_t(number);
    return true;
  }
  if (key == "started") return ParseNumber(value, &entry->started);
  if (key == "socket") {
    entry->socketPath = value;
    return !value.empty() && value.front() == '/';
  }
  if (key == "application") {
    entry->applicationPath = value;
    return true;
  }
  if (key == "visible") {
    if (value != "0" && value != "1") return false;
    entry->visible = value == "1";
    return true;
  }
  if (key == "order") return ParseNumber(value, &entry->order);
  return true;
}

bool ReadEntryFile(const std::string &path, ProcessEntry *entry) {
  std::string text;
  return ReadSmallFile(path, kMaxEntryBytes, &text) && ParseProcessEntry(text, entry);
}

bool ReadLiveEntry(pid_t pid, ProcessEntry *entry) {
  return ReadEntryFile(EntryPathFor(pid), entry) && entry->pid == pid && IsProcessAlive(pid, entry->started);
}

void RemoveEntryFiles(pid_t pid) {
  unlink(EntryPathFor(pid).c_str());
  unlink(SocketPathFor(pid).c_str());
}

// Entry files of the run folder by pid, without reading them.
std::vector<pid_t> EntryPids() {
  std::vector<pid_t> pids;
  std::string run = RunFolder();
  DIR *folder = run.empty() ? nullptr : opendir(run.c_str());
  if (folder == nullptr) return pids;
  while (dirent *item = readdir(folder)) {
    std::string_view name = item->d_name;
    uint64_t pid = 0;
    if (name.size() > 5 && name.substr(name.size() - 5) == ".proc" &&
        ParseNumber(name.substr(0, name.size() - 5), &pid) && pid > 0 && pid <= 0x7fffffff) {
      pids.push_back(pid_t(pid));
    }
  }
  closedir(folder);
  return pids;
}

uint64_t NextLaunchOrder() {
  std::string path = RunFile("sequence");
  std::string text;
  uint64_t last = 0;
  if (ReadSmallFile(path, 64, &text)) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    if (!ParseNumber(text, &last)) last = 0;
  }
  ReplaceFile(path, std::to_string(last + 1) + "\n");
  return last + 1;
}

}  // namespace

std::string RunFolder() {
  return MachineSubfolder("run");
}

std::string EntryPathFor(pid_t pid) {
  return RunFile(std::to_string(pid) + ".proc");
}
std::string SocketPathFor(pid_t pid) {
  return RunFile(std::to_string(pid) + ".sock");
}

std::string DataFolderFor(const std::string &name) {
  std::string safe = name.empty() || name == "." || name == ".." ? "_" + name : name;
  std::replace(safe.begin(), safe.end(), '/', ':');
  return MachineSubfolder("Data/" + safe);
}

std::string FormatProcessEntry(const ProcessEntry &entry) {
  std::string text;
  text += "creator " + FormatCode(entry.creator) + "\n";
  text += "type " + FormatCode(entry.type) + "\n";
  text += "name " + entry.name + "\n";
  text += "pid " + std::to_string(entry.pid) + "\n";
  text += "started " + std::to_string(entry.started) + "\n";
  text += "socket " + entry.socketPath + "\n";
  text += "application " + entry.applicationPath + "\n";
  text += std::string("visible ") + (entry.visible ? "1" : "0") + "\n";
  text += "order " + std::to_string(entry.order) + "\n";
  return text;
}

bool ParseProcessEntry(std::string_view text, ProcessEntry *entry) {
  if (text.size() > kMaxEntryBytes) return false;
  *entry = ProcessEntry();
  bool sawCreator = false;
  while (!text.empty()) {
    size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;  // a torn write: no final line feed
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    std::string_view key = line.substr(0, space);
    if (!ApplyEntryField(key, line.substr(space + 1), entry)) return false;
    sawCreator = sawCreator || key == "creator";
  }
  return sawCreator && entry->pid != 0 && !entry->socketPath.empty();
}

bool ProcessStartTime(pid_t pid, uint64_t *started) {
  if (pid <= 0) return false;
  std::string stat;
  if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", 4096, &stat)) return false;
  // The command name may hold spaces and parentheses: fields count from the last ')'.
  size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return false;
  std::string_view rest = std::string_view(stat).substr(close + 2);
  char state = rest[0];
  if (state == 'Z' || state == 'X' || state == 'x') return false;
  for (int field = 3; field < 22; field++) {
    size_t space = rest.find(' ');
    if (space == std::string_view::npos) return false;
    rest.remove_prefix(space + 1);
  }
  return ParseNumber(rest.substr(0, rest.find(' ')), started);
}

bool IsProcessAlive(pid_t pid, uint64_t started) {
  uint64_t now = 0;
  return ProcessStartTime(pid, &now) && (started == 0 || now == started);
}

std::vector<ProcessEntry> LiveProcesses() {
  std::vector<ProcessEntry> live;
  for (pid_t pid : EntryPids()) {
    ProcessEntry entry;
    if (FindLiveProcess(pid, &entry)) live.push_back(std::move(entry));
  }
  std::sort(live.begin(), live.end(), [](const ProcessEntry &a, const ProcessEntry &b) {
    return a.order != b.order ? a.order < b.order : a.pid < b.pid;
  });
  return live;
}

bool FindLiveProcess(pid_t pid, ProcessEntry *entry) {
  if (ReadLiveEntry(pid, entry)) return true;
  // Stale or damaged: check again under the lock, since the pid may have been reused by an
  // application that is registering right now.
  TableLock lock;
  if (!ReadLiveEntry(pid, entry) && access(EntryPathFor(pid).c_str(), F_OK) == 0) {
    ProcessEntry stale;
    bool readable = ReadEntryFile(EntryPathFor(pid), &stale) && stale.pid == pid;
    if (readable || !IsProcessAlive(pid, 0)) RemoveEntryFiles(pid);
  }
  return false;
}

OSErr RegisterProcess(ProcessEntry *entry) {
  if (RunFolder().empty()) return afpAccessDenied;
  entry->pid = getpid();
  if (!ProcessStartTime(entry->pid, &entry->started)) return ioErr;
  if (entry->name.size() > kMaxProcessName) entry->name.resize(kMaxProcessName);
  TableLock lock;
  entry->order = NextLaunchOrder();
  return ReplaceFile(EntryPathFor(entry->pid), FormatProcessEntry(*entry));
}

void UnregisterProcess(pid_t pid) {
  TableLock lock;
  RemoveEntryFiles(pid);
}

OSErr SetEntryVisible(pid_t pid, bool visible) {
  TableLock lock;
  ProcessEntry entry;
  if (!ReadLiveEntry(pid, &entry)) return procNotFound;
  if (entry.visible == visible) return noErr;
  entry.visible = visible;
  return ReplaceFile(EntryPathFor(pid), FormatProcessEntry(entry));
}

bool ReadFrontProcess(pid_t *pid, uint64_t *started) {
  std::string text;
  if (!ReadSmallFile(RunFile("front"), 64, &text)) return false;
  size_t space = text.find(' ');
  uint64_t number = 0;
  if (space == std::string::npos || text.empty() || text.back() != '\n') return false;
  if (!ParseNumber(std::string_view(text).substr(0, space), &number) || number == 0 || number > 0x7fffffff) {
    return false;
  }
  *pid = pid_t(number);
  return ParseNumber(std::string_view(text).substr(space + 1, text.size() - space - 2), started);
}

OSErr WriteFrontProcess(pid_t pid, uint64_t started) {
  TableLock lock;
  return ReplaceFile(RunFile("front"), std::to_string(pid) + " " + std::to_string(started) + "\n");
}

OSErr ReplaceFile(const std::string &path, std::string_view bytes) {
  if (path.empty()) return afpAccessDenied;
  int error = ReplaceFileContents(path, bytes, false);
  return error == 0 ? OSErr(noErr) : error == ENOSPC ? OSErr(dskFulErr) : OSErr(ioErr);
}

bool ReadSmallFile(const std::string &path, size_t limit, std::string *bytes) {
  int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bytes->assign(limit + 1, '\0');
  size_t filled = 0;
  ssize_t got = 0;
  while (filled <= limit && (got = read(fd, bytes->data() + filled, limit + 1 - filled)) > 0) filled += got;
  close(fd);
  bytes->resize(filled);
  return got >= 0 && filled <= limit;
}

}  // namespace carbon
