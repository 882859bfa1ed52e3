#include "host/MergeCommand.h"

#include <MachineFolder.h>
#include <CLI/CLI.hpp>

#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/AlertLog.h"
#include "host/Csv.h"
#include "host/DryRun.h"
#include "host/Host.h"
#include "host/Journal.h"
#include "host/MacRoman.h"
#include "host/MergeTemplate.h"
#include "host/Preflight.h"
#include "host/StandIns.h"

namespace host {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string data;
  std::string letter;
  std::string client;
  std::string dryRun;
  bool check = false;
  bool force = false;
  bool resume = false;
  bool resendUncertain = false;
  bool allowAnyAttachment = false;
  long limit = -1;
};

volatile sig_atomic_t g_stop = 0;  // SIGINT, SIGTERM or SIGHUP: stop after the record in hand

void RequestStop(int) {
  g_stop = 1;
}

void Say(const std::string &text) {
  std::fprintf(stderr, "quillcast merge: %s\n", text.c_str());
}

// --- Arguments ---------------------------------------------------------------------------

// Fills options; returns -1 to go on, else the exit status (0 after --help).
int ParseArguments(int argc, char **argv, Options *options) {
  CLI::App app(
      "Merges one message per record of a CSV file, from a template file, through the Quillcast "
      "external into an email client.\n"
      "Exit status: 0 every record sent, 1 some records failed or were left uncertain, "
      "2 bad arguments or input, or findings of the check.",
      "quillcast merge");
  app.add_option("--data", options->data, "the records: a CSV file whose first row names the fields")
      ->required()
      ->type_name("FILE.csv");
  app.add_option("--template", options->letter,
                 "the message: header lines (To:, Cc:, Bcc:, Subject:, Attach:, Account:, Encoding:, HTML:), "
                 "a blank line, the body; «Field» or {{Field}} placeholders")
      ->required()
      ->type_name("FILE");
  app.add_option("--client", options->client, "the email client (default: the first one installed)")
      ->type_name("NAME");
  app.add_flag("--check", options->check, "check the merge and report; send nothing");
  app.add_option("--dry-run", options->dryRun,
                 "merge every record through the external into a client of its own and write each message "
                 "to DIR as <record number>.eml; nothing is queued or delivered")
      ->type_name("DIR");
  app.add_flag("--force", options->force, "merge even when the check has findings");
  app.add_option("--limit", options->limit, "merge at most N records in this run (--resume goes on)")
      ->type_name("N");
  app.add_flag("--resume", options->resume,
               "go on with the merge that the journal (<data>.journal) records, "
               "sending no record twice");
  app.add_flag("--resend-uncertain", options->resendUncertain,
               "with --resume: also merge the records whose outcome the journal does not know");
  app.add_flag("--allow-any-attachment", options->allowAnyAttachment,
               "attach files that the data names even when they lie outside the template's folder");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    return app.exit(error) == 0 ? kMergeAllSent : kMergeUsage;
  }
  const char *wrong = options->check && !options->dryRun.empty() ? "--check and --dry-run do not go together"
                      : options->resendUncertain && !options->resume ? "--resend-uncertain goes with --resume"
                      : options->limit == 0 || options->limit < -1
                          ? "--limit needs a number of records above 0"
                          : nullptr;
  if (wrong != nullptr) {
    Say(wrong);
    return kMergeUsage;
  }
  return -1;
}

// --- Input -------------------------------------------------------------------------------

bool ReadInputFile(const std::string &path, const char *what, std::string *bytes) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) {
    Say(std::string("no ") + what + " file " + path + (fs::exists(path, error) ? " (not a file)" : ""));
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in || in.bad()) {
    Say("cannot read " + path);
    return false;
  }
  return true;
}

// The messages of a dry run are the user's alone: a folder made for them is 0700.
bool MakeFolder(const std::string &path) {
  if (carbon::MakePrivateFolders(path) == noErr) return true;
  Say("cannot make the folder " + path + ": " + std::strerror(errno));
  return false;
}

// The field of the attachment paths, which the host merges itself (to resolve them from the
// template's folder): a name no column of the data has.
std::string AttachmentFieldName(const FieldIndex &index) {
  std::string name = "Quillcast attachments";
  for (int n = 2; index.Find(name) >= 0; n++) name = "Quillcast attachments " + std::to_string(n);
  return name;
}

