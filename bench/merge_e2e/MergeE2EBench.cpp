// Whole merges: 10,000 records (1,000 into Mail; the test run makes a few hundred), three placeholders in
// each of the subject, body and To templates, merged through the plug-in's entry exactly as a host calls it
// ("Init", "AddD", "Strt", one "Merg" per record, "Fnsh") into each of the eight stand-in
// email clients, which "Strt" launches. A merge counts as done when every message is a file
// in the client's outbox. Beside each, in the same run, the same merge with sending replaced
// by a counting stub: the plug-in's own CPU time per message. The summary prints messages
// per second, the plug-in's own share of the whole, and where the CPU time went (this
// process, the client).
// Targets: the plug-in's own cost at most 3 us per message for every client; at least
// 10,000 messages/s end to end into Emailer and 3,000/s into the clients that take five or
// more events a message (Eudora, Mailsmith). Mail is bound by the wait of at least 6 ticks
// that the plug-in makes after every message it sends; its merges run with the carbon
// layer's time scale at kMailTimeScale, which the summary states.
#include "apps/kit/StandInApp.h"
#include "external/External.h"
#include "host/StandIns.h"
#include "send/MessageEvent.h"
#include "send/SendDispatcher.h"
#include "tests/ProcessStat.h"

#include <AppleEvents.h>
#include <MacErrors.h>
#include <Processes.h>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 10000;
constexpr int kMailRecords = 1000;

// Records per merge: the full count, or fewer when QUILLCAST_E2E_RECORDS says so (the test
// run sets a few hundred, enough to see that every client takes its messages whole).
int RecordCount(int full) {
  const char *setting = std::getenv("QUILLCAST_E2E_RECORDS");
  int records = setting ? std::atoi(setting) : 0;
  return records > 0 && records < full ? records : full;
}
constexpr const char *kMailTimeScale = "0.05";
constexpr double kTargetPluginMicroseconds = 3.0;
constexpr double kWaitForDiskSeconds = 120;

// --- A host of our own: globals in a map, results released with the external's routine ---

std::map<std::string, std::string> globals;
XHandler handler = nullptr;
XFreeRoutine releaseResult = nullptr;

char *Lend(const std::string &value) {
  return strdup(value.c_str());
}

char *GetGlobalSlot(intptr_t name, intptr_t, intptr_t, int32_t *status) {
  auto found = globals.find(reinterpret_cast<const char *>(name));  // NOLINT(performance-no-int-to-ptr)
  *status = found == globals.end() ? 1 : 0;
  return found == globals.end() ? nullptr : Lend(found->second);
}

char *SetGlobalSlot(intptr_t name, intptr_t value, intptr_t, int32_t *status) {
  globals[reinterpret_cast<const char *>(name)] = reinterpret_cast<const char *>(value);  // NOLINT
  *status = 0;
  return nullptr;
}

char *UnsupportedSlot(intptr_t, intptr_t, intptr_t, int32_t *status) {
  *status = 1;
  return nullptr;
}

void LoadExternal() {
  static XCallback table[kXSlotCount];
  for (XCallback &slot : table) slot = UnsupportedSlot;
  table[kXSlotGetGlobal] = GetGlobalSlot;
  table[kXSlotSetGlobal] = SetGlobalSlot;
  const char *name = nullptr;
  const XTableEntry *entries = nullptr;
  getXtable(
      table, [](char *text) { std::free(text); }, &name, &entries, &releaseResult);
  handler = entries[0].handler;
}

// One host call; the result text ("" for none).
std::string Call(const char *selector, const std::string &text = "", const char *number = nullptr) {
  std::string selectorCopy = selector, textCopy = text, numberCopy = number ? number : "";
  char *args[] = {selectorCopy.data(), textCopy.data(), number ? numberCopy.data() : nullptr};
  char *result = nullptr;
  int32_t pass = 0, error = 0;
  handler(args, number ? 3 : 2, &result, &pass, &error);
  std::string answer = result ? result : "";
  if (result) releaseResult(result);
  return answer;
}

// "Merg" for record index, with the number's text made beforehand.
bool Merge(char *number) {
  char selector[] = "Merg", text[] = "";
  char *args[] = {selector, text, number};
  char *result = nullptr;
  int32_t pass = 0, error = 0;
  handler(args, 3, &result, &pass, &error);
  bool merged = result != nullptr && std::strcmp(result, "true") == 0;
  if (result) releaseResult(result);
  return merged;
}

// --- The machine and the client -----------------------------------------------------------

std::vector<std::string> homes;  // removed at the end: deleting many files slows later runs

double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

size_t CountFiles(const fs::path &folder) {
  std::error_code error;
  size_t count = 0;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) count++;
  return count;
}

// A fresh machine with the client installed, the records in the store and the templates set.
struct Machine {
  std::string client;
  std::string home;
  fs::path outbox;
  int records;

