// What the kernel tells of a process in /proc/<pid>/stat, for the tests and benchmarks that
// watch the processes they start: its state, its parent, and the processor time it has used.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <string>

struct ProcessStat {
  char state = 0;  // 'R', 'S', 'Z', ...
  pid_t parent = 0;
  double cpuSeconds = 0;  // user and system time
};

// False when there is no such process.
inline bool ReadProcessStat(pid_t pid, ProcessStat *stat) {
  // Read with stdio: a process that ends between the open and the read makes the read fail
  // (ESRCH), which an ifstream reports by throwing.
  std::FILE *file = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (file == nullptr) return false;
  char buffer[1024];
  size_t length = std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  std::string text(buffer, length);
  // The command name comes first, in parentheses, and may hold spaces and parentheses itself.
  size_t close = text.rfind(')');
  int parent = 0;
  unsigned long user = 0, system = 0;
  if (close == std::string::npos || close + 2 > text.size() ||
      std::sscanf(text.c_str() + close + 2, "%c %d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &stat->state,
                  &parent, &user, &system) != 4) {
    return false;
  }
  stat->parent = parent;
  stat->cpuSeconds = double(user + system) / double(sysconf(_SC_CLK_TCK));
  return true;
}

// The processor time the process has used, in seconds; 0 once it is gone.
inline double ProcessCpuSeconds(pid_t pid) {
  ProcessStat stat;
  return ReadProcessStat(pid, &stat) ? stat.cpuSeconds : 0;
}
