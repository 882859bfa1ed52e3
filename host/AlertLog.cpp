#include "host/AlertLog.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

// The status of an external error alert line ("32766<TAB>^0<TAB>^1<TAB>..."), or 0.
int ErrorStatus(const std::string &line) {
  std::string prefix = std::to_string(kExternalErrorAlert) + "\t";
  if (line.compare(0, prefix.size(), prefix) != 0) return 0;
  size_t at = line.find('\t', prefix.size());  // past ^0, the context
  if (at == std::string::npos) return 0;
  return std::atoi(line.c_str() + at + 1);
}

}  // namespace

AlertLog::~AlertLog() {
  if (fd_ >= 0) close(fd_);
  if (own_) unlink(path_.c_str());
}

bool AlertLog::Open(std::string *error) {
  const char *given = std::getenv("QUILLCAST_ALERT_LOG");
  if (given != nullptr && given[0] != 0) {
    path_ = given;
    fd_ = open(given, O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    seen_ = fd_ < 0 ? 0 : lseek(fd_, 0, SEEK_END);
  } else {
    const char *folder = std::getenv("TMPDIR");
    std::string pattern =
        std::string(folder != nullptr && folder[0] != 0 ? folder : "/tmp") + "/quillcast-alerts-XXXXXX";
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    path_ = pattern;
    own_ = fd_ >= 0;
    if (own_) setenv("QUILLCAST_ALERT_LOG", path_.c_str(), 1);
  }
  if (fd_ < 0) *error = "cannot make the alert log " + path_ + ": " + std::strerror(errno);
  return fd_ >= 0;
}

std::vector<int> AlertLog::NewErrorStatuses() {
  std::vector<int> statuses;
  char buffer[4096];
  ssize_t got;
  while (fd_ >= 0 && (got = pread(fd_, buffer, sizeof buffer, seen_)) > 0) {
    seen_ += got;
    partial_.append(buffer, size_t(got));
  }
  for (size_t end; (end = partial_.find('\n')) != std::string::npos; partial_.erase(0, end + 1)) {
    if (int status = ErrorStatus(partial_.substr(0, end)); status != 0) statuses.push_back(status);
  }
  return statuses;
}

}  // namespace host
