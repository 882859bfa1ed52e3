// Replays a fuzz target's corpus without libFuzzer: every file named on the command line,
// or found in a folder named there, is handed to LLVMFuzzerTestOneInput once. Used by the
// ordinary test run so that every corpus case stays a regression test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static int RunFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

int main(int argc, char **argv) {
  int failures = 0;
  int cases = 0;
  for (int i = 1; i < argc; i++) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto &entry : std::filesystem::recursive_directory_iterator(arg)) {
        if (entry.is_regular_file()) {
          failures += RunFile(entry.path());
          cases++;
        }
      }
    } else {
      failures += RunFile(arg);
      cases++;
    }
  }
  std::printf("%d cases replayed\n", cases);
  return failures == 0 && cases > 0 ? 0 : 1;
}
