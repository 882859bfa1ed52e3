// Process Manager over the process table (ProcessTable.h). A process serial number is
// {0, pid}; {0, kCurrentProcess} means the caller. The caller's own process (the host) need
// not be in the table: it is described from /proc instead, and is the front process
// whenever no registered application has been brought to the front since.
#include "AEWire.h"
#include "CarbonPaths.h"
#include "ProcessTable.h"

#include <MacErrors.h>
#include <Processes.h>

#include <unistd.h>
#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>

namespace carbon {
namespace {

constexpr size_t kClassicProcessInfoLength = 60;
constexpr UInt32 kApplicationMode = 0x00001000 | 0x00000040 | 0x00000020;  // background, high-level events

// Launch order of processes seen by GetNextProcess, so that an iteration can go on past a
// process that quit between two calls.
std::mutex ordersLock;
std::map<pid_t, uint64_t> lastOrders;

bool PidOf(const ProcessSerialNumber *psn, pid_t *pid) {
  if (psn == nullptr || psn->highLongOfPSN != 0 || psn->lowLongOfPSN > INT_MAX) return false;
  *pid = psn->lowLongOfPSN == kCurrentProcess ? getpid() : pid_t(psn->lowLongOfPSN);
  return *pid > 0;
}

void SetPascal(StringPtr out, const std::string &text) {
  size_t length = std::min<size_t>(text.size(), 255);
  out[0] = uint8_t(length);
  std::copy_n(text.data(), length, out + 1);
}

std::string LinkTarget(const char *path) {
  char buffer[4096];
  ssize_t length = readlink(path, buffer, sizeof buffer - 1);
  return length > 0 ? std::string(buffer, size_t(length)) : std::string();
}

// The calling process when it has not registered: the host.
ProcessEntry DescribeSelf() {
  ProcessEntry self;
  self.creator = FourCC("????");
  self.pid = getpid();
  ProcessStartTime(self.pid, &self.started);
  std::string comm;
  if (ReadSmallFile("/proc/self/comm", 64, &comm) && !comm.empty() && comm.back() == '\n') comm.pop_back();
  self.name = comm;
  self.applicationPath = LinkTarget("/proc/self/exe");
  return self;
}

// The table's entry for the pid, or the caller's own description.
bool DescribeProcess(pid_t pid, ProcessEntry *entry) {
  if (FindLiveProcess(pid, entry)) return true;
  if (pid != getpid()) return false;
  *entry = DescribeSelf();
  return true;
}

OSErr FillProcessInfo(const ProcessEntry &entry, ProcessInfoRec *info) {
  info->processNumber = {0, UInt32(entry.pid)};
  info->processType = entry.type;
  info->processSignature = entry.creator;
  info->processMode = kApplicationMode;
  info->processLocation = nullptr;
  info->processSize = 0;
  info->processFreeMem = 0;
  info->processLauncher = {0, kNoProcess};
  info->processLaunchDate = 0;
  info->processActiveTime = 0;
  if (info->processName != nullptr) SetPascal(info->processName, entry.name);
  if (info->processAppSpec == nullptr) return noErr;
  return entry.applicationPath.empty() ? OSErr(fnfErr)
                                       : PathToFSSpec(entry.applicationPath, info->processAppSpec);
}

}  // namespace
}  // namespace carbon

using namespace carbon;

