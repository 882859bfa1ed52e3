// The machine folder: where it is, the checks that make it the user's own, and files made in
// it under names that no one can take first. A machine folder that passed its checks is
// remembered with its inode (nobody else can change it afterwards: that is what the checks
// make sure of), so that the many calls that need it cost one stat; a folder removed and
// made again is checked again.
#include <MachineFolder.h>

#include <MacErrors.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace carbon {
namespace {

// Process IDs stay below 2^22 (PID_MAX_LIMIT), 7 digits: a socket is run/<pid>.sock.
constexpr size_t kLongestSocketName = std::char_traits<char>::length("/run/4194304.sock");
constexpr const char *kOwnFolders[] = {"Preferences", "run", "Data", "Applications"};
constexpr const char *kRemedy =
    ". Quillcast keeps its machine only in a folder of yours that no one else may change: remove "
    "this one, or choose another with QUILLCAST_HOME";
constexpr const char *kHolderRemedy =
    ". Another user could put a folder of theirs in the machine folder's place: choose a machine "
    "folder elsewhere with QUILLCAST_HOME";

std::mutex checkedLock;
std::map<std::string, std::pair<dev_t, ino_t>> checkedMachines;
std::atomic<unsigned> uniqueCounter{0};

std::string StripSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
  return text;
}

// Where the machine folder is; empty (with *problem) when there is no place of the user's own.
std::string ChosenMachineFolder(std::string *problem) {
  std::string path;
  if (const char *home = std::getenv("QUILLCAST_HOME"); home != nullptr && home[0] != 0) {
    path = home;
  } else if (const char *user = std::getenv("HOME"); user != nullptr && user[0] == '/') {
    path = std::string(user) + "/.quillcast";
  } else if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
    path = std::string(runtime) + "/quillcast";
  } else {
    *problem =
        "there is no folder for Quillcast's machine: neither QUILLCAST_HOME, HOME nor XDG_RUNTIME_DIR is "
        "set, and a shared temporary folder is never used";
    return "";
  }
  if (path[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
      *problem = "the machine folder " + path + " is relative, and the current folder cannot be found";
      return "";
    }
    path = std::string(cwd) + "/" + path;
  }
  return StripSlashes(path);
}

// A folder that holds the machine folder: another user must not be able to replace what is in
// it, so it is root's or the user's, and writable by others only when sticky.
bool CheckHoldingFolder(const std::string &path, std::string *problem) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *problem =
        "the folder " + path + ", which holds the machine folder, cannot be reached: " + std::strerror(errno);
    return false;
  }
  if (info.st_uid != 0 && info.st_uid != geteuid()) {
    *problem = "the folder " + path + ", which holds the machine folder, belongs to another user (uid " +
               std::to_string(info.st_uid) + ")" + kHolderRemedy;
    return false;
  }
  if ((info.st_mode & 022) != 0 && (info.st_mode & S_ISVTX) == 0) {
    *problem = "the folder " + path +
               ", which holds the machine folder, can be changed by other users (mode " +
               ModeText(info.st_mode) + ")" + kHolderRemedy;
    return false;
  }
  return true;
}

// Makes the folder 0700 when missing; otherwise it must be a folder of this user that no one
// else may write.
bool CheckOwnFolder(const std::string &path, const std::string &what, std::string *problem) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    *problem = "the " + what + " " + path + " cannot be made: " + std::strerror(errno);
    return false;
  }
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *problem = "the " + what + " " + path + " is not a folder" + kRemedy;
    return false;
  }
  if (info.st_uid != geteuid()) {
    *problem = "the " + what + " " + path + " belongs to another user (uid " + std::to_string(info.st_uid) +
               ")" + kRemedy;
    return false;
  }
  if ((info.st_mode & 022) != 0) {
    *problem = "the " + what + " " + path + " can be changed by other users (mode " + ModeText(info.st_mode) +
               ")" + kRemedy;
    return false;
  }
  return true;
}

