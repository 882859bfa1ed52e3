// AESend between processes: a typical message-creation event ('core'/'crel' with a property
// record of five text fields) to the echo application, with and without waiting for the
// reply, beside a bare Unix-socket ping-pong of the same byte counts with a forked process.
// Prints each and the ratio to the ping-pong; the target is within 2x.
#include "apps/kit/StandInApp.h"

#include <AppleEvents.h>
#include <MacErrors.h>
#include <Processes.h>

#include <benchmark/benchmark.h>

#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

ProcessSerialNumber echoProcess{};
Size eventBytes = 0;
Size replyBytes = 0;

void PutText(AERecord *record, const char *key, const std::string &text) {
  AEPutKeyPtr(record, FourCC(*reinterpret_cast<const char(*)[5]>(key)), typeChar, text.data(),
              Size(text.size()));
}

AppleEvent MessageEvent() {
  AEAddressDesc target;
  AppleEvent event;
  AERecord properties;
  AECreateDesc(typeProcessSerialNumber, &echoProcess, sizeof echoProcess, &target);
  AECreateAppleEvent(kAECoreSuite, kAECreateElement, &target, kAutoGenerateReturnID, kAnyTransactionID,
                     &event);
  OSType messageClass = FourCC("bcke");
  AEPutParamPtr(&event, keyAEObjectClass, typeType, &messageClass, 4);
  AECreateList(nullptr, 0, true, &properties);
  PutText(&properties, "subj", "Your order of 12 March");
  PutText(&properties, "ctnt",
          "Dear Ms Lindqvist,\rthank you for your order. It leaves our warehouse today.\r");
  PutText(&properties, "rcpt", "anna.lindqvist@example.com");
  PutText(&properties, "cc  ", "orders@example.com");
  PutText(&properties, "from", "Shop <shop@example.com>");
  AEPutParamDesc(&event, keyAEPropData, &properties);
  AEDisposeDesc(&properties);
  AEDisposeDesc(&target);
  return event;
}

void BM_AESendWaitReply(benchmark::State &state) {
  AppleEvent event = MessageEvent();
  for (auto _ : state) {
    AppleEvent reply;
    if (AESend(&event, &reply, kAEWaitReply | kAECanSwitchLayer, kAENormalPriority, 1200, nullptr, nullptr) !=
        noErr) {
      state.SkipWithError("AESend failed");
      break;
    }
    AEDisposeDesc(&reply);
  }
  AEDisposeDesc(&event);
  state.SetItemsProcessed(state.iterations());
}

void BM_AESendNoReply(benchmark::State &state) {
  AppleEvent event = MessageEvent();
  AppleEvent reply;
  for (auto _ : state) {
    if (AESend(&event, &reply, kAENoReply | kAECanSwitchLayer, kAENormalPriority, 1200, nullptr, nullptr) !=
        noErr) {
      state.SkipWithError("AESend failed");
      break;
    }
  }
  // The last wait-reply send returns once the application has handled every event before it.
  AESend(&event, &reply, kAEWaitReply, kAENormalPriority, kNoTimeOut, nullptr, nullptr);
  AEDisposeDesc(&reply);
  AEDisposeDesc(&event);
  state.SetItemsProcessed(state.iterations());
}

bool ExchangeExactly(int fd, std::vector<char> &buffer, size_t count, bool sending) {
  for (size_t done = 0; done < count;) {
    ssize_t moved = sending ? write(fd, buffer.data() + done, count - done)
                            : read(fd, buffer.data() + done, count - done);
    if (moved <= 0) return false;
    done += size_t(moved);
  }
  return true;
}

// The same bytes as an event with its frame and a reply with its frame, over a socket pair
// to a forked process that answers each message as it comes.
void BM_BarePingPong(benchmark::State &state) {
  size_t out = size_t(eventBytes) + 12;
  size_t back = size_t(replyBytes) + 12;
  int fds[2];
  socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
  pid_t peer = fork();
  if (peer == 0) {
    close(fds[0]);
    std::vector<char> buffer(out > back ? out : back);
    while (ExchangeExactly(fds[1], buffer, out, false) && ExchangeExactly(fds[1], buffer, back, true)) {
    }
    _exit(0);
  }
  close(fds[1]);
  std::vector<char> buffer(out > back ? out : back, 'x');
  for (auto _ : state) {
    if (!ExchangeExactly(fds[0], buffer, out, true) || !ExchangeExactly(fds[0], buffer, back, false)) {
      state.SkipWithError("ping-pong failed");
      break;
    }
  }
  close(fds[0]);
  waitpid(peer, nullptr, 0);
  state.SetItemsProcessed(state.iterations());
}

// Three short runs each, compared by their medians: one run is at the mercy of the scheduler.
BENCHMARK(BM_BarePingPong)->MinTime(0.3)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_AESendWaitReply)->MinTime(0.3)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_AESendNoReply)->MinTime(0.3)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();

// Keeps each benchmark's time per iteration for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.aggregate_name == "median") nanos[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> nanos;
};

bool StartEcho(const std::string &home) {
  setenv("QUILLCAST_HOME", home.c_str(), 1);
  unsetenv("QUILLCAST_AE_TRACE");
  prctl(PR_SET_CHILD_SUBREAPER, 1);  // the launched application comes back here to be reaped
  std::string applications = standin::ApplicationsVolume();
  const char *build = std::getenv("QUILLCAST_BUILD_DIR");
  std::string executable = std::string(build != nullptr ? build : ".") + "/apps/bin/echo";
  if (standin::InstallApplication(applications, "Echo", FourCC("Echo"), executable) != noErr ||
      standin::LaunchInstalledApplication(applications, "Echo", &echoProcess) != noErr) {
    return false;
  }
  AppleEvent event = MessageEvent();
  AppleEvent reply;
  eventBytes = AESizeOfFlattenedDesc(&event);
  OSErr err = AESend(&event, &reply, kAEWaitReply, kAENormalPriority, 1200, nullptr, nullptr);
  replyBytes = AESizeOfFlattenedDesc(&reply);
  AEDisposeDesc(&event);
  AEDisposeDesc(&reply);
  return err == noErr;
}

}  // namespace

int main(int argc, char **argv) {
  char pattern[] = "/tmp/quillcast-aesend-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  std::string home = pattern;
  bool started = StartEcho(home);
  int status = 0;
  if (!started) {
    std::fprintf(stderr, "cannot start the echo application (is QUILLCAST_BUILD_DIR set?)\n");
    status = 1;
  } else {
    std::printf("event %ld bytes, reply %ld bytes\n", long(eventBytes), long(replyBytes));
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double bare = reporter.nanos["BM_BarePingPong"];
    for (const char *name : {"BM_AESendWaitReply", "BM_AESendNoReply"}) {
      if (bare > 0 && reporter.nanos.count(name) != 0) {
        std::printf("%s / bare ping-pong = %.2f (target 2.00 or less)\n", name, reporter.nanos[name] / bare);
      }
    }
  }
  if (echoProcess.lowLongOfPSN != 0) {
    kill(pid_t(echoProcess.lowLongOfPSN), SIGKILL);
    waitpid(pid_t(echoProcess.lowLongOfPSN), nullptr, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  return status;
}
