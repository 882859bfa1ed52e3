// Internal to the carbon layer: the process table of the emulated machine, shared by the
// Process Manager, AESend, Launch Services and the stand-in application kit.
//
// The table is the folder $QUILLCAST_HOME/run (mode 0700). Each running application has
//   <pid>.proc   its entry, a small text file (mode 0600), replaced whole by rename;
//   <pid>.sock   the Unix socket on which it receives Apple Events (mode 0600).
// Beside them: `front` names the front process, `sequence` counts launches, and `.lock` is
// the flock that serialises every read-modify-write of the table.
//
// Entry text, one "key value" per line (unknown keys are ignored, so that later fields can
// be added):
//   creator 'Echo'        four bytes between quotes, any bytes but a line feed
//   type 'APPL'
//   name Echo             up to 255 bytes
//   pid 1234
//   started 5678          start time of the process in clock ticks since boot (from
//                         /proc/<pid>/stat), so that a reused pid is not taken for the app
//   socket /home/.../run/1234.sock
//   application /home/.../Applications/Echo.app
//   visible 1
//   order 7               launch order, from the `sequence` counter
// An entry whose process has died (or whose pid now belongs to another process) is stale:
// it is never reported, and whoever meets it removes it with its socket.
#pragma once

#include <MacTypes.h>

#include <sys/types.h>
#include <string>
#include <string_view>
#include <vector>

namespace carbon {

struct ProcessEntry {
  OSType creator = 0;
  OSType type = FourCC("APPL");
  std::string name;
  pid_t pid = 0;
  uint64_t started = 0;
  std::string socketPath;
  std::string applicationPath;
  bool visible = true;
  uint64_t order = 0;
};

constexpr size_t kMaxEntryBytes = 8192;
constexpr size_t kMaxProcessName = 255;

// The run folder and its files; empty when the machine folder is refused (MachineFolder.h),
// and then every call below fails or finds nothing.
std::string RunFolder();
std::string EntryPathFor(pid_t pid);
std::string SocketPathFor(pid_t pid);

std::string FormatProcessEntry(const ProcessEntry &entry);
// Reads entry text from a file of the run folder; false (and *entry unspecified) for text
// that is malformed, oversized, or lacks the creator, pid or socket.
bool ParseProcessEntry(std::string_view text, ProcessEntry *entry);

// The start time of a live process; false when there is no such process or it is a zombie.
bool ProcessStartTime(pid_t pid, uint64_t *started);
bool IsProcessAlive(pid_t pid, uint64_t started);

// Live entries in launch order (then pid). Stale entries met on the way are removed.
std::vector<ProcessEntry> LiveProcesses();
bool FindLiveProcess(pid_t pid, ProcessEntry *entry);

// Writes the calling process's entry (pid, start time and launch order are filled in here).
// The socket must already be listening, since the entry announces it.
OSErr RegisterProcess(ProcessEntry *entry);
void UnregisterProcess(pid_t pid);  // removes entry and socket
OSErr SetEntryVisible(pid_t pid, bool visible);

// The front process: its pid and start time are kept in run/front.
bool ReadFrontProcess(pid_t *pid, uint64_t *started);
OSErr WriteFrontProcess(pid_t pid, uint64_t started);

// Writes bytes to a file of the run folder atomically (a unique temporary file, then rename),
// 0600.
OSErr ReplaceFile(const std::string &path, std::string_view bytes);
bool ReadSmallFile(const std::string &path, size_t limit, std::string *bytes);

}  // namespace carbon
