// The mail store's cost per message, in the process that writes it: a merged letter of
// about 1 KB with one To recipient built into its RFC 5322 form, and written into the outbox
// (built, written under tmp/, renamed into new/). The baseline, measured alternately with
// the store in the same run so that both meet the file system in the same state, is a bare
// file of the message's size created, written and renamed the same way: the ratio is what
// the store costs over the disk. Creating a file is most of both, and on ext4 without a
// journal it costs far more for a minute or so after many files were deleted nearby.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "apps/mailstore/MailStore.h"
#include "apps/mailstore/MimeWriter.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> folders;  // removed at the end, for the reason above

double ThreadCpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

std::string FreshFolder(const char *name) {
  std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
  folders.push_back(mkdtemp(pattern.data()));
  return folders.back();
}

MailMessage Letter(int n, bool accented) {
  MailMessage message;
  std::string number = std::to_string(n);
  std::string name = accented ? "Ren\xc3\xa9 M\xc3\xbcller " + number : "Anna Lindqvist " + number;
  message.to.push_back({name, "user" + number + "@example.com"});
  message.subject = "News for " + name + " at Company " + number;
  message.body = "Dear " + name +
                 ",\r\rthe autumn catalogue is out. It has forty new titles, a section on travel "
                 "writing and, for the first time, audio books. Your copy goes to City " +
                 number +
                 " this week; if it has not arrived by Friday, write to us and we will send another."
                 "\r\rWith kind regards,\rThe Bookshop\r\rP.S. See you at the reading.\r";
  return message;
}

const MailAddress kFrom{"The Bookshop", "shop@example.com"};

void BM_BuildMessage(benchmark::State &state, bool accented) {
  InitMimeWriter();
  int n = 0;
  std::string bytes;
  for (auto _ : state) {
    MailMessage message = Letter(n++, accented);
    if (BuildMimeMessage(message, kFrom, {}, "1.M2P3Q4.quillcast@example.com", &bytes) != noErr)
      state.SkipWithError("the message was not built");
  }
  state.counters["bytes"] = double(bytes.size());
}
BENCHMARK_CAPTURE(BM_BuildMessage, ascii, false);
BENCHMARK_CAPTURE(BM_BuildMessage, accented, true);

// A bare file as the store writes one: created exclusively under tmp/, written, renamed.
bool WriteBareFile(const std::string &folder, int n, const std::string &bytes) {
  std::string name = "bare." + std::to_string(n);
  std::string temporary = folder + "/tmp/" + name, final = folder + "/new/" + name;
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool whole = write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
  return close(fd) == 0 && whole && rename(temporary.c_str(), final.c_str()) == 0;
}

// Each iteration writes one message to the store and one bare file of the same size into
// the same folders (where the file system finds the new files' inodes in the same way); the
// benchmark's time is the pair's, the counters each one's CPU time per message.
void BM_WriteMessage(benchmark::State &state) {
  std::string data = FreshFolder("quillcast-store");
  OSErr status = noErr;
  MailStore *store = MailStoreOpen(data, &status);
  if (!store) {
    state.SkipWithError("the store did not open");
    return;
  }
  std::string bare = MailStoreFolderPath(store, MailFolder::outbox), bytes;
  BuildMimeMessage(Letter(0, false), kFrom, {}, "1.M2P3Q4.quillcast@example.com", &bytes);
  double storeMicros = 0, bareMicros = 0;
  int n = 0;
  for (auto _ : state) {
    double start = ThreadCpuMicroseconds();
    if (MailStoreWrite(store, Letter(n, false), kFrom, MailFolder::outbox) != noErr)
      state.SkipWithError("a message was not written");
    double middle = ThreadCpuMicroseconds();
    if (!WriteBareFile(bare, n++, bytes)) state.SkipWithError("a bare file was not written");
    storeMicros += middle - start;
    bareMicros += ThreadCpuMicroseconds() - middle;
  }
  MailStoreClose(store);
  state.counters["store_us"] = storeMicros / n;
  state.counters["bare_file_us"] = bareMicros / n;
  state.counters["vs_bare"] = storeMicros / (bareMicros > 0 ? bareMicros : 1);
}
BENCHMARK(BM_WriteMessage)->Iterations(5000);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  for (const std::string &folder : folders) fs::remove_all(folder);
  benchmark::Shutdown();
  return 0;
}