struct Merge {
  MergeInput input;
  std::vector<Finding> findings;
  std::string attachmentField;              // empty when the template attaches nothing
  std::vector<std::string> attachmentText;  // per record, Mac OS Roman, one path per line
};

bool LoadMerge(const Options &options, Merge *merge) {
  std::string data, letter, error;
  if (!ReadInputFile(options.data, "data", &data) || !ReadInputFile(options.letter, "template", &letter))
    return false;
  CsvTable table;
  if (!ParseCsv(data, &table, &error)) {
    Say(options.data + ":" + error.substr(5));  // "line N: ..." becomes "PATH:N: ..."
    return false;
  }
  MergeInput &input = merge->input;
  input.dataPath = options.data;
  if (!ParseMergeTemplate(options.letter, letter, &input.letter, &error)) {
    Say(error);
    return false;
  }
  char folder[PATH_MAX];
  std::string parent = fs::path(options.letter).parent_path().string();
  if (realpath(parent.empty() ? "." : parent.c_str(), folder) == nullptr) {
    Say("cannot resolve the template's folder " + parent);
    return false;
  }
  input.templateFolder = folder;
  ConvertRecords(table, &input, &merge->findings);
  CheckRecords(&input, options.allowAnyAttachment, &merge->findings);
  bool attaches = false;
  for (const TemplatePart &part : input.letter.parts)
    attaches = attaches || part.header == TemplateHeader::attach;
  if (!attaches) return true;
  merge->attachmentField = AttachmentFieldName(FieldIndex(input.fields));
  for (const MergeRecord &record : input.records) {
    std::string paths, roman, problem;
    for (const std::string &path : record.attachments) paths += (paths.empty() ? "" : "\n") + path;
    size_t offset = 0;
    if (!ToMacRoman(paths, &roman, &problem, &offset)) {
      merge->findings.push_back(
          {options.data + ":" + std::to_string(record.line),
           "an attachment's path holds " + problem + ", which the external cannot pass on"});
    }
    merge->attachmentText.push_back(roman);
  }
  return true;
}

// --- The external ------------------------------------------------------------------------

struct Session {
  External external;
  HostState state;
  AlertLog alerts;                       // how a "Merg" that timed out is told from a refusal
  std::optional<std::string> savedText;  // what "Init" returned, handed back to "Kill"

  std::optional<std::string> Call(const std::vector<const char *> &args) {
    return CallExternal(external, &state, args);
  }
  bool True(const std::vector<const char *> &args) { return Call(args).value_or("") == "true"; }
};

bool StartSession(Session *session) {
  std::string bundle = DefaultBundlePath();
  setenv("QUILLCAST_BUNDLE", bundle.c_str(), 1);  // the carbon layer finds its resources through it
  std::string error;
  if (!session->alerts.Open(&error) || !LoadExternal(bundle, &session->external, &error)) {
    Say(error);
    return false;
  }
  session->savedText = session->Call({"Init"});
  session->Call({"Cler"});  // records the preferences file may have brought along
  return true;
}

void EndSession(Session *session) {
  session->Call({"Kill", session->savedText ? session->savedText->c_str() : nullptr});
}

