// Installing the build's stand-in applications and finding the running ones.
#include "host/StandIns.h"

#include <AppleEvents.h>
#include <MacErrors.h>
#include <MachineFolder.h>
#include <Processes.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char **environ;

namespace host {

namespace fs = std::filesystem;

namespace {

// Test applications built beside the stand-ins; tests install them on volumes of their own.
const char *const kTestApplications[] = {"echo"};

bool IsTestApplication(const std::string &name) {
  return std::any_of(std::begin(kTestApplications), std::end(kTestApplications),
                     [&name](const char *test) { return name == test; });
}

bool IsExecutableFile(const fs::path &path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Runs `executable --install volume` with its standard output on out; its exit status, or -1.
int RunInstaller(const std::string &executable, const std::string &volume, std::FILE *out) {
  std::fflush(out);
  std::fflush(stdout);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (fileno(out) != STDOUT_FILENO) posix_spawn_file_actions_adddup2(&actions, fileno(out), STDOUT_FILENO);
  std::string flag = "--install";
  std::string program = executable, target = volume;
  char *argv[] = {program.data(), flag.data(), target.data(), nullptr};
  pid_t pid = 0;
  int error = posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A process that has exited, or is a zombie waiting for its parent, is gone. A zombie whose
// other threads are still on their way out still holds its files (its sockets among them),
// so it is gone only once it counts one thread.
bool ProcessGone(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return true;
  char state = '?';
  long threads = 0;
  if (std::sscanf(text.c_str() + close + 2,
                  "%c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %ld", &state,
                  &threads) != 2)
    return true;
  return (state == 'Z' || state == 'X') && threads <= 1;
}

bool WaitUntilGone(const std::vector<int> &pids, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!std::all_of(pids.begin(), pids.end(), ProcessGone)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The quit event, waited for, so that it is answered after whatever reached the
// application before it.
OSErr SendQuit(int pid, double seconds) {
  ProcessSerialNumber psn = {0, UInt32(pid)};
  AEAddressDesc target;
  AppleEvent event, reply;
  AEInitializeDesc(&event);
  AEInitializeDesc(&reply);
  OSErr err = AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target);
  if (err != noErr) return err;
  err = AECreateAppleEvent(kCoreEventClass, kAEQuitApplication, &target, kAutoGenerateReturnID,
                           kAnyTransactionID, &event);
  if (err == noErr)
    err = AESend(&event, &reply, kAEWaitReply, kAENormalPriority, long(seconds * 60), nullptr, nullptr);
  AEDisposeDesc(&target);
  AEDisposeDesc(&event);
  AEDisposeDesc(&reply);
  return err;
}

// How long the application may take to open the documents.
constexpr long kOpenTicks = 20 * 60;

// The first volume's <name>.app, in the volumes' order.
OSErr FindInstalled(const std::string &name, FSSpec *application) {
  std::string leaf = name + ".app";
  if (name.empty() || leaf.size() > 63 || leaf.find('/') != std::string::npos) return bdNamErr;
  Str255 pascal;
  pascal[0] = UInt8(leaf.size());
  std::copy(leaf.begin(), leaf.end(), pascal + 1);
  for (int16_t index = 1;; index++) {
    HParamBlockRec volume{};
    volume.volumeParam.ioVolIndex = index;
    if (PBHGetVInfoSync(&volume) != noErr) return fnfErr;
    if (FSMakeFSSpec(volume.volumeParam.ioVRefNum, fsRtDirID, pascal, application) == noErr) return noErr;
  }
}

OSErr Launch(const std::string &name, ProcessSerialNumber *process, std::string *message) {
  FSSpec application;
  OSErr err = FindInstalled(name, &application);
  if (err != noErr) {
    *message = "no application " + name + " is installed (quillcast install-apps installs the stand-ins)";
    return err;
  }
  LaunchParamBlockRec launch{};
  launch.launchBlockID = extendedBlock;
  launch.launchEPBLength = extendedBlockLen;
  launch.launchControlFlags = launchContinue + launchNoFileFlags;
  launch.launchAppSpec = &application;
  err = LaunchApplication(&launch);
  if (err != noErr) *message = name + " could not be launched (error " + std::to_string(err) + ")";
  *process = launch.launchProcessSN;
  return err;
}

// "file://" and the path, with every byte outside letters, digits and -._~/ escaped.
std::string FileURL(const std::string &path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("-._~/", c) != nullptr) {
      url += char(c);
    } else {
      url += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return url;
}

OSErr BuildOpenDocuments(const ProcessSerialNumber &process, const std::vector<std::string> &documents,
                         AppleEvent *event) {
  AEAddressDesc target;
  AEDescList list;
  AEInitializeDesc(&list);
  OSErr err = AECreateDesc(typeProcessSerialNumber, &process, sizeof process, &target);
  if (err != noErr) return err;
  err = AECreateAppleEvent(kCoreEventClass, kAEOpenDocuments, &target, kAutoGenerateReturnID,
                           kAnyTransactionID, event);
  if (err == noErr) err = AECreateList(nullptr, 0, false, &list);
  std::error_code ignored;
  for (size_t at = 0; err == noErr && at < documents.size(); at++) {
    std::string url = FileURL(fs::absolute(documents[at], ignored).lexically_normal().string());
    err = AEPutPtr(&list, 0, typeFileURL, url.data(), Size(url.size()));
  }
  if (err == noErr) err = AEPutParamDesc(event, keyDirectObject, &list);
  AEDisposeDesc(&list);
  AEDisposeDesc(&target);
  return err;
}

// The application's own error in the reply ('errn'), or noErr.
OSErr ReplyError(const AppleEvent &reply) {
  SInt32 number = noErr;
  DescType type;
  Size size;
  if (AEGetParamPtr(&reply, keyErrorNumber, typeSInt32, &type, &number, sizeof number, &size) != noErr)
    return noErr;
  return OSErr(number);
}

}  // namespace

std::string MachineHome() {
  std::string home = carbon::MachineFolder();
  if (!home.empty()) setenv("QUILLCAST_HOME", home.c_str(), 1);
  return home;
}

bool MachineUsable() {
  std::string problem;
  if (!carbon::MachineFolder(&problem).empty()) return true;
  std::fprintf(stderr, "quillcast: %s\n", problem.c_str());
  return false;
}

std::string ApplicationsVolume() {
  return MachineHome() + "/Applications";
}

std::string StandInFolder() {
  std::error_code ignored;
  fs::path self = fs::read_symlink("/proc/self/exe", ignored);
  return (self.parent_path() / "apps" / "bin").string();
}

std::vector<std::string> StandInExecutables(const std::string &folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (const fs::directory_entry &entry : fs::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.' || IsTestApplication(name) || !IsExecutableFile(entry.path()))
      continue;
    found.push_back(entry.path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool StandInInstalled(const std::string &volume, const std::string &executable) {
  std::string name = fs::path(executable).filename().string();
  fs::path link = fs::path(volume) / (name + ".app") / "Contents" / "MacOS" / name;
  std::error_code error;
  return fs::equivalent(link, executable, error) && !error &&
         fs::exists(fs::path(volume) / "Desktop DB", error);
}

int InstallStandIns(const std::vector<std::string> &executables, const std::string &volume, bool onlyMissing,
                    std::FILE *out) {
  int failed = 0;
  for (const std::string &executable : executables) {
    if (onlyMissing && StandInInstalled(volume, executable)) continue;
    if (RunInstaller(executable, volume, out) != 0) {
      std::fprintf(stderr, "quillcast: %s did not install itself in %s\n", executable.c_str(),
                   volume.c_str());
      failed++;
    }
  }
  return failed;
}

bool ProcessEnding(int pid) {
  constexpr unsigned long kExiting = 0x4;  // PF_EXITING: set as the process starts to exit
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  char state = '?';
  unsigned long flags = 0;
  if (close == std::string::npos ||
      std::sscanf(text.c_str() + close + 1, " %c %*d %*d %*d %*d %*d %lu", &state, &flags) != 2) {
    return true;
  }
  return state == 'Z' || state == 'X' || (flags & kExiting) != 0;
}

void InstallMissingStandIns(std::FILE *out) {
  const char *flag = std::getenv("QUILLCAST_NO_AUTO_INSTALL");
  if (flag != nullptr && flag[0] != 0 && std::strcmp(flag, "0") != 0) return;
  std::FILE *sink = out != nullptr ? out : std::fopen("/dev/null", "w");
  if (sink == nullptr) return;
  InstallStandIns(StandInExecutables(StandInFolder()), ApplicationsVolume(), true, sink);
  if (sink != out) std::fclose(sink);
}

std::vector<int> RunningApplications(const std::string &name) {
  std::vector<int> pids;
  ProcessSerialNumber psn = {0, kNoProcess};
  while (GetNextProcess(&psn) == noErr) {
    Str255 processName = {0};
    ProcessInfoRec info{};
    info.processInfoLength = sizeof info;
    info.processName = processName;
    if (GetProcessInformation(&psn, &info) != noErr) continue;
    if (std::string(reinterpret_cast<const char *>(processName + 1), processName[0]) == name)
      pids.push_back(int(psn.lowLongOfPSN));
  }
  return pids;
}

bool QuitApplications(const std::string &name, double seconds) {
  std::vector<int> pids = RunningApplications(name);
  for (int pid : pids) {
    if (SendQuit(pid, seconds) != noErr) kill(pid, SIGTERM);
  }
  return !pids.empty() && WaitUntilGone(pids, seconds);
}

OSErr OpenApplication(const std::string &name, const std::vector<std::string> &documents,
                      std::string *message) {
  std::vector<int> running = RunningApplications(name);
  ProcessSerialNumber process = {0, running.empty() ? 0 : UInt32(running[0])};
  OSErr err = running.empty() ? Launch(name, &process, message) : OSErr(noErr);
  if (err != noErr || documents.empty()) return err;
  AppleEvent event, reply;
  AEInitializeDesc(&event);
  AEInitializeDesc(&reply);
  err = BuildOpenDocuments(process, documents, &event);
  if (err == noErr)
    err = AESend(&event, &reply, kAEWaitReply, kAENormalPriority, kOpenTicks, nullptr, nullptr);
  if (err == noErr) err = ReplyError(reply);
  if (err != noErr) *message = name + " did not open the documents (error " + std::to_string(err) + ")";
  AEDisposeDesc(&event);
  AEDisposeDesc(&reply);
  return err;
}

bool KillApplications(const std::string &name, double seconds) {
  std::vector<int> pids = RunningApplications(name);
  for (int pid : pids) kill(pid, SIGKILL);
  return !pids.empty() && WaitUntilGone(pids, seconds);
}

}  // namespace host