  Machine(const std::string &name, OSType creator)
      : client(name), records(RecordCount(name == "Mail" ? kMailRecords : kRecords)) {
    if (name == "Mail") setenv("QUILLCAST_TIME_SCALE", kMailTimeScale, 1);
    std::string pattern = (fs::temp_directory_path() / "quillcast-merge-XXXXXX").string();
    home = mkdtemp(pattern.data());
    homes.push_back(home);
    setenv("QUILLCAST_HOME", home.c_str(), 1);
    unsetenv("QUILLCAST_AE_TRACE");
    outbox = fs::path(home) / "Data" / name / "outbox" / "new";
    std::string executable = std::string(QUILLCAST_BUILD_DIR_PATH) + "/apps/bin/" + name;
    if (standin::InstallApplication(standin::ApplicationsVolume(), name, creator, executable) != noErr)
      std::fprintf(stderr, "cannot install %s\n", name.c_str());
    globals.clear();
    Call("Init");
    for (int i = 0; i < records; i++) {
      std::string n = std::to_string(i), record = "\t\xFF";
      for (const char *field : {"First", "\tLast", "\tuser", "@example.com\tCompany ", "\tCity"}) {
        record += field;
        record += n;
      }
      Call("AddD", record);
    }
    const std::string o = "\xC7", c = "\xC8";
    globals["_QLXfields"] = "First\nLast\nEmail\nCompany\nCity";
    globals["_QLXsubject"] =
        "News for " + o + "First" + c + " " + o + "Last" + c + " at " + o + "Company" + c;
    globals["_QLXmessage"] = "Dear " + o + "First" + c +
                             ",\n\nthe autumn catalogue is out. It has forty new titles, a section on "
                             "travel writing and, for the first time, audio books. Your copy goes to " +
                             o + "City" + c +
                             " this week; if it has not arrived by Friday, write to us and we will send "
                             "another.\n\nWith kind regards,\nThe Bookshop\n\nP.S. See you at the "
                             "reading, " +
                             o + "First" + c + ".\n";
    globals["_QLXto"] = o + "First" + c + " " + o + "Last" + c + " <" + o + "Email" + c + ">";
  }

  ~Machine() {
    Call("Kill", "");
    host::QuitApplications(client, 10);
    unsetenv("QUILLCAST_TIME_SCALE");
  }

  // Waits until count messages are in the outbox; false when they are not there in time.
  bool AwaitOutbox(size_t count) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kWaitForDiskSeconds);
    while (CountFiles(outbox) < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
};

std::vector<std::vector<char>> IndexTexts(int records) {
  std::vector<std::vector<char>> texts;
  for (int i = 0; i < records; i++) {
    std::string n = std::to_string(i);
    texts.emplace_back(n.begin(), n.end());
    texts.back().push_back(0);
  }
  return texts;
}

// --- The merges -----------------------------------------------------------------------------

struct Shares {
  double pluginProcessMicros = 0;  // CPU time of this process per message, end to end
  double clientMicros = 0;         // CPU time of the client process per message
};
std::map<std::string, Shares> shares;

// One iteration: "Strt", a "Merg" per record, "Fnsh", and the wait until every message is on disk.
// "Strt" (which launches the client the first time) is outside the time.
void BM_MergeEndToEnd(benchmark::State &state, const char *client, OSType creator) {
  Machine machine(client, creator);
  std::vector<std::vector<char>> numbers = IndexTexts(machine.records);
  size_t expected = 0;
  double ownCpu = 0, clientCpu = 0;
  for (auto _ : state) {
    if (Call("Strt", client) != "true") {
      state.SkipWithError("Strt failed");
      break;
    }
    pid_t clientPid = host::RunningApplications(machine.client).at(0);
    double ownBefore = OwnCpuSeconds(), clientBefore = ProcessCpuSeconds(clientPid);
    auto start = std::chrono::steady_clock::now();
    bool merged = true;
    for (std::vector<char> &number : numbers) merged = Merge(number.data()) && merged;
    Call("Fnsh");
    expected += size_t(machine.records);
    bool onDisk = merged && machine.AwaitOutbox(expected);  // no waiting for what was never sent
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    ownCpu += OwnCpuSeconds() - ownBefore;
    clientCpu += ProcessCpuSeconds(clientPid) - clientBefore;
    if (!merged || !onDisk)
      state.SkipWithError(merged ? "messages missing from the outbox" : "a Merg failed");
  }
  state.SetItemsProcessed(int64_t(expected));
  if (expected > 0) shares[client] = {ownCpu * 1e6 / double(expected), clientCpu * 1e6 / double(expected)};
  state.counters["outbox_files"] = double(CountFiles(machine.outbox));
}