std::vector<std::string> Lines(const std::optional<std::string> &list) {
  std::vector<std::string> lines;
  std::string text = list.value_or("");
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (end > at) lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

bool SameName(const std::string &a, const std::string &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A message from an account the client does not have is refused by the client, so each
// record's Account must name one of those "Acts" lists. Clients that list none send every
// message from their first account and are not checked.
void CheckAccounts(Session *session, const std::string &client, Merge *merge) {
  const MergeInput &input = merge->input;
  std::string account = TemplateText(input.letter, TemplateHeader::account);
  if (account.empty()) return;
  std::vector<std::string> accounts = Lines(session->Call({"Acts", client.c_str()}));
  if (accounts.empty()) return;
  auto known = [&accounts](const std::string &name) {
    return std::any_of(accounts.begin(), accounts.end(),
                       [&name](const std::string &a) { return SameName(a, name); });
  };
  std::string where =
      input.letter.path + ":" + std::to_string(TemplateLine(input.letter, TemplateHeader::account));
  FieldIndex index(input.fields);
  bool fromData = false;
  for (const Placeholder &place : FindPlaceholders(account))
    fromData = fromData || index.Find(place.name) >= 0;
  for (size_t n = 0; n < input.records.size() && (fromData || n == 0); n++) {
    std::string name = MergeRecordText(account, index, input.records[n].values, int(n + 1));
    if (known(name)) continue;
    if (fromData) where = input.dataPath + ":" + std::to_string(input.records[n].line);
    merge->findings.push_back({where, client + " has no account \"" + FromMacRoman(name) + "\""});
  }
}

// Chooses the client and adds what the external says against it: not installed, an
// encoding it does not offer, HTML it does not take.
void CheckClient(Session *session, const Options &options, Merge *merge, std::string *client) {
  std::vector<std::string> installed = Lines(session->Call({"Clnt"}));
  *client = options.client.empty() && !installed.empty() ? installed.front() : options.client;
  std::string list;
  for (const std::string &name : installed) list += (list.empty() ? "" : ", ") + name;
  if (client->empty()) {
    merge->findings.push_back({"client", "no email client is installed"});
    return;
  }
  if (std::find(installed.begin(), installed.end(), *client) == installed.end()) {
    merge->findings.push_back({"client", "\"" + *client + "\" is not installed" +
                                             (list.empty() ? "" : " (installed: " + list + ")")});
    return;
  }
  const MergeTemplate &letter = merge->input.letter;
  std::string encoding = TemplateText(letter, TemplateHeader::encoding);
  std::vector<std::string> offered = Lines(session->Call({"Encd", client->c_str()}));
  if (!encoding.empty() && std::find(offered.begin(), offered.end(), encoding) == offered.end()) {
    merge->findings.push_back({"client", *client + " does not offer the encoding " + encoding});
  }
  if (TemplateText(letter, TemplateHeader::html) == "true" && !session->True({"sHTM", client->c_str()})) {
    merge->findings.push_back({"client", *client + " does not take HTML bodies"});
  }
  CheckAccounts(session, *client, merge);
}

// Sets the host globals of the templates and fills the record store.
void HandOver(Session *session, const Merge &merge) {
  const MergeInput &input = merge.input;
  const MergeTemplate &letter = input.letter;
  auto &globals = session->state.globals;
  std::string fields;
  for (const std::string &name : input.fields) fields += name + "\n";
  if (!merge.attachmentField.empty()) fields += merge.attachmentField + "\n";
  globals["_QLXfields"] = fields;
  globals["_QLXsubject"] = TemplateText(letter, TemplateHeader::subject);
  globals["_QLXmessage"] = TemplateText(letter, TemplateHeader::body);
  globals["_QLXto"] = TemplateText(letter, TemplateHeader::to);
  globals["_QLXcc"] = TemplateText(letter, TemplateHeader::cc);
  globals["_QLXbcc"] = TemplateText(letter, TemplateHeader::bcc);
  globals["_QLXattachments"] = merge.attachmentField.empty() ? "" : "\xC7" + merge.attachmentField + "\xC8";
  globals["_QLXaccount"] = TemplateText(letter, TemplateHeader::account);
  globals["_QLXencoding"] = TemplateText(letter, TemplateHeader::encoding);
  globals["_QLXhtml"] = TemplateText(letter, TemplateHeader::html);
  globals["_QLXstuffit"] = "false";
  // "AddD" replaces its first character by its second in the rest: 0xFF stays 0xFF, the
  // field separator, which no value holds (the check saw to that).
  std::string text;
  for (size_t n = 0; n < input.records.size(); n++) {
    text.assign("\xFF\xFF");
    const std::vector<std::string> &values = input.records[n].values;
    for (size_t i = 0; i < input.fields.size(); i++) {
      if (i > 0) text += '\xFF';
      if (i < values.size()) text += values[i];
    }
    if (!merge.attachmentField.empty()) text += "\xFF" + merge.attachmentText[n];
    session->Call({"AddD", text.c_str()});
  }
}

// --- The journal's plan ------------------------------------------------------------------

enum class Plan { merge, done, uncertain };

struct Schedule {
  std::vector<Plan> plans;  // per record
  int done = 0;
  int retried = 0;             // records that failed before, merged again
  std::vector<int> uncertain;  // record numbers skipped as uncertain
};

// What to do with each record given the journal. False (after saying why) when the journal
// cannot be read, holds an earlier merge and --resume was not given, or records that were
// sent have changed since.
bool PlanRecords(const Options &options, const Merge &merge, const std::string &journalPath,
                 Schedule *schedule) {
  std::map<int, JournalRecord> journal;
  std::string error;
  const std::vector<MergeRecord> &records = merge.input.records;
  schedule->plans.assign(records.size(), Plan::merge);
  bool dryRun = !options.dryRun.empty();
  if (dryRun && !options.resume) return true;  // a dry run of the whole data
  if (!ReadJournal(journalPath, &journal, &error)) {
    Say(error);
    return false;
  }
  if (journal.empty()) return true;
  if (!options.resume) {
    Say(journalPath +
        " holds an earlier merge of this data: --resume goes on with it without sending a record "
        "twice; remove the journal to start again");
    return false;
  }
  for (const auto &[number, entry] : journal) {
    if (number > int(records.size())) continue;
    const MergeRecord &record = records[number - 1];
    bool sentOrMaybe = entry.state != RecordState::failed;
    if (sentOrMaybe && entry.key != RecordKey(record.values)) {
      Say(merge.input.dataPath + ":" + std::to_string(record.line) + ": record " + std::to_string(number) +
          " has changed since the journal recorded it (rows added, removed or edited?); a resume needs "
          "the data it began with");
      return false;
    }
    Plan &plan = schedule->plans[number - 1];
    if (entry.state == RecordState::sent || entry.state == RecordState::skipped) {
      plan = Plan::done;
      schedule->done++;
    } else if (entry.state == RecordState::failed) {
      schedule->retried++;
    } else if (!options.resendUncertain) {
      plan = Plan::uncertain;
      schedule->uncertain.push_back(number);
    }
  }
  return true;
}

// --- Progress ----------------------------------------------------------------------------

// A line on a terminal that redraws in place; nothing on a pipe or file.
class Progress {
 public:
  explicit Progress(int total) : total_(total), shown_(isatty(STDERR_FILENO) == 1), start_(Clock::now()) {}

  void Update(int done) {
    if (!shown_) return;
    Clock::time_point now = Clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    double seconds = std::chrono::duration<double>(now - start_).count();
    double rate = seconds > 0 ? done / seconds : 0;
    long left = rate > 0 ? long((total_ - done) / rate) : 0;
    std::fprintf(stderr, "\r%d of %d records, %.0f messages/s, %ld:%02ld left  ", done, total_, rate,
                 left / 60, left % 60);
    std::fflush(stderr);
  }

  void End() {
    if (shown_) std::fputs("\n", stderr);
  }

 private:
  int total_;
  bool shown_;
  Clock::time_point start_;
  Clock::time_point last_{};
};

// --- The merge ---------------------------------------------------------------------------

struct Tally {
  int sent = 0;
  int skipped = 0;
  std::vector<int> failed;     // record numbers
  std::vector<int> uncertain;  // record numbers
  std::vector<int> messages;   // record numbers whose message the client was given, in order
  bool stopped = false;        // by a signal, the journal or the client's end
};

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
}

struct Outcome {
  RecordState state;
  const char *reason;
};

// One record's "Merg". A message the client refused has failed. Its outcome is uncertain
// when the client did not answer in time (the external reports the time-out, and a slow
// client may still queue the message) or is gone after the failure (it may have died after
// queueing the message and before confirming it).
Outcome MergeOne(Session *session, const MergeRecord &record, size_t index, int clientPid) {
  std::string number = std::to_string(index);
  session->alerts.NewErrorStatuses();  // what came before is not this record's
  if (session->True({"Merg", "", number.c_str()})) {
    return record.hasRecipients ? Outcome{RecordState::sent, ""}
                                : Outcome{RecordState::skipped, "no recipients"};
  }
  for (int status : session->alerts.NewErrorStatuses()) {
    if (status == kTimedOutStatus) return {RecordState::uncertain, "the client did not answer in time"};
  }
  if (ProcessEnding(clientPid)) return {RecordState::uncertain, "the client quit during the message"};
  return {RecordState::failed, "the client refused the message"};
}

void Count(int number, const Outcome &outcome, Tally *tally) {
  if (outcome.state == RecordState::sent) {
    tally->sent++;
    tally->messages.push_back(number);
  }
  if (outcome.state == RecordState::skipped) tally->skipped++;
  if (outcome.state == RecordState::failed) tally->failed.push_back(number);
  if (outcome.state == RecordState::uncertain) tally->uncertain.push_back(number);
}

// Merges the planned records in order, journaling each unless journal is null. Stops at a
// signal, a journal that cannot be written, or a client that has gone.
void MergeRecords(Session *session, const Merge &merge, const Schedule &schedule, long limit,
                  const std::string &client, JournalWriter *journal, Tally *tally) {
  const std::vector<MergeRecord> &records = merge.input.records;
  int planned = 0;
  for (Plan plan : schedule.plans) planned += plan == Plan::merge ? 1 : 0;
  if (limit >= 0 && planned > limit) planned = int(limit);
  std::vector<int> clientPids = RunningApplications(client);  // the one "Strt" connected to
  int clientPid = clientPids.empty() ? 0 : clientPids.back();
  Progress progress(planned);
  int done = 0;
  for (size_t n = 0; n < records.size() && done < planned && !tally->stopped; n++) {
    if (schedule.plans[n] != Plan::merge) continue;
    int number = int(n + 1);
    const MergeRecord &record = records[n];
    if (g_stop) {
      Say("stopped before record " + std::to_string(number) + "; --resume goes on from there");
      tally->stopped = true;
    } else if (journal != nullptr && !journal->Start(number, RecordKey(record.values), record.line)) {
      Say(journal->error() + "; stopped before record " + std::to_string(number) + ", which was not sent");
      tally->stopped = true;
    }
    if (tally->stopped) break;
    Outcome outcome = MergeOne(session, record, n, clientPid);
    Count(number, outcome, tally);
    if (journal != nullptr && !journal->Outcome(number, outcome.state, outcome.reason)) {
      Say(journal->error() + "; stopped after record " + std::to_string(number) +
          ", whose outcome the journal lacks (a resume takes it as uncertain)");
      tally->stopped = true;
    } else if (outcome.state == RecordState::uncertain) {
      Say(client + ": " + outcome.reason + " (record " + std::to_string(number) + "); stopped");
      tally->stopped = true;
    }
    progress.Update(++done);
  }
  progress.End();
  if (journal != nullptr && !journal->Sync()) {
    Say(journal->error());
    tally->stopped = true;
  }
}

std::string RecordList(const Merge &merge, const std::vector<int> &numbers) {
  std::string list;
  for (size_t i = 0; i < numbers.size() && i < 20; i++) {
    list += (i > 0 ? ", " : "") + std::to_string(numbers[i]) + " (line " +
            std::to_string(merge.input.records[numbers[i] - 1].line) + ")";
  }
  if (numbers.size() > 20) list += ", ...";
  return list;
}

void ReportFindings(const std::vector<Finding> &findings) {
  for (const Finding &finding : findings)
    std::fprintf(stderr, "%s: %s\n", finding.where.c_str(), finding.what.c_str());
}

// Adds what the external says of the client to the findings and reports them. -1 to go on
// with the merge, else the exit status: after --check, or findings without --force.
int CheckMerge(Session *session, const Options &options, Merge *merge, std::string *client) {
  CheckClient(session, options, merge, client);
  ReportFindings(merge->findings);
  if (!options.check && (merge->findings.empty() || options.force)) return -1;
  if (merge->findings.empty()) {
    std::printf("%zu records, no findings\n", merge->input.records.size());
    return kMergeAllSent;
  }
  std::printf("%zu findings; nothing was sent%s\n", merge->findings.size(),
              options.check ? "" : " (mend them, or --force merges anyway)");
  return kMergeUsage;
}

std::string Now() {
  char text[32];
  std::time_t now = std::time(nullptr);
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  return text;
}

int Summarise(const Merge &merge, const Schedule &schedule, const Tally &tally, const std::string &client,
              const std::string &journalPath) {
  std::printf("%s: %d sent, %d skipped (no recipients), %zu failed", client.c_str(), tally.sent,
              tally.skipped, tally.failed.size());
  if (!tally.uncertain.empty()) std::printf(", %zu uncertain", tally.uncertain.size());
  if (schedule.done > 0) std::printf(", %d sent earlier", schedule.done);
  if (schedule.retried > 0) std::printf(" (%d that failed earlier tried again)", schedule.retried);
  std::printf("; journal %s\n", journalPath.c_str());
  if (!tally.failed.empty()) std::printf("failed: records %s\n", RecordList(merge, tally.failed).c_str());
  std::vector<int> uncertain = schedule.uncertain;
  uncertain.insert(uncertain.end(), tally.uncertain.begin(), tally.uncertain.end());
  if (!uncertain.empty()) {
    std::printf("uncertain, not sent again (--resend-uncertain sends them): records %s\n",
                RecordList(merge, uncertain).c_str());
  }
  bool allSent = tally.failed.empty() && uncertain.empty() && !tally.stopped;
  return allSent ? kMergeAllSent : kMergeSomeFailed;
}

int DryRun(Session *session, const Merge &merge, const Schedule &schedule, const Options &options,
           const std::string &client, DryRunMachine *machine) {
  Clock::time_point start = Clock::now();
  Tally tally;
  MergeRecords(session, merge, schedule, options.limit, client, nullptr, &tally);
  session->Call({"Fnsh"});
  EndSession(session);
  size_t bytes = 0;
  std::string error;
  bool numbered = machine->CollectMessages(client, tally.messages, options.dryRun, &bytes, &error);
  if (!numbered) Say(error);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("dry run into %s: %zu records, %zu messages, %zu bytes in %s, %.2f s (%.0f messages/s)\n",
              client.c_str(), merge.input.records.size(), tally.messages.size(), bytes,
              options.dryRun.c_str(), seconds, seconds > 0 ? tally.messages.size() / seconds : 0.0);
  if (!tally.failed.empty()) std::printf("failed: records %s\n", RecordList(merge, tally.failed).c_str());
  return tally.failed.empty() && numbered && !tally.stopped ? kMergeAllSent : kMergeSomeFailed;
}

}  // namespace

