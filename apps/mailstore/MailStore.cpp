#include "apps/mailstore/MailStore.h"

#include <MacErrors.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "apps/mailstore/MailHeaders.h"
#include "apps/mailstore/MailText.h"
#include "apps/mailstore/MimeWriter.h"

struct MailStore {
  std::string root;
  std::string host;  // this machine's name, made safe for a Maildir file name
  int rootFd = -1;   // for syncfs
  // The folders a message is written into, opened once: a file is created and renamed
  // relative to them rather than by a whole path each time.
  struct Maildir {
    int tmp = -1;
    int fresh = -1;  // new/
  };
  Maildir outbox, drafts;
  int envelopes = -1;
  pid_t pid = 0;
  std::atomic<uint64_t> counter{0};
  // Messages written, and how many of them the last syncfs covered. syncfs flushes every
  // file renamed before it starts, so counting first and flushing after is safe.
  std::atomic<uint64_t> written{0};
  std::atomic<uint64_t> synced{0};
  std::mutex syncLock;  // one syncfs at a time; guards stopping
  std::condition_variable wake;
  bool stopping = false;
  std::thread flusher;
  // Messages handed over by MailStoreWriteLater, written in order by the writer thread,
  // which starts with the first of them.
  struct Job {
    MailMessage message;
    MailAddress from;
    MailFolder folder;
  };
  std::mutex jobsLock;
  std::condition_variable jobsChanged;
  std::deque<Job> jobs;
  bool writing = false;  // the writer is busy with a job it took
  bool closing = false;
  std::thread writer;
};

namespace {

OSErr ErrnoStatus(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return dskFulErr;
    case ENOENT:
      return dirNFErr;
    case EACCES:
    case EPERM:
      return permErr;
    default:
      return ioErr;
  }
}

OSErr MakeFolder(const std::string &path) {
  if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return noErr;
  return ErrnoStatus(errno);
}

std::string SafeHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  std::string host(name);
  for (char &c : host)
    if (c == '/' || c == ':' || c == '.') c = '_';
  return host;
}

// The domain of the sender's address when it is a plain host name, for the Message-ID.
std::string MessageIdDomain(const MailAddress &from) {
  size_t at = from.address.rfind('@');
  std::string domain = at == std::string::npos ? "" : from.address.substr(at + 1);
  bool plain = !domain.empty() && domain.size() < 250;
  for (char c : domain) plain = plain && (isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-');
  return plain ? domain : "quillcast.example";
}

// Unique per store: seconds, microseconds, process and a counter (the Maildir convention).
std::string UniqueName(MailStore *store, std::string *messageId, const MailAddress &from) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  char name[128];
  std::snprintf(name, sizeof name, "%lld.M%06ldP%dQ%llu", static_cast<long long>(now.tv_sec),
                static_cast<long>(now.tv_usec), static_cast<int>(store->pid),
                static_cast<unsigned long long>(++store->counter));
  *messageId = std::string(name) + ".quillcast@" + MessageIdDomain(from);
  return std::string(name) + "." + store->host;
}

// Creates name in folder (never through a link, never over an existing file) and writes bytes.
OSErr WriteWholeFile(int folder, const std::string &name, const std::string &bytes) {
  int fd = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return ErrnoStatus(errno);
  OSErr status = noErr;
  for (size_t done = 0; status == noErr && done < bytes.size();) {
    ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0)
      status = ErrnoStatus(wrote < 0 ? errno : EIO);
    else
      done += static_cast<size_t>(wrote);
  }
  if (close(fd) != 0 && status == noErr) status = ErrnoStatus(errno);
  if (status != noErr) unlinkat(folder, name.c_str(), 0);
  return status;
}

// Writes temporary in one folder and renames it to final in another; nothing stays behind
// on failure.
OSErr WriteAndRename(int from, const std::string &temporary, int to, const std::string &final,
                     const std::string &bytes) {
  OSErr status = WriteWholeFile(from, temporary, bytes);
  if (status == noErr && renameat(from, temporary.c_str(), to, final.c_str()) != 0) {
    status = ErrnoStatus(errno);
    unlinkat(from, temporary.c_str(), 0);
  }
  return status;
}

OSErr ReadAttachments(const MailMessage &message, std::vector<MimeAttachment> *attachments) {
  attachments->resize(message.attachments.size());
  for (size_t i = 0; i < message.attachments.size(); i++) {
    OSErr status = ReadMailAttachment(message.attachments[i], &(*attachments)[i]);
    if (status != noErr) return status;
  }
  return noErr;
}

void FlushLoop(MailStore *store) {
  std::unique_lock<std::mutex> lock(store->syncLock);
  while (!store->stopping) {
    store->wake.wait_for(lock, std::chrono::seconds(kMailStoreSyncSeconds));
    uint64_t written = store->written.load();
    if (written != store->synced.load() && syncfs(store->rootFd) == 0) store->synced = written;
  }
}

