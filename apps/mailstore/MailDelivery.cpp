#include "apps/mailstore/MailDelivery.h"

#include <MacErrors.h>
#include <MachineFolder.h>
#include <curl/curl.h>
#include <gmime/gmime.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "apps/mailstore/MailText.h"
#include "apps/mailstore/MimeWriter.h"

namespace {

constexpr size_t kMaxHeadBytes = 1 << 20;
constexpr size_t kMaxAnswerBytes = 400;
constexpr size_t kDeliveryReadAhead = 64 << 20;
constexpr const char *kLockFile = "/delivery.lock";
constexpr const char *kInflightFile = "/delivery.inflight";

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    InitMimeWriter();
  });
}

// --- Files ---------------------------------------------------------------------------------

OSErr ErrnoStatus(int error) {
  if (error == ENOSPC || error == EDQUOT) return dskFulErr;
  if (error == ENOENT) return fnfErr;
  if (error == EACCES || error == EPERM) return permErr;
  return ioErr;
}

// The order messages were queued in: a Maildir name starts "<seconds>.M<microseconds>P<pid>Q<n>".
std::tuple<long long, long long, long long, std::string> QueueOrder(const std::string &name) {
  long long seconds = 0, micros = 0, counter = 0;
  char *end = nullptr;
  seconds = std::strtoll(name.c_str(), &end, 10);
  if (end && end[0] == '.' && end[1] == 'M') micros = std::strtoll(end + 2, &end, 10);
  const char *q = std::strchr(end ? end : name.c_str(), 'Q');
  if (q) counter = std::strtoll(q + 1, nullptr, 10);
  return {seconds, micros, counter, name};
}

std::vector<std::string> ListFolder(const std::string &path) {
  std::vector<std::string> names;
  DIR *folder = opendir(path.c_str());
  if (!folder) return names;
  while (dirent *entry = readdir(folder))
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  closedir(folder);
  return names;
}

std::vector<std::string> QueuedNames(const std::string &dataFolder) {
  std::vector<std::tuple<long long, long long, long long, std::string>> keys;
  for (std::string &name : ListFolder(dataFolder + "/outbox/new")) keys.push_back(QueueOrder(name));
  std::sort(keys.begin(), keys.end());
  std::vector<std::string> names;
  names.reserve(keys.size());
  for (auto &key : keys) names.push_back(std::move(std::get<3>(key)));
  return names;
}

// Reads the file up to its first blank line (the header block), or whole when it has none.
bool ReadHead(const std::string &path, std::string *head) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  head->clear();
  char buffer[16384];
  ssize_t got = 0;
  while (head->find("\n\n") == std::string::npos && head->size() < kMaxHeadBytes &&
         (got = read(fd, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    head->append(buffer, size_t(got));
  }
  close(fd);
  return got >= 0;
}

bool ReadWhole(const std::string &path, std::string *bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  bytes->clear();
  char buffer[65536];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    bytes->append(buffer, size_t(got));
  }
  close(fd);
  return got >= 0;
}

// Every line ending in CRLF, as SMTP carries a message.
std::string WithCRLF(const std::string &raw) {
  std::string bytes;
  bytes.reserve(raw.size() + raw.size() / 32);
  for (size_t i = 0; i < raw.size(); i++) {
    if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r')) bytes.push_back('\r');
    bytes.push_back(raw[i]);
  }
  return bytes;
}

// <folder><box><name>, e.g. InFolder(data, "/outbox/new/", name).
std::string InFolder(const std::string &folder, const char *box, const std::string &name) {
  std::string path;
  path.reserve(folder.size() + std::strlen(box) + name.size());
  return path.append(folder).append(box).append(name);
}

OSErr Move(const std::string &from, const std::string &to) {
  return rename(from.c_str(), to.c_str()) == 0 ? OSErr(noErr) : ErrnoStatus(errno);
}

OSErr WriteFlushed(const std::string &path, const std::string &text) {
  int error = carbon::ReplaceFileContents(path, text, true);
  return error == 0 ? OSErr(noErr) : ErrnoStatus(error);
}

