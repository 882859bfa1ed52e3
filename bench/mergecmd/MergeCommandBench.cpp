// `quillcast merge` of 10,000 CSV rows (three placeholders in each of the subject, body and
// To, a Cc and a record number), run as a user runs it, each run on a fresh machine folder:
//   - with --dry-run into Emailer: the records read and checked, merged through the external
//     into a client of the run's own, and every message written as <record>.eml. Target: at
//     least 10,000 messages per second. A common Python mail-merge tool does 3,060 per
//     second on the same work; the ratio to that figure is printed.
//   - beside it, in the same run, the real merge of the same rows into Emailer, journaled:
//     what the journal's flushed "start" line costs per record.
// A run counts from the command's start until every message is a file: a dry run's command
// has exited, a real merge's client has quit.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 10000;
constexpr double kTargetPerSecond = 10000;
constexpr double kPythonToolPerSecond = 3060;  // the same work in a common Python mail-merge tool

std::map<std::string, double> rates;

struct Folder {
  fs::path path;
  Folder() {
    std::string pattern = (fs::temp_directory_path() / "merge-bench-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~Folder() { fs::remove_all(path); }
};

void WriteInput(const fs::path &folder) {
  std::ofstream data(folder / "people.csv");
  data << "First,Last,Email,Town\n";
  for (int n = 1; n <= kRecords; n++)
    data << "First" << n << ",Last" << n << ",person" << n << "@example.com,Town\n";
  std::ofstream(folder / "letter.txt") << "To: {{First}} {{Last}} <{{Email}}>\nCc: office@example.com\n"
                                          "Subject: Invitation «§∆» for {{First}} {{Last}}\n\n"
                                          "Dear {{First}} {{Last}},\n\nsee you in {{Town}}.\n";
}

// Runs the command with QUILLCAST_HOME at home; its exit status, or -1.
int RunMerge(const fs::path &home, std::vector<std::string> args) {
  std::string program = std::string(QUILLCAST_BUILD_DIR_PATH) + "/quillcast";
  args.insert(args.begin(), {program, "merge"});
  pid_t pid = fork();
  if (pid == 0) {
    setenv("QUILLCAST_HOME", home.c_str(), 1);
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (!freopen("/dev/null", "w", stdout)) _exit(127);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Quits the clients a real merge left running on home.
void StopClients(const fs::path &home) {
  std::error_code ignored;
  for (const fs::directory_entry &entry : fs::directory_iterator(home / "run", ignored)) {
    if (entry.path().extension() != ".proc") continue;
    std::ifstream in(entry.path());
    std::string key, value;
    while (in >> key >> value) {
      if (key == "pid") kill(std::atoi(value.c_str()), SIGTERM);
    }
  }
  for (int i = 0; i < 600 && fs::exists(home / "run") && !fs::is_empty(home / "run", ignored); i++) {
    bool left = false;
    for (const fs::directory_entry &entry : fs::directory_iterator(home / "run", ignored))
      left = left || entry.path().extension() == ".proc";
    if (!left) break;
    usleep(50000);
  }
}

void BM_MergeCommand(benchmark::State &state, bool dryRun) {
  for (auto _ : state) {
    Folder work;
    WriteInput(work.path);
    fs::path home = work.path / "home";
    std::vector<std::string> args = {"--data",     (work.path / "people.csv").string(),
                                     "--template", (work.path / "letter.txt").string(),
                                     "--client",   "Emailer"};
    if (dryRun) args.insert(args.end(), {"--dry-run", (work.path / "out").string()});
    auto start = std::chrono::steady_clock::now();
    int status = RunMerge(home, args);
    if (!dryRun) StopClients(home);  // the client writes what it still holds, as a dry run's does
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) {
      state.SkipWithError("quillcast merge failed");
      return;
    }
    state.SetIterationTime(seconds);
    rates[dryRun ? "dry run" : "journaled"] = kRecords / seconds;
  }
  state.counters["msg/s"] = rates[dryRun ? "dry run" : "journaled"];
}

BENCHMARK_CAPTURE(BM_MergeCommand, DryRun, true)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MergeCommand, Journaled, false)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  double dry = rates["dry run"], journaled = rates["journaled"];
  std::printf("\nquillcast merge of %d CSV rows into Emailer, whole command:\n", kRecords);
  std::printf("  --dry-run    %7.0f msg/s  %s target %.0f/s; %.1fx the %.0f/s of a common Python tool\n", dry,
              dry >= kTargetPerSecond ? "meets" : "MISSES", kTargetPerSecond, dry / kPythonToolPerSecond,
              kPythonToolPerSecond);
  if (journaled > 0 && dry > 0) {
    std::printf("  journaled    %7.0f msg/s  (%+.1f us per record against the dry run)\n", journaled,
                1e6 / journaled - 1e6 / dry);
  }
  return 0;
}