OSErr WriteMessage(MailStore *store, const MailMessage &message, const MailAddress &from, MailFolder folder,
                   std::string *fileName) {
  std::vector<MimeAttachment> attachments;
  OSErr status = ReadAttachments(message, &attachments);
  std::string messageId;
  std::string name = UniqueName(store, &messageId, from);
  std::string bytes;
  if (status == noErr) status = BuildMimeMessage(message, from, attachments, messageId, &bytes);
  bool hasEnvelope = false;
  for (const MailAddress &mailbox : message.bcc)
    hasEnvelope = hasEnvelope || !HeaderValue(mailbox.address).empty();
  if (status == noErr && hasEnvelope)
    status = WriteAndRename(store->envelopes, name + ".tmp", store->envelopes, name,
                            AddressHeaderField("Bcc", message.bcc));
  const MailStore::Maildir &maildir = folder == MailFolder::outbox ? store->outbox : store->drafts;
  if (status == noErr) status = WriteAndRename(maildir.tmp, name, maildir.fresh, name, bytes);
  if (status != noErr && hasEnvelope) unlinkat(store->envelopes, name.c_str(), 0);
  if (status != noErr) return status;
  if (fileName) *fileName = name;
  if (++store->written - store->synced.load() >= kMailStoreSyncBatch) store->wake.notify_one();
  return noErr;
}

void WriterLoop(MailStore *store) {
  std::unique_lock<std::mutex> lock(store->jobsLock);
  for (;;) {
    store->jobsChanged.wait(lock, [store] { return !store->jobs.empty() || store->closing; });
    if (store->jobs.empty()) return;
    MailStore::Job job = std::move(store->jobs.front());
    store->jobs.pop_front();
    store->writing = true;
    store->jobsChanged.notify_all();
    lock.unlock();
    OSErr status = WriteMessage(store, job.message, job.from, job.folder, nullptr);
    // No one waits for this message: standard error is the only place to say it failed.
    if (status != noErr)
      std::fprintf(stderr, "mail store: a message could not be written (error %d)\n", status);
    lock.lock();
    store->writing = false;
    store->jobsChanged.notify_all();
  }
}

void CloseFolders(MailStore *store) {
  for (int fd : {store->rootFd, store->outbox.tmp, store->outbox.fresh, store->drafts.tmp,
                 store->drafts.fresh, store->envelopes})
    if (fd >= 0) close(fd);
}

void WaitForWriter(MailStore *store) {
  std::unique_lock<std::mutex> lock(store->jobsLock);
  store->jobsChanged.wait(lock, [store] { return store->jobs.empty() && !store->writing; });
}

}  // namespace

MailStore *MailStoreOpen(const std::string &dataFolder, OSErr *status) {
  InitMimeWriter();
  auto store = std::make_unique<MailStore>();
  store->root = dataFolder;
  store->host = SafeHostName();
  store->pid = getpid();
  *status = noErr;
  for (const char *folder : {"/outbox", "/outbox/tmp", "/outbox/new", "/outbox/cur", "/drafts", "/drafts/tmp",
                             "/drafts/new", "/drafts/cur", "/envelopes"})
    if (*status == noErr) *status = MakeFolder(dataFolder + folder);
  if (*status != noErr) return nullptr;
  store->rootFd = open(dataFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const std::pair<int *, const char *> folders[] = {{&store->outbox.tmp, "outbox/tmp"},
                                                    {&store->outbox.fresh, "outbox/new"},
                                                    {&store->drafts.tmp, "drafts/tmp"},
                                                    {&store->drafts.fresh, "drafts/new"},
                                                    {&store->envelopes, "envelopes"}};
  *status = store->rootFd < 0 ? ErrnoStatus(errno) : OSErr(noErr);
  for (const auto &[fd, path] : folders) {
    if (*status != noErr) break;
    *fd = openat(store->rootFd, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (*fd < 0) *status = ErrnoStatus(errno);
  }
  if (*status != noErr) {
    CloseFolders(store.get());
    return nullptr;
  }
  store->flusher = std::thread(FlushLoop, store.get());
  return store.release();
}

void MailStoreClose(MailStore *store) {
  if (!store) return;
  {
    std::lock_guard<std::mutex> guard(store->jobsLock);
    store->closing = true;
  }
  store->jobsChanged.notify_all();
  if (store->writer.joinable()) store->writer.join();
  {
    std::lock_guard<std::mutex> guard(store->syncLock);
    store->stopping = true;
  }
  store->wake.notify_one();
  store->flusher.join();
  MailStoreSync(store);
  CloseFolders(store);
  delete store;
}

OSErr MailStoreWrite(MailStore *store, const MailMessage &message, const MailAddress &from, MailFolder folder,
                     std::string *fileName) {
  WaitForWriter(store);
  return WriteMessage(store, message, from, folder, fileName);
}

OSErr MailStoreWriteLater(MailStore *store, MailMessage message, const MailAddress &from, MailFolder folder) {
  std::unique_lock<std::mutex> lock(store->jobsLock);
  if (!store->writer.joinable()) store->writer = std::thread(WriterLoop, store);
  store->jobsChanged.wait(lock, [store] { return store->jobs.size() < kMailStoreQueueLimit; });
  store->jobs.push_back(MailStore::Job{std::move(message), from, folder});
  store->jobsChanged.notify_all();
  return noErr;
}

OSErr MailStoreSync(MailStore *store) {
  std::lock_guard<std::mutex> guard(store->syncLock);
  uint64_t written = store->written.load();
  if (written == store->synced.load()) return noErr;
  if (syncfs(store->rootFd) != 0) return ErrnoStatus(errno);
  store->synced = written;
  return noErr;
}

int MailStorePending(const MailStore *store) {
  return static_cast<int>(store->written - store->synced);
}

std::string MailStoreFolderPath(const MailStore *store, MailFolder folder) {
  return store->root + (folder == MailFolder::outbox ? "/outbox" : "/drafts");
}