std::string BootId() {
  std::string id;
  ReadHead("/proc/sys/kernel/random/boot_id", &id);
  while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
  return id;
}

// Flushes the file system of the data folder (syncfs), then its folder entries.
OSErr SyncFolder(const std::string &dataFolder) {
  int fd = open(dataFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrnoStatus(errno);
  bool synced = syncfs(fd) == 0 && fsync(fd) == 0;
  int error = errno;
  close(fd);
  return synced ? OSErr(noErr) : ErrnoStatus(error);
}

// --- The envelope --------------------------------------------------------------------------

// The unfolded value of each header field called name (case-insensitive), appended to values.
void HeaderValues(std::string_view head, const char *name, std::vector<std::string> *values) {
  size_t length = std::strlen(name);
  for (size_t at = 0; at < head.size();) {
    size_t end = head.find('\n', at);
    if (end == std::string::npos) end = head.size();
    if (end == at || (end == at + 1 && head[at] == '\r')) break;  // the blank line
    bool match = end - at > length && head[at + length] == ':' && strncasecmp(&head[at], name, length) == 0;
    std::string value(match ? head.substr(at + length + 1, end - at - length - 1) : std::string_view());
    at = end + 1;
    while (at < head.size() && (head[at] == ' ' || head[at] == '\t')) {  // folded lines
      end = head.find('\n', at);
      if (end == std::string::npos) end = head.size();
      if (match) value.append(" ").append(head.substr(at, end - at));
      at = end + 1;
    }
    if (match) values->push_back(value);
  }
}

void CollectAddresses(InternetAddressList *list, std::vector<std::string> *addresses) {
  for (int i = 0; list && i < internet_address_list_length(list); i++) {
    InternetAddress *address = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(address)) {
      CollectAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), addresses);
    } else if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
      const char *bare = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
      if (bare && *bare && std::find(addresses->begin(), addresses->end(), bare) == addresses->end())
        addresses->emplace_back(bare);
    }
  }
}

void ParseAddresses(const std::vector<std::string> &values, std::vector<std::string> *addresses) {
  for (const std::string &value : values) {
    InternetAddressList *list = internet_address_list_parse(nullptr, ValidUTF8(value).c_str());
    CollectAddresses(list, addresses);
    if (list) g_object_unref(list);
  }
}

}  // namespace

MailEnvelope ParseMailEnvelope(std::string_view head, std::string_view envelopeFile) {
  InitOnce();
  MailEnvelope envelope;
  std::vector<std::string> values, from;
  HeaderValues(head, "From", &values);
  ParseAddresses(values, &from);
  if (!from.empty()) envelope.from = from.front();
  values.clear();
  HeaderValues(head, "To", &values);
  HeaderValues(head, "Cc", &values);
  HeaderValues(envelopeFile, "Bcc", &values);
  ParseAddresses(values, &envelope.recipients);
  return envelope;
}

