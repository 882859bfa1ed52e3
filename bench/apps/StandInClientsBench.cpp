// Throughput of the stand-in email clients: messages per second queued into Emailer (one
// 'CRML' event each, sent without waiting, as the plug-in does) and into Eudora (the
// plug-in's sequence: 'crel' and 'eQue' waited for, three fields set without waiting), each
// message written whole into the outbox. The baseline is the same events answered by the
// echo application, which does no mail work: the ratio shows what the mail store costs over
// the transport. Targets on a 2-core machine: Emailer 10,000/s, Eudora 3,000/s. The client's
// CPU time per message is shown beside: most of it is the kernel creating the message file,
// which on a file system that has just deleted many files costs far more than usual. The
// machines live in the temporary folder (TMPDIR).
#include "apps/kit/StandInApp.h"
#include "tests/ProcessStat.h"

#include <AppleEvents.h>
#include <MacErrors.h>
#include <Processes.h>

#include <benchmark/benchmark.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kBatch = 1000;  // messages per iteration, ended by one waited-for event

// The machines of all runs, removed only at the end: deleting thousands of files makes the
// file system slower to create new ones for a while, which would weigh on the next run.
std::vector<std::string> homes;

// A stand-in started on a fresh machine for one benchmark, quit and removed afterwards.
struct Client {
  std::string home;
  ProcessSerialNumber psn{};

  Client(const std::string &name, OSType creator) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::string pattern = (std::filesystem::temp_directory_path() / "quillcast-bench-XXXXXX").string();
    home = mkdtemp(pattern.data());
    setenv("QUILLCAST_HOME", home.c_str(), 1);
    unsetenv("QUILLCAST_AE_TRACE");
    std::string volume = standin::ApplicationsVolume();
    std::string executable = std::string(std::getenv("QUILLCAST_BUILD_DIR")) + "/apps/bin/" + name;
    std::string installed = name == "echo" ? "Echo" : name;
    if (standin::InstallApplication(volume, installed, creator, executable) != noErr ||
        standin::LaunchInstalledApplication(volume, installed, &psn) != noErr)
      std::fprintf(stderr, "cannot launch %s\n", name.c_str());
  }
  ~Client() {
    AppleEvent quit = Event(kCoreEventClass, kAEQuitApplication), reply;
    AESend(&quit, &reply, kAEWaitReply, kAENormalPriority, 6000, nullptr, nullptr);
    AEDisposeDesc(&quit);
    AEDisposeDesc(&reply);
    waitpid(pid_t(psn.lowLongOfPSN), nullptr, 0);
    homes.push_back(home);
  }
  AppleEvent Event(AEEventClass eventClass, AEEventID id) const {
    AEAddressDesc target;
    AppleEvent event;
    AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target);
    AECreateAppleEvent(eventClass, id, &target, kAutoGenerateReturnID, kAnyTransactionID, &event);
    AEDisposeDesc(&target);
    return event;
  }
  // User and system CPU time the client process has used, in microseconds.
  double CpuMicroseconds() const { return ProcessCpuSeconds(pid_t(psn.lowLongOfPSN)) * 1e6; }
  size_t OutboxCount(const std::string &name) const {
    std::filesystem::path folder = home + "/Data/" + name + "/outbox/new";
    if (!std::filesystem::exists(folder)) return 0;
    return size_t(std::distance(std::filesystem::directory_iterator(folder), {}));
  }
};

OSErr Send(const AppleEvent &event, bool wait, AppleEvent *reply = nullptr) {
  AppleEvent ignored;
  OSErr err =
      AESend(&event, reply ? reply : &ignored, wait ? 0x43 : 0x41, kAENormalPriority, 1200, nullptr, nullptr);
  if (!reply) AEDisposeDesc(&ignored);
  return err;
}

void PutText(AppleEvent *event, AEKeyword key, const std::string &text) {
  AEPutParamPtr(event, key, typeChar, text.data(), Size(text.size()));
}

std::string Body(int n) {
  return "Dear Ms Lindqvist " + std::to_string(n) +
         ",\r\rthank you for your order no. 4711. It leaves our warehouse today and should reach Malm\x9a by "
         "Friday.\r\rKind regards,\rThe Shop\r";
}

// One Emailer message as the plug-in builds it: body, subject, one To recipient, queued.
AppleEvent EmailerMessage(const Client &client, int n) {
  AppleEvent event = client.Event(FourCC("MMan"), FourCC("CRML"));
  PutText(&event, FourCC("BODY"), Body(n));
  PutText(&event, FourCC("SUBJ"), "Your order " + std::to_string(n));
  AEDescList recipients;
  AERecord recipient;
  AECreateList(nullptr, 0, false, &recipients);
  AECreateList(nullptr, 0, true, &recipient);
  SInt16 kind = 0;
  std::string address = "anna" + std::to_string(n) + "@example.com (Anna Lindqvist)";
  AEPutKeyPtr(&recipient, FourCC("RCTP"), typeSInt16, &kind, 2);
  AEPutKeyPtr(&recipient, FourCC("RCAD"), typeChar, address.data(), Size(address.size()));
  AEPutDesc(&recipients, 0, &recipient);
  AEPutParamDesc(&event, FourCC("RECP"), &recipients);
  AEPutParamPtr(&event, FourCC("SAVE"), typeTrue, nullptr, 0);
  AEDisposeDesc(&recipient);
  AEDisposeDesc(&recipients);
  return event;
}

