// LaunchApplication: starts an application file as a process of its own session, so that
// it outlives the host, and waits until it has registered in the process table.
//
// The application file is either a folder <Name>.app whose executable is
// Contents/MacOS/<Name> (or the only file there), or an executable file. The new process
// gets QUILLCAST_APP_PATH (the application file, for its table entry), standard input from
// /dev/null, and standard output and error appended to output.log in its data folder.
//
// Results: fnfErr when the file or its executable is missing; permErr when it cannot be
// executed; memFullErr when no process can be made; procNotFound when the process died
// before registering; noResponseErr when it did not register in time (it is then killed).
#include "CarbonPaths.h"
#include "ProcTime.h"
#include "ProcessTable.h"

#include <AEReceiver.h>
#include <MacErrors.h>
#include <Processes.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

extern char **environ;

namespace carbon {
namespace {

constexpr double kRegistrationSeconds = 10.0;        // scaled by the time scale
constexpr double kMinimumRegistrationSeconds = 2.0;  // but never shorter: start-up is real time

struct LaunchPlan {
  std::string applicationPath;
  std::string executable;
  std::string name;
};

std::string BaseName(const std::string &path) {
  return path.substr(path.rfind('/') + 1);
}

std::string OnlyFileIn(const std::string &folder) {
  std::string found;
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr) return found;
  int count = 0;
  while (dirent *item = readdir(dir)) {
    if (item->d_name[0] == '.') continue;
    found = folder + "/" + item->d_name;
    count++;
  }
  closedir(dir);
  return count == 1 ? found : std::string();
}

OSErr PlanLaunch(const FSSpec *spec, LaunchPlan *plan) {
  OSErr err = FSSpecToPath(spec, &plan->applicationPath);
  struct stat info {};
  if (err != noErr || stat(plan->applicationPath.c_str(), &info) != 0) return fnfErr;
  plan->name = BaseName(plan->applicationPath);
  if (S_ISDIR(info.st_mode)) {
    if (plan->name.size() > 4 && plan->name.compare(plan->name.size() - 4, 4, ".app") == 0) {
      plan->name.resize(plan->name.size() - 4);
    }
    std::string macOS = plan->applicationPath + "/Contents/MacOS";
    plan->executable = macOS + "/" + plan->name;
    if (access(plan->executable.c_str(), F_OK) != 0) plan->executable = OnlyFileIn(macOS);
  } else {
    plan->executable = plan->applicationPath;
  }
  if (plan->executable.empty() || access(plan->executable.c_str(), F_OK) != 0) return fnfErr;
  return access(plan->executable.c_str(), X_OK) == 0 ? OSErr(noErr) : OSErr(permErr);
}

// What the two forked processes report back through the pipe.
struct SpawnReport {
  int32_t tag;  // 1: the application's pid; 2: an errno
  int32_t value;
};

void Report(int fd, int32_t tag, int32_t value) {
  SpawnReport report{tag, value};
  ssize_t ignored = write(fd, &report, sizeof report);
  (void)ignored;
}

// Runs in the forked child: only async-signal-safe calls from here on.
[[noreturn]] void RunDetached(const char *executable, char *const argv[], char *const envp[], int input,
                              int output, int reports) {
  setsid();
  pid_t grandchild = fork();
  if (grandchild != 0) {
    if (grandchild > 0) Report(reports, 1, grandchild);
    if (grandchild < 0) Report(reports, 2, errno);
    _exit(0);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  for (int number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaction(number, &standard, nullptr);
  dup2(input, 0);
  dup2(output, 1);
  dup2(output, 2);
  syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);  // the host's other descriptors stay behind
  execve(executable, argv, envp);
  Report(reports, 2, errno);
  _exit(127);
}

std::vector<std::string> ChildEnvironment(const std::string &applicationPath) {
  std::vector<std::string> env;
  for (char **at = environ; *at != nullptr; at++) {
    if (std::strncmp(*at, "QUILLCAST_APP_PATH=", 19) != 0) env.emplace_back(*at);
  }
  env.push_back("QUILLCAST_APP_PATH=" + applicationPath);
  return env;
}

OSErr ErrnoToLaunchError(int error) {
  if (error == ENOENT) return fnfErr;
  if (error == EACCES || error == EPERM || error == ENOEXEC) return permErr;
  return memFullErr;
}

// Forks twice so that the application is nobody's child here and leaves no zombie.
OSErr SpawnDetached(const LaunchPlan &plan, int output, pid_t *pid) {
  std::vector<std::string> env = ChildEnvironment(plan.applicationPath);
  std::vector<char *> envp;
  envp.reserve(env.size() + 1);
  for (std::string &item : env) envp.push_back(item.data());
  envp.push_back(nullptr);
  std::string argv0 = plan.name;
  char *argv[] = {argv0.data(), nullptr};
  int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int reports[2];
  if (input < 0 || pipe2(reports, O_CLOEXEC) != 0) {
    if (input >= 0) close(input);
    return memFullErr;
  }
  pid_t child = fork();
  if (child == 0) RunDetached(plan.executable.c_str(), argv, envp.data(), input, output, reports[1]);
  close(reports[1]);
  close(input);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  OSErr err = child > 0 ? OSErr(noErr) : OSErr(memFullErr);
  *pid = 0;
  SpawnReport report{};
  while (child > 0 && read(reports[0], &report, sizeof report) == ssize_t(sizeof report)) {
    if (report.tag == 1) *pid = report.value;
    if (report.tag == 2) err = ErrnoToLaunchError(report.value);
  }
  close(reports[0]);
  return err == noErr && *pid <= 0 ? OSErr(memFullErr) : err;
}

OSErr AwaitRegistration(pid_t pid) {
  double seconds = kRegistrationSeconds * TimeScale();
  int64_t deadline =
      DeadlineAfterSeconds(seconds < kMinimumRegistrationSeconds ? kMinimumRegistrationSeconds : seconds);
  ProcessEntry entry;
  for (;;) {
    if (FindLiveProcess(pid, &entry)) return noErr;
    uint64_t started = 0;
    if (!ProcessStartTime(pid, &started)) return procNotFound;
    if (MonotonicNanos() >= deadline) {
      kill(pid, SIGKILL);
      return noResponseErr;
    }
    usleep(1000);
  }
}

}  // namespace
}  // namespace carbon

using namespace carbon;

OSErr LaunchApplication(LaunchParamBlockRec *launchParams) {
  if (launchParams == nullptr || launchParams->launchAppSpec == nullptr) return paramErr;
  LaunchPlan plan;
  OSErr err = PlanLaunch(launchParams->launchAppSpec, &plan);
  if (err != noErr) return err;
  std::string data = DataFolderFor(plan.name);
  if (data.empty()) return afpAccessDenied;
  int output =
      open((data + "/output.log").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (output < 0) return ioErr;
  pid_t pid = 0;
  err = SpawnDetached(plan, output, &pid);
  close(output);
  if (err == noErr) err = AwaitRegistration(pid);
  if (err != noErr) return err;
  launchParams->launchProcessSN = {0, UInt32(pid)};
  if ((launchParams->launchControlFlags & launchDontSwitch) == 0)
    SetFrontProcess(&launchParams->launchProcessSN);
  return noErr;
}