long stubEvents = 0;
OSErr CountingSend(const AppleEvent *event, AppleEvent *reply, AESendMode mode) {
  AEInitializeDesc(reply);
  stubEvents++;
  if ((mode & kAEWaitReply) != kAEWaitReply) return noErr;
  AECreateList(nullptr, 0, true, reply);
  // A question about a message (Mail's 'ID  '): the message has gone, as once it is sent.
  AEEventID id = 0;
  DescType type;
  Size size;
  AEGetAttributePtr(event, keyEventIDAttr, typeType, &type, &id, sizeof id, &size);
  if (id == kAEGetData) return noErr;
  // A new message: any descriptor stands for its specifier.
  const SInt32 one = 1;
  return AEPutKeyPtr(reply, keyDirectObject, typeSInt32, &one, sizeof one);
}

// The same merge with sending replaced by the stub after "Strt": the plug-in's own CPU time
// per "Merg", host call included.
void BM_MergeIntoStub(benchmark::State &state, const char *client, OSType creator) {
  Machine machine(client, creator);
  std::vector<std::vector<char>> numbers = IndexTexts(machine.records);
  if (Call("Strt", client) != "true") state.SkipWithError("Strt failed");
  emailClientSend = CountingSend;
  stubEvents = 0;
  size_t index = 0;
  for (auto _ : state) {
    if (!Merge(numbers[index].data())) state.SkipWithError("a Merg failed");
    if (++index == numbers.size()) index = 0;
  }
  emailClientSend = SendEmailClientEventNow;
  Call("Fnsh");
  state.counters["events/msg"] = double(stubEvents) / double(state.iterations());
}

// Keeps messages per second of the whole merges and CPU time per message of the stub runs.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> perSecond, stubMicros;
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      std::string name = run.run_name.function_name;
      std::string client = name.substr(name.find('/') + 1);
      if (name.rfind("BM_MergeEndToEnd/", 0) == 0) perSecond[client] = run.counters.at("items_per_second");
      if (name.rfind("BM_MergeIntoStub/", 0) == 0) stubMicros[client] = run.GetAdjustedCPUTime() / 1000.0;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

// The clients in the order of the plug-in's table, each with its end-to-end target (0: none).
struct Client {
  const char *name;
  OSType creator;
  double target;
};
constexpr Client kClients[] = {
    {"Outlook Express", FourCC("MSNM"), 0}, {"Entourage", FourCC("OPIM"), 0},
    {"Eudora", FourCC("CSOm"), 3000},       {"Emailer", FourCC("MMan"), 10000},
    {"Mailsmith", FourCC("BLTO"), 3000},    {"PowerMail", FourCC("Cmlt"), 0},
    {"QuickMail", FourCC("CeLP"), 0},       {"Mail", FourCC("emal"), 0},
};

void PrintSummary(const SummaryReporter &reporter) {
  std::printf(
      "\nMerges of %d records (Mail %d, time scale %s), three placeholders per template, every "
      "message on disk:\n",
      RecordCount(kRecords), RecordCount(kMailRecords), kMailTimeScale);
  for (const Client &client : kClients) {
    auto rate = reporter.perSecond.find(client.name);
    auto own = reporter.stubMicros.find(client.name);
    double whole = rate != reporter.perSecond.end() && rate->second > 0 ? 1e6 / rate->second : 0;
    std::printf("  %s\n", client.name);
    if (whole > 0) {
      std::printf("    end to end     %7.0f msg/s (%.1f us/msg)", rate->second, whole);
      if (client.target > 0)
        std::printf("  %s target %.0f/s", rate->second >= client.target ? "meets" : "MISSES", client.target);
      std::printf("\n    CPU per msg    this process %.1f us, %s process %.1f us\n",
                  shares[client.name].pluginProcessMicros, client.name, shares[client.name].clientMicros);
    }
    if (own != reporter.stubMicros.end()) {
      std::printf("    plug-in's own  %7.2f us/msg  %s target %.1f us", own->second,
                  own->second <= kTargetPluginMicroseconds ? "within" : "OVER", kTargetPluginMicroseconds);
      if (whole > 0) std::printf(", %.1f%% of the whole", 100 * own->second / whole);
      std::printf("\n");
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  setenv("QUILLCAST_BUNDLE", QUILLCAST_BUILD_DIR_PATH "/Quillcast.bundle", 0);
  LoadExternal();
  for (const Client &client : kClients) {
    benchmark::RegisterBenchmark((std::string("BM_MergeEndToEnd/") + client.name).c_str(), BM_MergeEndToEnd,
                                 client.name, client.creator)
        ->Iterations(2)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("BM_MergeIntoStub/") + client.name).c_str(), BM_MergeIntoStub,
                                 client.name, client.creator);
  }
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(reporter);
  for (const std::string &home : homes) fs::remove_all(home);
  benchmark::Shutdown();
  return 0;
}