OSErr GetNextProcess(ProcessSerialNumber *PSN) {
  if (PSN == nullptr) return paramErr;
  std::vector<ProcessEntry> live = LiveProcesses();
  std::map<pid_t, uint64_t> orders;
  for (const ProcessEntry &entry : live) orders[entry.pid] = entry.order;
  std::lock_guard<std::mutex> guard(ordersLock);
  uint64_t afterOrder = 0;
  pid_t afterPid = 0;
  if (PSN->highLongOfPSN != 0 || PSN->lowLongOfPSN != kNoProcess) {
    if (!PidOf(PSN, &afterPid)) afterPid = 0;
    auto current = orders.find(afterPid);
    auto seen = lastOrders.find(afterPid);  // a process that quit since the last call
    if (current == orders.end() && seen == lastOrders.end()) {
      *PSN = {0, kNoProcess};
      return procNotFound;
    }
    afterOrder = current != orders.end() ? current->second : seen->second;
  }
  lastOrders = std::move(orders);
  for (const ProcessEntry &entry : live) {
    if (entry.order > afterOrder || (entry.order == afterOrder && entry.pid > afterPid)) {
      *PSN = {0, UInt32(entry.pid)};
      return noErr;
    }
  }
  *PSN = {0, kNoProcess};
  return procNotFound;
}

OSErr GetProcessInformation(const ProcessSerialNumber *PSN, ProcessInfoRec *info) {
  if (info == nullptr || (info->processInfoLength != kClassicProcessInfoLength &&
                          info->processInfoLength != sizeof(ProcessInfoRec))) {
    return paramErr;
  }
  pid_t pid = 0;
  ProcessEntry entry;
  if (!PidOf(PSN, &pid) || !DescribeProcess(pid, &entry)) return procNotFound;
  return FillProcessInfo(entry, info);
}

OSErr GetCurrentProcess(ProcessSerialNumber *PSN) {
  if (PSN == nullptr) return paramErr;
  *PSN = {0, UInt32(getpid())};
  return noErr;
}

OSErr GetFrontProcess(ProcessSerialNumber *PSN) {
  if (PSN == nullptr) return paramErr;
  pid_t pid = 0;
  uint64_t started = 0;
  bool front = ReadFrontProcess(&pid, &started) && IsProcessAlive(pid, started);
  *PSN = {0, UInt32(front ? pid : getpid())};
  return noErr;
}

OSErr SetFrontProcess(const ProcessSerialNumber *PSN) {
  pid_t pid = 0;
  ProcessEntry entry;
  if (!PidOf(PSN, &pid) || !DescribeProcess(pid, &entry)) return procNotFound;
  pid_t oldPid = 0;
  uint64_t oldStarted = 0;
  bool hadFront = ReadFrontProcess(&oldPid, &oldStarted);
  if (hadFront && oldPid == pid && oldStarted == entry.started) return noErr;
  OSErr err = WriteFrontProcess(pid, entry.started);
  if (err != noErr) return err;
  ProcessEntry old;
  if (hadFront && FindLiveProcess(oldPid, &old) && old.started == oldStarted) {
    SendProcessNotice(old, kFrameFront, false);
  }
  if (pid != getpid()) SendProcessNotice(entry, kFrameFront, true);
  return noErr;
}

OSErr ShowHideProcess(const ProcessSerialNumber *psn, Boolean visible) {
  pid_t pid = 0;
  if (!PidOf(psn, &pid)) return procNotFound;
  ProcessEntry entry;
  if (!FindLiveProcess(pid, &entry)) return pid == getpid() ? OSErr(noErr) : OSErr(procNotFound);
  OSErr err = SetEntryVisible(pid, visible != 0);
  if (err == noErr) SendProcessNotice(entry, kFrameVisible, visible != 0);
  return err;
}

Boolean IsProcessVisible(const ProcessSerialNumber *psn) {
  pid_t pid = 0;
  ProcessEntry entry;
  if (!PidOf(psn, &pid)) return false;
  if (FindLiveProcess(pid, &entry)) return entry.visible;
  return pid == getpid();
}

OSErr SameProcess(const ProcessSerialNumber *PSN1, const ProcessSerialNumber *PSN2, Boolean *result) {
  pid_t first = 0;
  pid_t second = 0;
  if (result == nullptr || !PidOf(PSN1, &first) || !PidOf(PSN2, &second)) return paramErr;
  *result = first == second;
  return noErr;
}
