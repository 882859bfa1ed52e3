#include "host/Journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace host {

namespace {

// Written under a line that a kill cut short, when the journal is next opened.
constexpr const char *kVoidLine = "# the line above was cut short and does not count";

struct StateName {
  RecordState state;
  const char *name;
};

constexpr StateName kStateNames[] = {{RecordState::started, "start"},
                                     {RecordState::sent, "sent"},
                                     {RecordState::skipped, "skipped"},
                                     {RecordState::failed, "failed"},
                                     {RecordState::uncertain, "uncertain"}};

const char *NameOf(RecordState state) {
  for (const StateName &known : kStateNames) {
    if (known.state == state) return known.name;
  }
  return "?";
}

bool ParseLine(const std::string &text, std::map<int, JournalRecord> *records) {
  std::istringstream in(text);
  std::string word;
  long long number = 0;
  if (!(in >> word >> number) || number < 1 || number > INT32_MAX) return false;
  for (const StateName &known : kStateNames) {
    if (word != known.name) continue;
    JournalRecord &record = (*records)[int(number)];
    record.state = known.state;
    record.reason.clear();
    if (known.state == RecordState::started) {
      std::string key, lineWord;
      if (!(in >> key >> lineWord >> record.line) || lineWord != "line" || key.size() != 16) return false;
      char *end = nullptr;
      record.key = std::strtoull(key.c_str(), &end, 16);
      return *end == 0;
    }
    std::getline(in >> std::ws, record.reason);
    return true;
  }
  return false;
}

}  // namespace

bool ReadJournal(const std::string &path, std::map<int, JournalRecord> *records, std::string *error) {
  records->clear();
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = path + " is not a journal (not a regular file)";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // cut short by a kill: never acted on
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  for (size_t i = 0; i < lines.size(); i++) {
    const std::string &current = lines[i];
    int line = int(i + 1);
    if (current.empty() || current[0] == '#') continue;
    if (i + 1 < lines.size() && lines[i + 1] == kVoidLine) continue;
    if (!ParseLine(current, records)) {
      *error = path + ":" + std::to_string(line) + ": not a journal line: " + current.substr(0, 80);
      return false;
    }
  }
  return true;
}

uint64_t RecordKey(const std::vector<std::string> &values) {
  uint64_t hash = 14695981039346656037ULL;
  for (const std::string &value : values) {
    for (unsigned char c : value) hash = (hash ^ c) * 1099511628211ULL;
    hash = (hash ^ 0xFF) * 1099511628211ULL;
  }
  return hash;
}

JournalWriter::~JournalWriter() {
  if (fd_ >= 0) close(fd_);
}

bool JournalWriter::Fail(int errorNumber) {
  error_ = "cannot write the journal " + path_ + ": " + std::strerror(errorNumber);
  return false;
}

bool JournalWriter::Open(const std::string &path, const std::string &runComment) {
  path_ = path;
  fd_ = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0) return Fail(errno);
  // A line that a kill cut short is ended and made void before anything follows it.
  off_t size = lseek(fd_, 0, SEEK_END);
  char last = '\n';
  if (size > 0 && pread(fd_, &last, 1, size - 1) != 1) last = '\n';
  std::string voided = last == '\n' ? "" : "\n" + std::string(kVoidLine) + "\n";
  return Append(voided + "# " + runComment + "\n") && Sync();
}

bool JournalWriter::Append(const std::string &line) {
  for (size_t done = 0; done < line.size();) {
    ssize_t wrote = write(fd_, line.data() + done, line.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return Fail(wrote < 0 ? errno : EIO);
    done += size_t(wrote);
  }
  return true;
}

bool JournalWriter::Start(int number, uint64_t key, int line) {
  char text[96];
  std::snprintf(text, sizeof text, "start %d %016" PRIx64 " line %d\n", number, key, line);
  if (!Append(text)) return false;
  return std::chrono::steady_clock::now() - synced_ < kSyncInterval || Sync();
}

bool JournalWriter::Outcome(int number, RecordState state, const std::string &reason) {
  std::string text = std::string(NameOf(state)) + " " + std::to_string(number);
  if (!reason.empty()) text += " " + reason;
  for (char &c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return Append(text + "\n");
}

bool JournalWriter::Sync() {
  if (fdatasync(fd_) != 0 && errno != EINVAL) return Fail(errno);
  synced_ = std::chrono::steady_clock::now();
  return true;
}

}  // namespace host
