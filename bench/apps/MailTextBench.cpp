// The text conversions a stand-in client makes for every merged message: the Mac OS Roman
// body of a 'TEXT' event to UTF-8, and a short answer back to Mac OS Roman. The counter
// vs_copy is the conversion's time over that of copying the same bytes as often.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "apps/mailstore/MailText.h"

namespace {

using Clock = std::chrono::steady_clock;

// A merged letter of about 2 KB: mostly ASCII, with the accents, quotes and signs of a
// European letter now and then.
std::string MacRomanLetter() {
  std::string letter;
  while (letter.size() < 2048) letter += "Dear Ren\x8e, your r\x8esum\x8e \xd2\xc6 \xdb 12\xd3 arrived.\r";
  return letter;
}

// Times `convert` over the state's loop and sets vs_copy against copying `text` as often.
template <typename Convert>
void AgainstCopying(benchmark::State &state, const std::string &text, Convert convert) {
  Clock::time_point start = Clock::now();
  for (auto _ : state) benchmark::DoNotOptimize(convert(text));
  Clock::duration converting = Clock::now() - start;
  start = Clock::now();
  for (benchmark::IterationCount i = 0; i < state.iterations(); i++) {
    std::string copy(text);
    benchmark::DoNotOptimize(copy.data());
  }
  Clock::duration copying = Clock::now() - start;
  state.SetBytesProcessed(int64_t(state.iterations() * text.size()));
  state.counters["vs_copy"] = double(converting.count()) / double(copying.count() > 0 ? copying.count() : 1);
}

void BM_MacRomanToUTF8(benchmark::State &state) {
  AgainstCopying(state, MacRomanLetter(), [](const std::string &text) { return MacRomanToUTF8(text); });
}

void BM_UTF8ToMacRoman(benchmark::State &state) {
  std::string answer = "Caf\xc3\xa9 \xe2\x80\x9cnews\xe2\x80\x9d \xe2\x82\xac 12 \xe2\x88\x86 \xe4\xb8\xad";
  AgainstCopying(state, answer, [](const std::string &text) { return UTF8ToMacRoman(text); });
}

BENCHMARK(BM_MacRomanToUTF8);
BENCHMARK(BM_UTF8ToMacRoman);

}  // namespace

BENCHMARK_MAIN();
