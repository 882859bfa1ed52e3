// Internet Config over xdg-open. The opener is run directly (no shell), with the URL as its
// one argument; it is waited for a short while so that its failure can be reported, and
// left to finish on its own if it takes longer.
#include <InternetConfig.h>
#include <MacErrors.h>

#include "ProcTime.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>

extern char **environ;

struct OpaqueICInstance {
  OSType signature;
};

namespace {

constexpr double kOpenerWaitSeconds = 5.0;

std::string FindOnPath(const char *program) {
  const char *path = std::getenv("PATH");
  std::string list = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= list.size()) {
    size_t colon = list.find(':', start);
    if (colon == std::string::npos) colon = list.size();
    std::string candidate = list.substr(start, colon - start);
    candidate = (candidate.empty() ? "." : candidate) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = colon + 1;
  }
  return std::string();
}

bool HasScheme(const std::string &text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || !std::isalpha(uint8_t(text[0]))) return false;
  for (size_t at = 1; at < colon; at++) {
    char c = text[at];
    if (!std::isalnum(uint8_t(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// The URL in the selection: trimmed of blanks and <...>, with the hint's scheme when it has
// none. Empty when nothing usable remains (control characters are never handed on).
std::string ExtractURL(const char *text, long *start, long *end, ConstStr255Param hint) {
  while (*start < *end && (std::isspace(uint8_t(text[*start])) || text[*start] == '<')) ++*start;
  while (*end > *start && (std::isspace(uint8_t(text[*end - 1])) || text[*end - 1] == '>')) --*end;
  std::string url(text + *start, size_t(*end - *start));
  for (char c : url) {
    if (uint8_t(c) < 0x20 || c == 0x7f || c == ' ') return std::string();
  }
  if (url.empty() || HasScheme(url)) return url;
  std::string scheme = hint != nullptr ? std::string(reinterpret_cast<const char *>(hint + 1), hint[0]) : "";
  return HasScheme(scheme) ? scheme + url : std::string();
}

OSStatus RunOpener(const std::string &opener, const std::string &url) {
  std::string argv0 = opener;
  std::string argument = url;
  char *argv[] = {argv0.data(), argument.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, opener.c_str(), nullptr, nullptr, argv, environ) != 0) return icConfigNotFoundErr;
  int64_t deadline = carbon::DeadlineAfterSeconds(kOpenerWaitSeconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (carbon::MonotonicNanos() >= deadline) {
      std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();  // still busy: it has the URL
      return noErr;
    }
    usleep(2000);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? OSStatus(noErr) : icInternalErr;
}

}  // namespace

OSStatus ICStart(ICInstance *inst, OSType signature) {
  if (inst == nullptr) return paramErr;
  *inst = new (std::nothrow) OpaqueICInstance{signature};
  return *inst != nullptr ? OSStatus(noErr) : OSStatus(memFullErr);
}

OSStatus ICStop(ICInstance inst) {
  if (inst == nullptr) return paramErr;
  delete inst;
  return noErr;
}

OSStatus ICLaunchURL(ICInstance inst, ConstStr255Param hint, const void *data, long len, long *selStart,
                     long *selEnd) {
  if (inst == nullptr || data == nullptr || len < 0 || selStart == nullptr || selEnd == nullptr)
    return paramErr;
  long start = *selStart;
  long end = *selEnd;
  if (start == end) {
    start = 0;
    end = len;
  }
  if (start < 0 || end > len || start > end) return paramErr;
  std::string url = ExtractURL(static_cast<const char *>(data), &start, &end, hint);
  if (url.empty()) return icNoURLErr;
  std::string opener = FindOnPath("xdg-open");
  if (opener.empty()) return icConfigNotFoundErr;
  OSStatus status = RunOpener(opener, url);
  if (status == noErr) {
    *selStart = start;
    *selEnd = end;
  }
  return status;
}
