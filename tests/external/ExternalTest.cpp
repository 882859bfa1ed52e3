// The external's entry and dispatch, the host callbacks and the host globals, driven the
// way a host drives them, over a fresh QUILLCAST_HOME.
#include "external/External.h"
#include "external/host/HostCallbacks.h"
#include "external/host/HostGlobals.h"

#include <Files.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <Processes.h>

#include "store/Globals.h"
#include "store/Preferences.h"
#include "tests/support/PluginResources.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

// A fake host: every slot records its call and answers from `answer`.
struct FakeHost {
  std::vector<std::vector<std::string>> calls;  // slot, arg1, arg2 (as text)
  std::optional<std::string> answer;
  std::map<std::string, std::string> globals;  // answers of GetGlobal by name, before `answer`
  int32_t status = 0;
  int32_t arrayCount = 0;
  std::set<char *> lent;
  int releases = 0;
} host;

template <int Slot>
char *Slot_(intptr_t a1, intptr_t a2, intptr_t a3, int32_t *status) {
  // The host's callbacks take pointers as words, as the host ABI has them.
  auto text = [](intptr_t w) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return w ? std::string(reinterpret_cast<const char *>(w)) : std::string("0");
  };
  host.calls.push_back({std::to_string(Slot), text(a1), Slot == kXSlotGetArray ? "" : text(a2)});
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  if (Slot == kXSlotGetArray) reinterpret_cast<XArrayBlock *>(a3)->count = host.arrayCount;
  *status = host.status;
  auto global = Slot == kXSlotGetGlobal ? host.globals.find(text(a1)) : host.globals.end();
  if (global == host.globals.end() && !host.answer) return nullptr;
  char *copy = strdup(global != host.globals.end() ? global->second.c_str() : host.answer->c_str());
  host.lent.insert(copy);
  return copy;
}

void Release(char *text) {
  EXPECT_EQ(host.lent.erase(text), 1u) << "released a string the host did not lend";
  host.releases++;
  std::free(text);
}

template <int... Slots>
std::vector<XCallback> MakeTable(std::integer_sequence<int, Slots...>) {
  return {Slot_<Slots>...};
}

std::vector<XCallback> &Table() {
  static std::vector<XCallback> table = MakeTable(std::make_integer_sequence<int, kXSlotCount>());
  return table;
}

// Calls the external with the given arguments (nullopt: a null argument).
std::string Call(std::vector<std::optional<std::string>> args) {
  std::vector<std::vector<char>> buffers;
  std::vector<char *> argv;
  for (auto &arg : args) {
    buffers.emplace_back(arg ? std::vector<char>(arg->begin(), arg->end()) : std::vector<char>());
    buffers.back().push_back(0);
    argv.push_back(arg ? buffers.back().data() : nullptr);
  }
  char *result = reinterpret_cast<char *>(1);
  int32_t pass = -1, error = -1;
  ExternalMain(argv.data(), int32_t(argv.size()), &result, &pass, &error);
  EXPECT_EQ(pass, 0);
  EXPECT_EQ(error, 0);
  std::string text = result ? result : "(null)";
  std::free(result);
  return text;
}

class External : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = (std::filesystem::temp_directory_path() / "quillcast-external-XXXXXX").string();
    setenv("QUILLCAST_HOME", mkdtemp(home_.data()), 1);
    setenv("QUILLCAST_BUNDLE",
           (std::string(std::getenv("QUILLCAST_BUILD_DIR")) + "/Quillcast.bundle").c_str(), 1);
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }
  void SetUp() override {
    ASSERT_TRUE(OpenPluginResources());
    const char *name;
    const XTableEntry *table;
    XFreeRoutine release;
    getXtable(Table().data(), Release, &name, &table, &release);
    blocks_ = CarbonLiveBlocks();
  }
  void TearDown() override {
    Call({"Kill"});
    CarbonFailAllocationAfter(-1);
    EXPECT_EQ(CarbonLiveBlocks(), blocks_);
    EXPECT_TRUE(host.lent.empty());
  }
  long blocks_ = 0;
  static inline std::string home_;
};