namespace {

MailEnvelope ReadEnvelope(const std::string &dataFolder, const std::string &name, const std::string &head,
                          const std::vector<std::string> &envelopes) {
  std::string bcc, key = name.substr(0, name.find(':'));
  if (std::binary_search(envelopes.begin(), envelopes.end(), key))
    if (!ReadHead(dataFolder + "/envelopes/" + key, &bcc)) bcc.clear();
  return ParseMailEnvelope(head, bcc);
}

// The server of the first account whose From address is from and that has one.
const MailServer *RouteOf(const MailConfig &config, const std::string &from) {
  for (const MailAccount &account : config.accounts)
    if (strcasecmp(account.from.address.c_str(), from.c_str()) == 0)
      if (const MailServer *server = FindMailServer(config, account.name)) return server;
  return nullptr;
}

// --- One connection per server, through libcurl --------------------------------------------

struct Transcript {
  std::string command;  // the last command sent, e.g. "RCPT TO:<ann@example.com>"
  std::string answer;   // every line the server sent since
  std::string refusal;  // the first recipient refused, with the answer
  long refusalCode = 0;
};

// Keeps the last command and the server's answer to it, for reports, and the first refused
// recipient (libcurl goes on to DATA when another was accepted). What follows an AUTH command
// carries credentials and is never kept: the command stays "AUTH" until the next one. QUIT,
// sent when libcurl drops a connection, would hide the answer that made it do so.
int KeepTranscript(CURL *, curl_infotype type, char *data, size_t size, void *user) {
  auto *transcript = static_cast<Transcript *>(user);
  std::string_view line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (type == CURLINFO_HEADER_OUT) {
    static constexpr std::string_view kCommands[] = {"EHLO", "HELO", "STARTTLS", "MAIL", "RCPT",
                                                     "DATA", "RSET", "NOOP",     "QUIT"};
    bool command = std::any_of(std::begin(kCommands), std::end(kCommands),
                               [&](std::string_view verb) { return line.substr(0, verb.size()) == verb; });
    if (line.substr(0, 4) == "QUIT") return 0;
    if (line.substr(0, 4) == "AUTH" || (!command && transcript->command == "AUTH"))
      transcript->command = "AUTH";
    else
      transcript->command = line;
    transcript->answer.clear();
  } else if (type == CURLINFO_HEADER_IN && transcript->answer.size() < kMaxAnswerBytes) {
    if (!transcript->answer.empty()) transcript->answer += " ";
    transcript->answer += line.substr(0, kMaxAnswerBytes);
    bool last = line.size() < 4 || line[3] != '-';
    if (last && transcript->refusal.empty() && transcript->command.rfind("RCPT", 0) == 0 && line[0] != '2') {
      transcript->refusal = transcript->command + ": " + transcript->answer;
      transcript->refusalCode = std::strtol(transcript->answer.c_str(), nullptr, 10);
    }
  }
  return 0;
}

struct Upload {
  const std::string *bytes = nullptr;
  const Transcript *transcript = nullptr;
  size_t offset = 0;
  bool endSent = false;  // the end is recorded and may have gone out
  bool lost = false;     // its end could not be recorded, and was never sent
  std::function<bool()> beforeEnd;
};

size_t ReadBody(char *buffer, size_t size, size_t count, void *user) {
  auto *upload = static_cast<Upload *>(user);
  // A message goes to all its recipients or to none: one refused stops it before its text.
  if (!upload->transcript->refusal.empty()) return CURL_READFUNC_ABORT;
  size_t n = std::min(upload->bytes->size() - upload->offset, size * count);
  // The commit point: libcurl may send the end of the message as soon as it has the last of
  // its bytes, so the message leaves the outbox before they are handed over.
  if (upload->offset + n == upload->bytes->size() && !upload->endSent) {
    if (!upload->beforeEnd()) {
      upload->lost = true;
      return CURL_READFUNC_ABORT;
    }
    upload->endSent = true;
  }
  std::copy_n(upload->bytes->data() + upload->offset, n, buffer);
  upload->offset += n;
  return n;
}

struct Connection {
  const MailServer *server = nullptr;
  CURL *curl = nullptr;
  Transcript transcript;
  char error[CURL_ERROR_SIZE] = {};
  bool stopped = false;  // a temporary failure: nothing more to this server in this pass
  int left = 0;          // messages left queued since
  std::string why;
};

std::string EhloURL(const std::string &url) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') std::strcpy(host, "localhost");
  std::string base = url.back() == '/' ? url.substr(0, url.size() - 1) : url;
  return base + "/" + host;
}

void OpenConnection(Connection *connection, const DeliveryOptions &options) {
  const MailServer &server = *connection->server;
  CURL *curl = curl_easy_init();
  connection->curl = curl;
  if (!curl) return;
  curl_easy_setopt(curl, CURLOPT_URL, EhloURL(server.url).c_str());
  bool implicitTLS = server.url.compare(0, 8, "smtps://") == 0;
  if (!implicitTLS)
    curl_easy_setopt(curl, CURLOPT_USE_SSL, server.user.empty() ? CURLUSESSL_TRY : CURLUSESSL_ALL);
  if (!server.user.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, server.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, server.password.c_str());
  }
  if (!server.certificate.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, server.certificate.c_str());
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, options.timeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, options.timeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, options.timeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadBody);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, connection->error);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, KeepTranscript);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &connection->transcript);
}