bool CheckMachine(const std::string &home, std::string *problem) {
  if (home.size() + kLongestSocketName > kMaxSocketPath) {
    *problem = "the machine folder " + home + " has a path of " + std::to_string(home.size()) +
               " bytes: the sockets of its run folder would pass the system's limit of " +
               std::to_string(kMaxSocketPath) +
               " bytes for a socket's path; choose a QUILLCAST_HOME of at most " +
               std::to_string(kMaxSocketPath - kLongestSocketName) + " bytes";
    return false;
  }
  if (!CheckHoldingFolder("/", problem)) return false;
  for (size_t slash = home.find('/', 1); slash != std::string::npos; slash = home.find('/', slash + 1)) {
    std::string holder = home.substr(0, slash);
    mkdir(holder.c_str(), 0700);  // one that was missing is now the user's
    if (!CheckHoldingFolder(holder, problem)) return false;
  }
  if (!CheckOwnFolder(home, "machine folder", problem)) return false;
  // Those missing are made when first needed (MachineSubfolder).
  for (const char *name : kOwnFolders) {
    std::string folder = home + "/" + name;
    struct stat info;
    if (lstat(folder.c_str(), &info) == 0 && !CheckOwnFolder(folder, std::string(name) + " folder", problem))
      return false;
  }
  // The sockets are the user's alone: a run folder of the user's that others may read is
  // narrowed.
  chmod((home + "/run").c_str(), 0700);
  return true;
}

}  // namespace

std::string MachineFolder(std::string *problem) {
  std::string ignored;
  std::string &why = problem != nullptr ? *problem : ignored;
  why.clear();
  std::string home = ChosenMachineFolder(&why);
  if (home.empty()) return "";
  struct stat info;
  std::lock_guard<std::mutex> guard(checkedLock);
  auto checked = checkedMachines.find(home);
  if (checked != checkedMachines.end() && stat(home.c_str(), &info) == 0 &&
      checked->second == std::make_pair(info.st_dev, info.st_ino)) {
    return home;
  }
  if (!CheckMachine(home, &why) || stat(home.c_str(), &info) != 0) return "";
  checkedMachines[home] = {info.st_dev, info.st_ino};
  return home;
}

std::string MachineSubfolder(const std::string &name, std::string *problem) {
  std::string ignored;
  std::string &why = problem != nullptr ? *problem : ignored;
  std::string home = MachineFolder(&why);
  if (home.empty()) return "";
  std::string folder = home;
  for (size_t start = 0; start <= name.size();) {
    size_t slash = name.find('/', start);
    if (slash == std::string::npos) slash = name.size();
    folder += "/" + name.substr(start, slash - start);
    if (!CheckOwnFolder(folder, "folder", &why)) return "";
    start = slash + 1;
  }
  return folder;
}

OSErr MakePrivateFolders(const std::string &path) {
  for (size_t at = 1; at <= path.size(); at++) {
    if (at != path.size() && path[at] != '/') continue;
    if (mkdir(path.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST)
      return errno == ENOENT ? dirNFErr : ioErr;
  }
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return noErr;
  errno = ENOTDIR;
  return dirNFErr;
}

int CreateUniqueFile(const std::string &path, std::string *temporary) {
  for (int attempt = 0; attempt < 100; attempt++) {
    *temporary = path + "." + std::to_string(getpid()) + "-" + std::to_string(uniqueCounter++) + ".tmp";
    int fd = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

int ReplaceFileContents(const std::string &path, std::string_view bytes, bool flush) {
  std::string temporary;
  int fd = CreateUniqueFile(path, &temporary);
  if (fd < 0) return errno;
  int error = 0;
  for (size_t done = 0; error == 0 && done < bytes.size();) {
    ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) error = wrote < 0 ? errno : EIO;
    done += wrote > 0 ? size_t(wrote) : 0;
  }
  if (error == 0 && flush && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) unlink(temporary.c_str());
  return error;
}

}  // namespace carbon