// The plug-in's Eudora sequence for one message: the new message's specifier from 'crel',
// three fields set without waiting, then 'eQue' waited for.
void EudoraMessage(const Client &client, int n) {
  AppleEvent create = client.Event(kAECoreSuite, kAECreateElement), reply;
  OSType messageClass = FourCC("euMS");
  AEPutParamPtr(&create, keyAEObjectClass, typeType, &messageClass, 4);
  Send(create, true, &reply);
  AEDesc message;
  if (AEGetParamDesc(&reply, keyDirectObject, typeWildCard, &message) != noErr) AEInitializeDesc(&message);
  const std::pair<const char *, std::string> fields[] = {{"", Body(n)},
                                                         {"subject", "Your order " + std::to_string(n)},
                                                         {"to", "anna@example.com (Anna Lindqvist)"}};
  for (const auto &[name, value] : fields) {
    AppleEvent set = client.Event(kAECoreSuite, kAESetData);
    AERecord field;
    AECreateList(nullptr, 0, true, &field);
    OSType form = formName, want = FourCC("euFd");
    AEPutKeyPtr(&field, keyAEKeyForm, typeEnumerated, &form, 4);
    AEPutKeyPtr(&field, keyAEDesiredClass, typeType, &want, 4);
    AEPutKeyPtr(&field, keyAEKeyData, typeChar, name, Size(std::strlen(name)));
    AEPutKeyDesc(&field, keyAEContainer, &message);
    AEDesc specifier;
    AECoerceDesc(&field, typeObjectSpecifier, &specifier);
    AEPutParamDesc(&set, keyDirectObject, &specifier);
    PutText(&set, keyAEData, value);
    Send(set, false);
    for (AEDesc *desc : {&set, &field, &specifier}) AEDisposeDesc(desc);
  }
  AppleEvent queue = client.Event(FourCC("CSOm"), FourCC("eQue")), queued;
  AEPutParamDesc(&queue, keyDirectObject, &message);
  Send(queue, true, &queued);
  for (AEDesc *desc : {&create, &reply, &message, &queue, &queued}) AEDisposeDesc(desc);
}

void EmailerSend(const Client &client, int n) {
  AppleEvent event = EmailerMessage(client, n);
  Send(event, false);
  AEDisposeDesc(&event);
}

// Sends kBatch messages per iteration, then one event waited for, which the client answers
// only after every message before it. On a mail client, checks that each message is on disk.
void BM_Queue(benchmark::State &state, const char *name, OSType creator,
              void (*message)(const Client &, int)) {
  Client client(name, creator);
  int sent = 0;
  double cpuBefore = client.CpuMicroseconds();
  for (auto _ : state) {
    for (int i = 0; i < kBatch; i++) message(client, sent++);
    AppleEvent ping = client.Event(FourCC("ECHO"), FourCC("echo")), reply;
    if (Send(ping, true, &reply) != noErr) state.SkipWithError("the client does not answer");
    AEDisposeDesc(&ping);
    AEDisposeDesc(&reply);
  }
  state.SetItemsProcessed(sent);
  state.counters["client_cpu_us/msg"] = (client.CpuMicroseconds() - cpuBefore) / sent;
  if (std::string(name) != "echo" && client.OutboxCount(name) != size_t(sent))
    state.SkipWithError("messages missing from the outbox");
}
BENCHMARK_CAPTURE(BM_Queue, Emailer, "Emailer", FourCC("MMan"), EmailerSend)->Iterations(10)->UseRealTime();
BENCHMARK_CAPTURE(BM_Queue, EmailerEventsToEcho, "echo", FourCC("Echo"), EmailerSend)
    ->Iterations(10)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Queue, Eudora, "Eudora", FourCC("CSOm"), EudoraMessage)->Iterations(5)->UseRealTime();
BENCHMARK_CAPTURE(BM_Queue, EudoraEventsToEcho, "echo", FourCC("Echo"), EudoraMessage)
    ->Iterations(5)
    ->UseRealTime();

// Keeps the messages per second of every run for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> perSecond;
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      auto rate = run.counters.find("items_per_second");
      std::string name = run.benchmark_name();
      name = name.substr(0, name.find("/iterations"));
      if (!run.error_occurred && rate != run.counters.end()) perSecond[name] = rate->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const struct {
    const char *client, *baseline;
    double target;
  } rows[] = {{"Emailer", "EmailerEventsToEcho", 10000}, {"Eudora", "EudoraEventsToEcho", 3000}};
  std::printf("\nMessages queued per second, each written whole to the outbox:\n");
  for (const auto &row : rows) {
    double rate = reporter.perSecond["BM_Queue/" + std::string(row.client)];
    double baseline = reporter.perSecond["BM_Queue/" + std::string(row.baseline)];
    std::printf("  %-8s %8.0f/s  %s target %.0f/s  %.2fx the rate of the same events to echo (%.0f/s)\n",
                row.client, rate, rate >= row.target ? "meets" : "MISSES", row.target,
                baseline > 0 ? rate / baseline : 0.0, baseline);
  }
  for (const std::string &home : homes) std::filesystem::remove_all(home);
  benchmark::Shutdown();
  return 0;
}