// --- One message ---------------------------------------------------------------------------

enum class Outcome { delivered, refused, deferred, unconfirmed };

// What a finished attempt means. A refusal of a command about the message (MAIL, RCPT, DATA
// or its end) concerns that message; anything else (connecting, greeting, TLS, login, time-out,
// a dropped connection) concerns the server, and the message waits. 530 asks for a login the
// account lacks: a setting to mend, not a reason to give the mail up.
Outcome Classify(CURLcode result, long code, bool endSent, const std::string &command) {
  if (result == CURLE_OK) return endSent ? Outcome::delivered : Outcome::unconfirmed;
  bool answered = endSent ? (code >= 400 && code < 600) : true;
  if (endSent && !answered) return Outcome::unconfirmed;
  bool aboutMessage =
      endSent || command.rfind("MAIL", 0) == 0 || command.rfind("RCPT", 0) == 0 || command == "DATA";
  if (aboutMessage && code >= 500 && code < 600 && code != 530) return Outcome::refused;
  return Outcome::deferred;
}

struct Job {
  std::string name;
  MailEnvelope envelope;
  Connection *connection;
  std::string bytes;  // CRLF, read while planning while kDeliveryReadAhead allows; else empty
};

// One pass's messages, with the record of its batch in delivery.inflight:
//   boot <boot id>      the boot the record belongs to
//   queued <name>       each message of the batch, written and flushed before it is sent
//   end <name>          appended just before the last bytes of the message go to libcurl
//   back <name>         appended when the server then refused it for a time: queued again
class Pass {
 public:
  Pass(const std::string &dataFolder, DeliveryReport *report) : folder_(dataFolder), report_(report) {}
  ~Pass() { CloseRecord(); }

  // Makes everything done so far durable, then records the batch about to be sent.
  OSErr BeginBatch(const std::string &boot, const std::vector<Job> &jobs, size_t first, size_t count);
  // Delivers, refuses or defers one message; true when it stays queued.
  bool Deliver(const Job &job);

 private:
  std::string Path(const char *box, const std::string &name) const { return InFolder(folder_, box, name); }
  void Note(const std::string &text) { report_->notes.push_back(text); }
  bool Mark(const char *tag, const std::string &name);
  void CloseRecord() {
    if (record_ >= 0) close(record_);
    record_ = -1;
  }
  void Refuse(const Job &job, const std::string &answer);

  const std::string &folder_;
  DeliveryReport *report_;
  int record_ = -1;  // delivery.inflight, for appending
};