int MergeCommand(int argc, char **argv) {
  signal(SIGXFSZ, SIG_IGN);  // a journal over the file size limit fails to write, and says so
  Options options;
  if (int status = ParseArguments(argc, argv, &options); status >= 0) return status;
  if (!MachineUsable()) return kMergeUsage;
  Merge merge;
  if (!LoadMerge(options, &merge)) return kMergeUsage;
  std::string userHome = MachineHome();
  DryRunMachine machine;
  std::string error;
  if (!options.dryRun.empty() && !machine.Create(userHome, options.client, &error)) {
    Say(error);
    return kMergeUsage;
  }
  if (options.dryRun.empty()) InstallMissingStandIns(stderr);
  Session session;
  if (!StartSession(&session)) return kMergeUsage;
  std::string client;
  if (int status = CheckMerge(&session, options, &merge, &client); status >= 0) {
    EndSession(&session);
    return status;
  }
  std::string journalPath = options.data + ".journal";
  Schedule schedule;
  if (!PlanRecords(options, merge, journalPath, &schedule)) {
    EndSession(&session);
    return kMergeUsage;
  }
  if (!options.dryRun.empty() && !MakeFolder(options.dryRun)) {
    EndSession(&session);
    return kMergeUsage;
  }
  JournalWriter journal;
  if (options.dryRun.empty() &&
      !journal.Open(journalPath, "merge of " + options.data + " with " + options.letter + " into " + client +
                                     " on " + Now())) {
    Say(journal.error() + "; nothing was sent");
    EndSession(&session);
    return kMergeSomeFailed;
  }
  InstallSignalHandlers();
  HandOver(&session, merge);
  if (!session.True({"Strt", client.c_str()})) {
    Say("the client " + client + " could not be started; nothing was sent");
    session.Call({"Fnsh"});
    EndSession(&session);
    return kMergeSomeFailed;
  }
  if (!options.dryRun.empty()) return DryRun(&session, merge, schedule, options, client, &machine);
  Tally tally;
  MergeRecords(&session, merge, schedule, options.limit, client, &journal, &tally);
  session.Call({"Fnsh"});
  EndSession(&session);
  return Summarise(merge, schedule, tally, client, journalPath);
}

}  // namespace host
