// The journal of `quillcast merge`, <data>.journal beside the data file: what happened to
// each record, so that a merge that stopped (killed, the machine down, the disk full) can be
// resumed without sending any record twice. A text file, appended to and never rewritten,
// one event per line; lines starting with "#" are comments:
//
//   start N KEY line L     record N (1-based; it starts on line L of the data) is about to be
//                          merged; KEY (16 hex digits) is a hash of its values
//   sent N                 the client accepted record N's message
//   skipped N REASON       nothing was sent for record N (e.g. it has no recipients)
//   failed N REASON        the client refused record N's message, or it could not be merged
//   uncertain N REASON     the merge of record N ended without knowing whether the client
//                          queued it (the client quit during it, or did not answer in time)
//
// A record's last event decides its state; a "start" with no event after it is uncertain
// too (the merge was killed during it).
//
// Every line is handed to the system (write) before the step it tells of goes on: a "start"
// before the record's "Merg", an outcome as soon as it is known. A kill of the merge at any
// point, SIGKILL included, thus loses nothing the journal claims. Flushing every "start" to
// the disk as well (fdatasync) would cost more than the merge itself (measured: 0.1 to 1.3 ms
// per record, against 0.1 ms for a record into Emailer), so the journal is flushed once a
// second and when the merge ends: like the client's own store, which flushes its mail once a
// second, a crash of the whole machine may lose the last second. A last line without its
// line end was cut short by a kill and does not count; the next run ends it and writes a
// comment under it that says so.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace host {

enum class RecordState { started, sent, skipped, failed, uncertain };

struct JournalRecord {
  RecordState state = RecordState::started;
  uint64_t key = 0;
  int line = 0;
  std::string reason;
};

// Which records the journal knows, by record number. A missing file is an empty journal.
// False with *error ("PATH:LINE: ...") when a line cannot be read.
bool ReadJournal(const std::string &path, std::map<int, JournalRecord> *records, std::string *error);

// The key of a record's values: FNV-1a over the values, each followed by the byte 0xFF.
uint64_t RecordKey(const std::vector<std::string> &values);

// Appends to a journal. Every method returns false with error() set (naming the file and the
// system's reason) when the journal cannot be written; nothing written before is lost.
class JournalWriter {
 public:
  JournalWriter() = default;
  ~JournalWriter();
  JournalWriter(const JournalWriter &) = delete;
  JournalWriter &operator=(const JournalWriter &) = delete;

  // Opens (creating, mode 0600) and writes a comment line saying what this run is.
  bool Open(const std::string &path, const std::string &runComment);
  // Written before the record is merged (and flushed when a second has passed since the
  // last flush).
  bool Start(int number, uint64_t key, int line);
  bool Outcome(int number, RecordState state, const std::string &reason = "");
  // Flushes what was written to the disk.
  bool Sync();
  const std::string &error() const { return error_; }

 private:
  bool Append(const std::string &line);
  bool Fail(int errorNumber);

  static constexpr std::chrono::seconds kSyncInterval{1};

  std::string path_;
  int fd_ = -1;
  std::chrono::steady_clock::time_point synced_{};
  std::string error_;
};

}  // namespace host