OSErr Pass::BeginBatch(const std::string &boot, const std::vector<Job> &jobs, size_t first, size_t count) {
  CloseRecord();
  OSErr status = SyncFolder(folder_);
  std::string text = "boot " + boot + "\n";
  for (size_t i = first; i < first + count; i++) text += "queued " + jobs[i].name + "\n";
  if (status == noErr) status = WriteFlushed(folder_ + kInflightFile, text);
  if (status == noErr) status = SyncFolder(folder_);
  if (status != noErr) return status;
  record_ = open((folder_ + kInflightFile).c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  return record_ >= 0 ? OSErr(noErr) : ErrnoStatus(errno);
}

bool Pass::Mark(const char *tag, const std::string &name) {
  std::string line = std::string(tag) + " " + name + "\n";
  return write(record_, line.data(), line.size()) == ssize_t(line.size());
}

std::string AnswerText(const Connection &connection, CURLcode result) {
  std::string text = connection.transcript.command.empty() ? "" : connection.transcript.command + ": ";
  if (!connection.transcript.answer.empty()) return text + connection.transcript.answer;
  return text + (connection.error[0] ? connection.error : curl_easy_strerror(result));
}

void Pass::Refuse(const Job &job, const std::string &answer) {
  WriteFlushed(Path("/failed/", job.name) + ".answer", answer + "\n");
  if (Move(Path("/outbox/new/", job.name), Path("/failed/", job.name)) != noErr) return;
  report_->failed++;
  Note(job.name + ": refused by " + job.connection->server->url + ": " + answer);
}

bool Pass::Deliver(const Job &job) {
  Connection &connection = *job.connection;
  std::string raw, read;
  if (job.bytes.empty() && !ReadWhole(Path("/outbox/new/", job.name), &raw)) return false;  // gone meanwhile
  if (job.bytes.empty()) read = WithCRLF(raw);
  const std::string &bytes = job.bytes.empty() ? read : job.bytes;
  if (job.envelope.recipients.empty()) {
    Refuse(job, "the message has no recipient");
    return false;
  }
  std::string from = "<" + job.envelope.from + ">";
  curl_slist *recipients = nullptr;
  for (const std::string &address : job.envelope.recipients)
    recipients = curl_slist_append(recipients, ("<" + address + ">").c_str());
  Upload upload;
  upload.bytes = &bytes;
  upload.transcript = &connection.transcript;
  upload.beforeEnd = [&] { return Mark("end", job.name); };
  CURL *curl = connection.curl;
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
  curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
  connection.error[0] = 0;
  connection.transcript = Transcript{};
  CURLcode result = curl_easy_perform(curl);
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, nullptr);
  curl_slist_free_all(recipients);
  long code = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
  std::string answer = AnswerText(connection, result);
  if (upload.lost) {
    Note(job.name + ": its sending could not be recorded in " + std::string(kInflightFile + 1) +
         " (the disk failed); not sent, still queued");
    return false;
  }
  std::string command = connection.transcript.command;
  if (!connection.transcript.refusal.empty()) {
    answer = connection.transcript.refusal;
    code = connection.transcript.refusalCode;
    command = "RCPT";
  }
  std::string queued = Path("/outbox/new/", job.name);
  switch (Classify(result, code, upload.endSent, command)) {
    case Outcome::delivered:
      if (Move(queued, Path("/sent/", job.name)) == noErr) report_->delivered++;
      return false;
    case Outcome::refused:
      Refuse(job, answer);
      return false;
    case Outcome::deferred:
      if (upload.endSent) Mark("back", job.name);
      connection.stopped = true;
      connection.why = answer;
      return true;
    case Outcome::unconfirmed:
      Move(queued, Path("/unconfirmed/", job.name));
      report_->unconfirmed++;
      connection.stopped = true;
      connection.why = answer;
      Note(job.name + ": sent to " + connection.server->url + ", whose answer never came (" + answer + "; " +
           (connection.error[0] ? connection.error : curl_easy_strerror(result)) +
           "): kept in unconfirmed/, not sent again");
      return false;
  }
  return false;
}

// --- A pass --------------------------------------------------------------------------------

struct LockGuard {
  int fd = -1;
  ~LockGuard() {
    if (fd >= 0) close(fd);  // releases the flock
  }
};

OSErr TakeLock(const std::string &dataFolder, bool wait, LockGuard *lock) {
  lock->fd = open((dataFolder + kLockFile).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock->fd < 0) return ErrnoStatus(errno);
  while (flock(lock->fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
    if (errno == EWOULDBLOCK) return fBsyErr;
    if (errno != EINTR) return ErrnoStatus(errno);
  }
  return noErr;
}

// What an interrupted pass left: each message of its batch whose end may have reached the
// server is still queued, and goes to unconfirmed/. In the same boot that is each one marked
// "end" (and not "back"); after a reboot, any of them, since unflushed marks and moves may
// have been lost with the power.
void RecoverInflight(const std::string &dataFolder, const std::string &boot) {
  std::string path = dataFolder + kInflightFile;
  std::string text;
  if (!ReadWhole(path, &text)) return;
  bool sameBoot = text.rfind("boot " + boot + "\n", 0) == 0;
  std::map<std::string, bool> ended;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a mark cut short: the end never went out
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    size_t blank = line.find(' ');
    std::string tag(line.substr(0, blank)),
        name(blank == std::string_view::npos ? "" : line.substr(blank + 1));
    if (name.empty() || name[0] == '.' || name.find('/') != std::string::npos) continue;
    if (tag == "queued" || tag == "end" || tag == "back") ended[name] = !sameBoot || tag == "end";
  }
  for (const auto &[name, mayHaveGone] : ended)
    if (mayHaveGone)
      Move(InFolder(dataFolder, "/outbox/new/", name), InFolder(dataFolder, "/unconfirmed/", name));
  unlink(path.c_str());
}

