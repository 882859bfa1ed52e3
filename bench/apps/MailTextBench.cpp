// The text conversions a stand-in client makes for every merged message: the Mac OS Roman
// subject and body of a 'TEXT' event to UTF-8, and a short answer back to Mac OS Roman,
// beside copying the same bytes (prints the ratio).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "apps/mailstore/MailText.h"

namespace {

// A merged letter of about 2 KB: mostly ASCII, with the accents, quotes and signs of a
// European letter now and then.
std::string MacRomanLetter() {
  std::string letter;
  while (letter.size() < 2048) letter += "Dear Ren\x8e, your r\x8esum\x8e \xd2\xc6 \xdb 12\xd3 arrived.\r";
  return letter;
}

const std::string kAnswer =
    "Caf\xc3\xa9 \xe2\x80\x9cnews\xe2\x80\x9d \xe2\x82\xac 12 \xe2\x88\x86 \xe4\xb8\xad";

void BM_MacRomanToUTF8(benchmark::State &state) {
  std::string letter = MacRomanLetter();
  for (auto _ : state) benchmark::DoNotOptimize(MacRomanToUTF8(letter));
  state.SetBytesProcessed(int64_t(state.iterations() * letter.size()));
}

void BM_UTF8ToMacRoman(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(UTF8ToMacRoman(kAnswer));
  state.SetItemsProcessed(state.iterations());
}

void BM_CopySameBytes(benchmark::State &state) {
  std::string letter = MacRomanLetter();
  for (auto _ : state) {
    std::string copy(letter);
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * letter.size()));
}

BENCHMARK(BM_MacRomanToUTF8);
BENCHMARK(BM_UTF8ToMacRoman);
BENCHMARK(BM_CopySameBytes);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.benchmark_name() == "BM_MacRomanToUTF8") decode_ = run.GetAdjustedCPUTime();
      if (run.benchmark_name() == "BM_UTF8ToMacRoman") encode_ = run.GetAdjustedCPUTime();
      if (run.benchmark_name() == "BM_CopySameBytes") copy_ = run.GetAdjustedCPUTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (decode_ > 0 && copy_ > 0)
      std::printf(
          "2 KB letter to UTF-8 %.2f us, copying it %.3f us, ratio %.1f; answer to Mac OS Roman %.2f us\n",
          decode_ / 1000, copy_ / 1000, decode_ / copy_, encode_ / 1000);
  }

 private:
  double decode_ = 0, encode_ = 0, copy_ = 0;
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  return 0;
}
