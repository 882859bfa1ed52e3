// The record store against a std::vector<std::string> doing the same work, in the same run:
// append, rewrite, read and remove 1,000,000 records of 100 bytes, and 10,000 removals from
// the front of 100,000 records. Prints the time ratio of each phase and the store's memory against the bytes
// of its records. The store allocates two blocks in all; the baseline one per record.
#include <MacMemory.h>

#include "store/RecordStore.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr SInt32 kRecords = 1000000;
constexpr UInt32 kRecordBytes = 100;
constexpr SInt32 kFrontRemovals = 10000;
// Each removal from the front moves every record behind it, so this phase runs on a smaller
// store to keep the whole run short.
constexpr SInt32 kFrontRecords = 100000;

std::map<std::string, double> seconds;  // "phase/kind" -> the fastest run of the phase
double storeMemoryRatio = 0;

struct Timer {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  double Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

std::string Bytes(char fill) {
  return std::string(kRecordBytes, fill);
}

void FillStore(RecordStore *store, const std::string &bytes, SInt32 count = kRecords) {
  InitDictionary(store);
  for (SInt32 i = 0; i < count; i++) {
    DictionaryAppend(store);
    DictionaryWrite(store, i, bytes.data(), kRecordBytes);
  }
}

void FillVector(std::vector<std::string> *records, const std::string &bytes, SInt32 count = kRecords) {
  for (SInt32 i = 0; i < count; i++) records->emplace_back(bytes);
}

// Runs one phase: prepare (untimed), work (timed), finish (untimed), as many times as the
// benchmark's iterations; the fastest run counts, which keeps a busy machine's noise out.
template <typename Prepare, typename Work, typename Finish>
void Phase(benchmark::State &state, const std::string &name, Prepare prepare, Work work, Finish finish) {
  for (auto _ : state) {
    prepare();
    Timer timer;
    work();
    double elapsed = timer.Elapsed();
    state.SetIterationTime(elapsed);
    auto [entry, added] = seconds.emplace(name, elapsed);
    if (!added && elapsed < entry->second) entry->second = elapsed;
    finish();
  }
  state.SetItemsProcessed(state.iterations() *
                          (name.find("front") != std::string::npos ? kFrontRemovals : kRecords));
}

void StoreBenchmark(benchmark::State &state, const std::string &phase) {
  RecordStore store{};
  const std::string a = Bytes('a'), b = Bytes('b');
  auto prepare = [&] {
    if (phase != "append") FillStore(&store, a, phase == "front" ? kFrontRecords : kRecords);
  };
  auto work = [&] {
    char buffer[kRecordBytes];
    if (phase == "append") {
      FillStore(&store, a);
    } else if (phase == "write") {
      for (SInt32 i = 0; i < kRecords; i++) DictionaryWrite(&store, i, b.data(), kRecordBytes);
    } else if (phase == "read") {
      for (SInt32 i = 0; i < kRecords; i++) {
        DictionaryRead(&store, i, buffer, DictionaryLength(&store, i));
        benchmark::DoNotOptimize(buffer);
      }
    } else if (phase == "remove") {
      for (SInt32 i = kRecords - 1; i >= 0; i--) DictionaryRemove(&store, i);
    } else {
      for (SInt32 i = 0; i < kFrontRemovals; i++) DictionaryRemove(&store, 0);
    }
  };
  auto finish = [&] {
    if (phase == "append") {
      storeMemoryRatio = double(GetHandleSize(store.data) + GetHandleSize(store.offsets)) /
                         (double(kRecords) * kRecordBytes);
      state.counters["memory/record bytes"] = storeMemoryRatio;
    }
    KillDictionary(&store);
  };
  Phase(state, phase + "/store", prepare, work, finish);
}

void VectorBenchmark(benchmark::State &state, const std::string &phase) {
  std::vector<std::string> records;
  const std::string a = Bytes('a'), b = Bytes('b');
  auto prepare = [&] {
    if (phase != "append") FillVector(&records, a, phase == "front" ? kFrontRecords : kRecords);
  };
  auto work = [&] {
    char buffer[kRecordBytes];
    if (phase == "append") {
      FillVector(&records, a);
    } else if (phase == "write") {
      for (std::string &record : records) record.assign(b.data(), kRecordBytes);
    } else if (phase == "read") {
      for (const std::string &record : records) {
        std::copy_n(record.data(), record.size(), buffer);
        benchmark::DoNotOptimize(buffer);
      }
    } else if (phase == "remove") {
      while (!records.empty()) records.pop_back();
    } else {
      for (SInt32 i = 0; i < kFrontRemovals; i++) records.erase(records.begin());
    }
  };
  auto finish = [&] { std::vector<std::string>().swap(records); };
  Phase(state, phase + "/vector", prepare, work, finish);
}

void PrintRatios() {
  std::printf("\n%-8s %12s %12s %16s\n", "phase", "store ms", "vector ms", "store / vector");
  for (const char *phase : {"append", "write", "read", "remove", "front"}) {
    double store = seconds[std::string(phase) + "/store"], vector = seconds[std::string(phase) + "/vector"];
    std::printf("%-8s %12.1f %12.1f %16.2f\n", phase, store * 1000, vector * 1000,
                vector > 0 ? store / vector : 0);
  }
  std::printf("store memory / record bytes: %.3f (target 1.1 at most)\n", storeMemoryRatio);
  std::printf("(\"front\" is %d removals of record 0 from %d records.)\n", kFrontRemovals, kFrontRecords);
}

}  // namespace

int main(int argc, char **argv) {
  for (const char *phase : {"append", "write", "read", "remove", "front"}) {
    // The short phases run three times; the long removals once.
    int runs = std::string(phase) == "remove" || std::string(phase) == "front" ? 1 : 3;
    benchmark::RegisterBenchmark((std::string("store/") + phase).c_str(), StoreBenchmark, std::string(phase))
        ->Iterations(runs)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("vector/") + phase).c_str(), VectorBenchmark,
                                 std::string(phase))
        ->Iterations(runs)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintRatios();
  return 0;
}