OSErr EndPass(const std::string &dataFolder) {
  OSErr status = SyncFolder(dataFolder);
  if (status == noErr) unlink((dataFolder + kInflightFile).c_str());
  return status;
}

OSErr MakeFolders(const std::string &dataFolder) {
  for (const char *box : {"/sent", "/failed", "/unconfirmed"})
    if (mkdir((dataFolder + box).c_str(), 0700) != 0 && errno != EEXIST) return ErrnoStatus(errno);
  return noErr;
}

// The queued messages with a server, in order, each with its envelope; the others counted.
std::vector<Job> PlanJobs(const std::string &dataFolder, const MailConfig &config,
                          std::map<std::string, Connection> *connections, DeliveryReport *report) {
  std::vector<Job> jobs;
  std::map<std::string, int> unrouted;
  std::vector<std::string> envelopes = ListFolder(dataFolder + "/envelopes");
  std::sort(envelopes.begin(), envelopes.end());
  std::string head;
  size_t readAhead = 0;
  for (const std::string &name : QueuedNames(dataFolder)) {
    // Most messages are small: read whole now, they need not be opened again to be sent.
    bool whole = readAhead < kDeliveryReadAhead;
    std::string path = InFolder(dataFolder, "/outbox/new/", name);
    if (!(whole ? ReadWhole(path, &head) : ReadHead(path, &head))) continue;
    MailEnvelope envelope = ReadEnvelope(dataFolder, name, head, envelopes);
    const MailServer *server = RouteOf(config, envelope.from);
    if (!server) {
      unrouted[envelope.from]++;
      continue;
    }
    Connection &connection = (*connections)[server->account];
    connection.server = server;
    jobs.push_back(Job{name, std::move(envelope), &connection, whole ? WithCRLF(head) : std::string()});
    readAhead += jobs.back().bytes.size();
  }
  for (const auto &[from, count] : unrouted) {
    report->unrouted += count;
    report->notes.push_back(std::to_string(count) + " queued from " + (from.empty() ? "no sender" : from) +
                            ": no account with that address has an smtp line; they stay in the outbox");
  }
  return jobs;
}

OSErr RunPass(const std::string &dataFolder, const MailConfig &config, const DeliveryOptions &options,
              DeliveryReport *report) {
  std::string boot = BootId();
  RecoverInflight(dataFolder, boot);
  std::map<std::string, Connection> connections;
  std::vector<Job> jobs = PlanJobs(dataFolder, config, &connections, report);
  Pass pass(dataFolder, report);
  OSErr status = noErr;
  for (size_t first = 0; status == noErr && first < jobs.size(); first += kDeliveryBatch) {
    size_t count = std::min(kDeliveryBatch, jobs.size() - first);
    status = pass.BeginBatch(boot, jobs, first, count);
    for (size_t i = first; status == noErr && i < first + count; i++) {
      Connection &connection = *jobs[i].connection;
      if (options.stop && options.stop->load()) status = userCanceledErr;
      if (status != noErr || connection.stopped) {
        connection.left++;
        continue;
      }
      if (!connection.curl) OpenConnection(&connection, options);
      if (connection.curl && pass.Deliver(jobs[i])) connection.left++;
    }
  }
  for (auto &[account, connection] : connections) {
    if (connection.curl) curl_easy_cleanup(connection.curl);  // says QUIT
    if (connection.left == 0 || status == userCanceledErr) continue;
    report->deferred += connection.left;
    report->notes.push_back(connection.server->url + ": " + connection.why + "; " +
                            std::to_string(connection.left) + " left queued");
  }
  OSErr ended = EndPass(dataFolder);
  if (status == userCanceledErr) status = noErr;
  return status != noErr ? status : ended;
}

}  // namespace

