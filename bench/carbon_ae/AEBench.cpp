// One merged message as the Apple Event Manager sees it, without the socket: the sender
// builds a 'core'/'crel' event with a property record of five texts, prints it for the trace
// and flattens it; the receiver unflattens it, reads its parameters and builds, flattens and
// sends back a reply, which the sender unflattens and reads. The baseline allocates and copies
// the same bytes as the two flattened messages. The target is 10,000 messages a second end to
// end, sockets included, so this side should stay in the low microseconds.
#include "tests/carbon_ae/AETestSupport.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<char> FlattenToVector(const AEDesc &desc) {
  std::vector<char> bytes(size_t(AESizeOfFlattenedDesc(&desc)));
  AEFlattenDesc(&desc, bytes.data(), Size(bytes.size()), nullptr);
  return bytes;
}

size_t MessageBytes() {
  AppleEvent event, reply;
  MakeMessageEvent(&event);
  AECreateAppleEvent(kCoreEventClass, kAEAnswer, nullptr, 7, 0, &reply);
  size_t total = size_t(AESizeOfFlattenedDesc(&event) + AESizeOfFlattenedDesc(&reply)) + 64;
  AEDisposeDesc(&event);
  AEDisposeDesc(&reply);
  return total;
}

void Receive(const std::vector<char> &wire, std::vector<char> *answer) {
  AppleEvent event, reply;
  AEUnflattenDescSafe(wire.data(), Size(wire.size()), &event);
  AERecord props;
  AEGetParamDesc(&event, keyAEPropData, typeAERecord, &props);
  char subject[64];
  Size size;
  DescType type;
  AEGetKeyPtr(&props, FourCC("subj"), typeChar, &type, subject, sizeof subject, &size);
  AEReturnID returnID;
  AEGetAttributePtr(&event, keyReturnIDAttr, typeSInt16, &type, &returnID, 2, &size);
  AECreateAppleEvent(kCoreEventClass, kAEAnswer, nullptr, returnID, 0, &reply);
  const uint32_t message[2] = {FourCC("msg "), 42};
  AEPutParamPtr(&reply, keyDirectObject, FourCC("what"), message, sizeof message);
  *answer = FlattenToVector(reply);
  AEDisposeDesc(&props);
  AEDisposeDesc(&event);
  AEDisposeDesc(&reply);
}

void BM_MessageEventRoundTrip(benchmark::State &state) {
  for (auto _ : state) {
    AppleEvent event, reply;
    MakeMessageEvent(&event, kAutoGenerateReturnID);
    Handle trace;
    AEPrintDescToHandle(&event, &trace);
    std::vector<char> wire = FlattenToVector(event), answer;
    Receive(wire, &answer);
    AEUnflattenDescSafe(answer.data(), Size(answer.size()), &reply);
    Size size;
    DescType type;
    uint32_t object[2];
    AEGetParamPtr(&reply, keyDirectObject, typeWildCard, &type, object, sizeof object, &size);
    benchmark::DoNotOptimize(object);
    DisposeHandle(trace);
    AEDisposeDesc(&event);
    AEDisposeDesc(&reply);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_CopySameBytes(benchmark::State &state) {
  std::vector<char> source(MessageBytes(), 'x');
  for (auto _ : state) {
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the copies are what is measured
    std::vector<char> there(source), back(there);
    benchmark::DoNotOptimize(back.data());
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_MessageEventRoundTrip);
BENCHMARK(BM_CopySameBytes);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      double ns = run.GetAdjustedCPUTime();
      if (run.benchmark_name() == "BM_MessageEventRoundTrip") ae_ = ns;
      if (run.benchmark_name() == "BM_CopySameBytes") copy_ = ns;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (ae_ > 0 && copy_ > 0) {
      std::printf(
          "message round trip %.2f us (%.0f messages/s of CPU), copying the bytes %.3f us, ratio %.1f\n",
          ae_ / 1000, 1e9 / ae_, copy_ / 1000, ae_ / copy_);
    }
  }

 private:
  double ae_ = 0, copy_ = 0;
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  return 0;
}