TEST_F(External, TableAndEntry) {
  const char *name = nullptr;
  const XTableEntry *table = nullptr;
  XFreeRoutine release = nullptr;
  getXtable(Table().data(), Release, &name, &table, &release);
  EXPECT_STREQ(name, "QuillcastExternals");
  EXPECT_STREQ(table[0].name, "QuillcastExternals");
  EXPECT_STREQ(table[0].type, "F");
  EXPECT_EQ(table[0].handler, ExternalMain);
  EXPECT_STREQ(table[1].name, "");
  EXPECT_STREQ(table[1].type, "");
  EXPECT_EQ(table[1].handler, nullptr);
  EXPECT_EQ(release, std::free);
  static_assert(sizeof(XTableEntry) == 5 * sizeof(void *));
}

TEST_F(External, SelectorsWithoutAStoreAnswerSafely) {
  struct Case {
    std::vector<std::optional<std::string>> args;
    std::string expected;
  } cases[] = {
      {{"Gest"}, "true"},
      {{"Nope"}, "(null)"},
      {{"Ini"}, "(null)"},
      {{}, "(null)"},
      {{std::nullopt}, "(null)"},
      {{"Read", "", "0"}, ""},
      {{"Wrte", "x", "0"}, "false"},
      {{"Apnd"}, "false"},
      {{"AddD", "\t,a"}, "false"},
      {{"Rmve", "", "0"}, "(null)"},
      {{"RmFi", "", "1"}, "(null)"},
      {{"Clnt"}, ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Call(c.args), c.expected) << (c.args.empty() ? "" : c.args[0].value_or("nil"));
}

TEST_F(External, RecordSelectorsConvertLineEnds) {
  ASSERT_EQ(Call({"Init"}), "(null)");
  EXPECT_EQ(Call({"AddD",
                  "\t\xFF"
                  "Ann\tSmith"}),
            "true");
  EXPECT_EQ(Call({"Read", "", "0"}),
            "Ann\xFF"
            "Smith");
  EXPECT_EQ(Call({"AddD", "\t\tline 1\nline 2"}), "true");
  EXPECT_EQ(std::string(DictionaryData(&globals.records, 1), DictionaryLength(&globals.records, 1)),
            "line 1\rline 2");
  EXPECT_EQ(Call({"Read", "", "1"}), "line 1\nline 2");
  EXPECT_EQ(Call({"AddD", "x"}), "true");  // no data part: an empty record
  EXPECT_EQ(Call({"AddD", std::nullopt}), "true");
  EXPECT_EQ(Call({"Itms"}), "4");

  EXPECT_EQ(Call({"Wrte", "new\n", "2"}), "true");
  EXPECT_EQ(Call({"Read", "", "2"}), "new\n");
  for (const char *index : {"4", "-1", "99999999999", "-2147483648"}) {
    EXPECT_EQ(Call({"Wrte", "no", index}), "false") << index;
    EXPECT_EQ(Call({"Read", "", index}), "") << index;
  }
  EXPECT_EQ(Call({"RmFi", "", "4"}), "(null)");  // reaches the last record: nothing
  EXPECT_EQ(Call({"Itms"}), "4");
  Call({"RmFi", "", "2"});
  Call({"Rmve", "", "0"});
  EXPECT_EQ(Call({"Itms"}), "1");
  EXPECT_EQ(Call({"Read", "", "0"}), "");
  Call({"Cler"});
  EXPECT_EQ(Call({"Itms"}), "0");
}

TEST_F(External, KillSavesTheTextForTheNextInit) {
  struct Case {
    std::optional<std::string> text;
    std::string expected;
  } cases[] = {{"abc", "abc"}, {std::nullopt, "(null)"}, {"", ""}, {"two\nlines\xFF", "two\nlines\xFF"}};
  for (const Case &c : cases) {
    Call({"Init"});
    Call({"Apnd"});
    Call(c.text ? std::vector<std::optional<std::string>>{"Kill", *c.text}
                : std::vector<std::optional<std::string>>{"Kill"});
    EXPECT_EQ(Call({"Init"}), c.expected);
    EXPECT_EQ(Call({"Itms"}), "0");  // records are not kept between runs
  }
  Call({"Init"});  // a second "Init" releases the first store
}

// A whole merge as a script makes it, through the entry point, into the Emailer stand-in:
// three records, the templates in host globals, five messages (the fifth hides Emailer) and
// the text that "Kill" keeps for the next "Init".
using Step = std::vector<std::optional<std::string>>;
const Step kMergeScript[] = {
    {"Init"},
    {"AddD", "\t\xFFJo\tjo@example.com"},
    {"AddD", "\t\xFFKim\tkim@example.com"},
    {"AddD", "\t\xFFLee\tlee@example.com"},
    {"Strt", "Emailer"},
    {"Merg", "", "0"},
    {"Merg", "", "1"},
    {"Merg", "", "2"},
    {"Merg", "", "1"},
    {"Merg", "", "0"},
    {"Fnsh"},
    {"Kill", "new text"},
};
constexpr size_t kScriptSteps = std::size(kMergeScript);

// A failure injected into one kind of operation: arms it to let `after` operations through,
// and disarms it, answering whether it is still unused.
struct Injection {
  std::function<void(long after)> arm;
  std::function<long()> disarm;  // what the armed failure still had to let through; < 0: used
};

class ExternalMerge : public External {
 protected:
  static void SetUpTestSuite() {
    External::SetUpTestSuite();
    std::string install = std::string(std::getenv("QUILLCAST_BUILD_DIR")) + "/apps/bin/Emailer --install '" +
                          std::getenv("QUILLCAST_HOME") + "/Applications' >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
  }
  static void TearDownTestSuite() {
    ProcessSerialNumber psn = {0, kNoProcess};
    std::vector<pid_t> clients;
    while (GetNextProcess(&psn) == noErr) clients.push_back(pid_t(psn.lowLongOfPSN));
    for (pid_t pid : clients) kill(pid, SIGTERM);
    // A client unregisters in the machine folder as it ends: remove the folder after that.
    for (int wait = 0; wait < 1000; ++wait) {
      if (std::none_of(clients.begin(), clients.end(), [](pid_t pid) { return kill(pid, 0) == 0; })) break;
      usleep(10000);
    }
    External::TearDownTestSuite();
  }
  void SetUp() override {
    External::SetUp();
    host = FakeHost{};
    host.globals = {{"_QLXfields", "Name\nMail"},
                    {"_QLXsubject", "Hello \xC7Name\xC8"},
                    {"_QLXmessage", "Dear \xC7Name\xC8,\nyou are number \xC7\xA4\xC6\xC8."},
                    {"_QLXto", "\xC7Name\xC8 <\xC7Mail\xC8>"}};
    ResetPreferences();
    ASSERT_EQ(Run(), Expected(kScriptSteps));  // launches Emailer
    blocks_ = CarbonLiveBlocks();
  }

  // The preferences file as the last run left it, or "(null)".
  static std::string SavedText() {
    char *text = LoadPreferences();
    std::string saved = text ? text : "(null)";
    std::free(text);
    return saved;
  }
  static void ResetPreferences() {
    Call({"Init"});
    Call({"Kill", "old text"});
  }

  // Runs the script with the injected failure armed; *failedAt is the step that used it, or
  // kScriptSteps when none did.
  static std::vector<std::string> Run(const Injection *injection = nullptr, long after = 0,
                                      size_t *failedAt = nullptr) {
    std::vector<std::string> answers;
    size_t failed = kScriptSteps;
    if (injection != nullptr) injection->arm(after);
    for (size_t i = 0; i < kScriptSteps; i++) {
      answers.push_back(Call(kMergeScript[i]));
      if (injection == nullptr || failed != kScriptSteps) continue;
      long left = injection->disarm();
      if (left < 0) {
        failed = i;
      } else {
        injection->arm(left);
      }
    }
    if (injection != nullptr) injection->disarm();
    if (failedAt != nullptr) *failedAt = failed;
    return answers;
  }

  // The answers of a run whose failure met step `failed`: that step fails (an "Init" that
  // finds no preferences answers nothing) and so does what needed it; the rest answer as
  // usual. With no store, records are neither added nor merged; without "Strt", nothing is
  // merged.
  static std::vector<std::string> Expected(size_t failed, const std::string &initAnswer = "false") {
    std::vector<std::string> answers = {"old text", "true", "true", "true", "true",   "true",
                                        "true",     "true", "true", "true", "(null)", "(null)"};
    if (failed >= kScriptSteps) return answers;
    const std::string &selector = *kMergeScript[failed][0];
    if (selector == "Strt" || selector == "Merg") answers[failed] = "false";
    if (selector == "Init") answers[failed] = initAnswer;
    for (size_t i = failed + 1; i < kScriptSteps; i++) {
      const std::string &later = *kMergeScript[i][0];
      bool noStore = selector == "Init" && initAnswer == "false";
      if ((noStore && (later == "AddD" || later == "Merg")) || (selector == "Strt" && later == "Merg")) {
        answers[i] = "false";
      }
    }
    return answers;
  }

  // Fails each operation of the injection's kind in turn until the failure goes unused:
  // every run answers exactly, leaks no block, releases every host string once, and leaves
  // either the old preferences or the new ones.
  void FailEachInTurn(const Injection &injection, const std::string &initAnswer) {
    for (long after = 0;; after++) {
      ResetPreferences();
      size_t failed = 0;
      std::vector<std::string> answers = Run(&injection, after, &failed);
      EXPECT_EQ(answers, Expected(failed, initAnswer)) << "failing operation " << after;
      EXPECT_EQ(CarbonLiveBlocks(), blocks_) << "failing operation " << after;
      EXPECT_TRUE(host.lent.empty()) << "failing operation " << after;
      std::string saved = SavedText();
      EXPECT_EQ(saved, failed == kScriptSteps - 1 ? "old text" : "new text") << "failing operation " << after;
      if (failed == kScriptSteps || after > 5000) break;
    }
  }
};

TEST_F(ExternalMerge, EveryAllocationFailureAnswersExactlyAndLeaksNothing) {
  Injection allocations = {[](long after) { CarbonFailAllocationAfter(after); },
                           [] { return CarbonFailAllocationAfter(-1); }};
  FailEachInTurn(allocations, "false");
}

TEST_F(ExternalMerge, EveryFileFailureAnswersExactlyAndKeepsThePreferencesWhole) {
  for (CarbonFileOp op : {kCarbonFileOpen, kCarbonFileRead, kCarbonFileWrite, kCarbonFileRename}) {
    Injection files = {[op](long after) { CarbonFailFileOp(op, after, ioErr); },
                       [op] { return CarbonFailFileOp(op, -1, noErr); }};
    FailEachInTurn(files, "(null)");
  }
}

TEST_F(External, CallbacksCopyAndReleaseHostStrings) {
  host = FakeHost{};
  int32_t status = 0;
  host.answer = "";
  char *value = GetGlobal("_QLXsubject", &status);
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "");
  std::free(value);
  EXPECT_EQ(host.releases, 1);

  host.answer = "ignored";
  SetGlobal("_QLXto", "a@b", &status);
  EXPECT_EQ(host.releases, 2);
  std::free(GetFieldByNum("card", 12, &status));
  EXPECT_EQ(host.calls.back(), (std::vector<std::string>{"9", "12", "card"}));

  int32_t count = 5;
  host.arrayCount = 9;
  host.status = 1;
  GetArray("list", &count, 0, 0, &status);
  EXPECT_EQ(count, 5);
  host.status = 0;
  GetArray("list", &count, 0, 0, &status);
  EXPECT_EQ(count, 9);

  host.answer.reset();
  EXPECT_EQ(GetGlobal("_QLXcc", &status), nullptr);
}

TEST_F(External, HostGlobalsLoadWithCarriageReturns) {
  EXPECT_STREQ(GetGlobalName(FourCC("To  ")), "_QLXto");
  EXPECT_STREQ(GetGlobalName(FourCC("HTML")), "_QLXhtml");
  EXPECT_EQ(GetGlobalName(FourCC("To\0\0")), nullptr);
  host = FakeHost{};
  struct Case {
    std::optional<std::string> value;
    std::optional<std::string> expected;  // the handle's bytes, NUL included
  } cases[] = {{"Dear\nfriend", std::string("Dear\rfriend") + '\0'},
               {"", std::string(1, '\0')},
               {std::nullopt, std::nullopt}};
  for (const Case &c : cases) {
    host.answer = c.value;
    Handle h = nullptr;
    LoadPrepareHandle(&h, FourCC("Mesg"));
    EXPECT_EQ(host.calls.back()[1], "_QLXmessage");
    ASSERT_EQ(h != nullptr, c.expected.has_value());
    if (h != nullptr) {
      EXPECT_EQ(std::string(*h, GetHandleSize(h)), *c.expected);
    }
    DisposeHandle(h);
  }
}

}  // namespace