OSErr DeliverOutbox(const std::string &dataFolder, const MailConfig &config, const DeliveryOptions &options,
                    DeliveryReport *report) {
  *report = DeliveryReport{};
  InitOnce();
  LockGuard lock;
  OSErr status = TakeLock(dataFolder, options.wait, &lock);
  if (status == noErr) status = MakeFolders(dataFolder);
  if (status == fBsyErr) return status;
  if (status == noErr) status = RunPass(dataFolder, config, options, report);
  int earlier = static_cast<int>(ListFolder(dataFolder + "/unconfirmed").size()) - report->unconfirmed;
  if (earlier > 0)
    report->notes.push_back(
        std::to_string(earlier) +
        " in unconfirmed/ from an interrupted delivery may have reached their server: not "
        "sent again (move one back to outbox/new to send it again)");
  report->unconfirmedBefore = std::max(earlier, 0);
  return status;
}

std::string DeliverySummary(const DeliveryReport &report) {
  std::string text = std::to_string(report.delivered) + " delivered";
  if (report.failed) text += ", " + std::to_string(report.failed) + " refused (in failed/)";
  if (report.deferred)
    text += ", " + std::to_string(report.deferred) + " left queued after a temporary failure";
  if (report.unconfirmed)
    text += ", " + std::to_string(report.unconfirmed) + " unconfirmed (in unconfirmed/)";
  if (report.unconfirmedBefore)
    text += ", " + std::to_string(report.unconfirmedBefore) + " unconfirmed earlier (in unconfirmed/)";
  if (report.unrouted)
    text += ", " + std::to_string(report.unrouted) + " queued for accounts without a server";
  return text;
}

int QueuedMessageCount(const std::string &dataFolder) {
  return static_cast<int>(ListFolder(dataFolder + "/outbox/new").size());
}

// --- The agent of a running client ---------------------------------------------------------

struct DeliveryAgent {
  std::string dataFolder;
  MailConfig config;
  std::function<void(const DeliveryReport &)> log;
  std::mutex lock;
  std::condition_variable changed;
  bool woken = true;  // what was queued before the client started
  std::atomic<bool> stopping{false};
  std::thread thread;
};

namespace {

void AgentLoop(DeliveryAgent *agent) {
  int retry = 0;
  DeliveryOptions options;
  options.stop = &agent->stopping;
  options.wait = false;  // someone else delivering: look again in a second
  std::unique_lock<std::mutex> lock(agent->lock);
  while (!agent->stopping) {
    if (retry > 0)
      agent->changed.wait_for(lock, std::chrono::seconds(retry), [agent] { return agent->stopping.load(); });
    else
      agent->changed.wait_for(lock, std::chrono::seconds(1),
                              [agent] { return agent->woken || agent->stopping; });
    if (agent->stopping) break;
    agent->woken = false;
    lock.unlock();
    DeliveryReport report;
    bool ran = QueuedMessageCount(agent->dataFolder) > 0 &&
               DeliverOutbox(agent->dataFolder, agent->config, options, &report) != fBsyErr;
    if (ran && (report.delivered || report.failed || report.deferred || !report.notes.empty()))
      agent->log(report);
    retry = report.deferred == 0
                ? 0
                : std::min(std::max(2 * retry, kDeliveryFirstRetrySeconds), kDeliveryLastRetrySeconds);
    lock.lock();
  }
}

}  // namespace

DeliveryAgent *StartDeliveryAgent(const std::string &dataFolder, const MailConfig &config,
                                  std::function<void(const DeliveryReport &)> log) {
  bool any = false;
  for (const MailAccount &account : config.accounts) any = any || FindMailServer(config, account.name);
  if (!any) return nullptr;
  auto *agent = new DeliveryAgent;
  agent->dataFolder = dataFolder;
  agent->config = config;
  agent->log = std::move(log);
  agent->thread = std::thread(AgentLoop, agent);
  return agent;
}

void WakeDeliveryAgent(DeliveryAgent *agent) {
  if (!agent) return;
  std::lock_guard<std::mutex> guard(agent->lock);
  agent->woken = true;
  agent->changed.notify_one();
}

void StopDeliveryAgent(DeliveryAgent *agent) {
  if (!agent) return;
  {
    std::lock_guard<std::mutex> guard(agent->lock);
    agent->stopping = true;
  }
  agent->changed.notify_one();
  agent->thread.join();
  delete agent;
}
