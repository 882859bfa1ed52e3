// Delivery of a client's outbox to a real SMTP server on loopback (scripts/smtp_server.py, on
// Debian's aiosmtpd), through `quillcast deliver` and through a running client's own agent:
// what the server received against what was queued, and servers that refuse, fail for a
// time, drop the connection, stall or answer garbage, and a deliverer killed mid-way.
#include <MacErrors.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "apps/mailstore/MailClient.h"
#include "apps/mailstore/MailStore.h"

namespace fs = std::filesystem;

namespace {

const std::string kSource = QUILLCAST_SOURCE_DIR_PATH;
const std::string kCertificate = kSource + "/tests/delivery/test-server.crt";
const std::string kKey = kSource + "/tests/delivery/test-server.key";
constexpr int kMessages = 4;

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Names(const fs::path &folder, const std::string &suffix = "") {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Waits for something another process does; the bound only keeps a broken run from hanging.
bool Eventually(const std::function<bool()> &done) {
  for (int i = 0; i < 6000; i++) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

pid_t Spawn(const std::vector<std::string> &arguments, const std::string &output) {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char *> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string &argument : arguments) argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    FILE *out = std::fopen(output.c_str(), "a");
    dup2(fileno(out), 1);
    dup2(fileno(out), 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct Server {
  fs::path store;
  pid_t pid = -1;
  std::string port;

  Server(const fs::path &folder, std::vector<std::string> arguments) : store(folder / "received") {
    std::string portFile = (folder / "port").string();
    fs::remove(portFile);
    arguments.insert(arguments.begin(),
                     {"/usr/bin/python3", kSource + "/scripts/smtp_server.py", "--store", store.string(),
                      "--port-file", portFile, "--tls", kCertificate, kKey, "--auth", "ann:s3cret pass"});
    pid = Spawn(arguments, (folder / "server.log").string());
    EXPECT_TRUE(Eventually([&] { return fs::exists(portFile); })) << ReadFile(folder / "server.log");
    port = ReadFile(portFile);
    port.erase(port.find_last_not_of('\n') + 1);
  }
  ~Server() {
    kill(pid, SIGTERM);
    Wait(pid);
  }
  // What the server took, in order: the envelope lines, then the bytes.
  std::vector<std::pair<std::string, std::string>> Received() const {
    std::vector<std::pair<std::string, std::string>> received;
    for (const std::string &name : Names(store, ".env")) {
      std::string base = (store / name.substr(0, name.size() - 4)).string();
      received.emplace_back(ReadFile(base + ".env"), ReadFile(base + ".eml"));
    }
    return received;
  }
};

struct Machine {
  fs::path home;
  fs::path client;
  std::vector<std::string> queued;  // file names, in the order queued

  Machine() {
    std::string pattern = (fs::temp_directory_path() / "delivery-test-XXXXXX").string();
    home = mkdtemp(pattern.data());
    client = home / "Data" / "Eudora";
    fs::create_directories(client);
  }
  ~Machine() { fs::remove_all(home); }

  void Configure(const Server &server, const std::string &login = "ann s3cret pass") {
    std::ofstream(client / "accounts.conf") << "account Work = Ann Lee <ann@work.example>\n"
                                            << "smtp Work = smtp://127.0.0.1:" << server.port << "\n"
                                            << "login Work = " << login << "\n"
                                            << "certificate Work = " << kCertificate << "\n";
  }

  // Message i goes to person<i>, the even ones with a Cc and a Bcc.
  void Queue(int count) {
    OSErr status = noErr;
    MailStore *store = MailStoreOpen(client.string(), &status);
    ASSERT_NE(store, nullptr);
    MailAddress from{"Ann Lee", "ann@work.example"};
    for (int i = 1; i <= count; i++) {
      MailMessage message;
      message.to.push_back({"Person " + std::to_string(i), "person" + std::to_string(i) + "@example.com"});
      if (i % 2 == 0) {
        message.cc.push_back({"", "copy@example.com"});
        message.bcc.push_back({"Hidden One", "hidden" + std::to_string(i) + "@example.org"});
      }
      message.subject = "Message " + std::to_string(i);
      message.body =
          "Dear Person " + std::to_string(i) + ",\n.a line that starts with a dot\n\xc3\xa9t\xc3\xa9\n";
      std::string name;
      ASSERT_EQ(MailStoreWrite(store, message, from, MailFolder::outbox, &name), noErr);
      queued.push_back(name);
    }
    MailStoreClose(store);
  }

  std::string DeliverPath() const { return (home / "deliver.out").string(); }

  pid_t StartDeliver(std::vector<std::string> options) const {
    setenv("QUILLCAST_HOME", home.c_str(), 1);
    options.insert(options.begin(),
                   {std::string(QUILLCAST_BUILD_DIR_PATH) + "/quillcast", "deliver", "Eudora"});
    return Spawn(options, DeliverPath());
  }
  int Deliver(const std::vector<std::string> &options = {}) const { return Wait(StartDeliver(options)); }

  std::vector<std::string> In(const char *folder) const { return Names(client / folder); }
};

std::string WithCRLF(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::vector<std::string> Words(const std::string &text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string Subject(const std::string &message) {
  size_t at = message.find("Subject: ");
  return at == std::string::npos ? "" : message.substr(at + 9, message.find('\r', at) - at - 9);
}

}  // namespace

TEST(Delivery, EveryMessageArrivesOnceInOrderOverTLSWithBccOnlyInTheEnvelope) {
  Machine machine;
  Server server(machine.home, {});
  machine.Configure(server);
  machine.Queue(kMessages);
  std::vector<std::string> bytes;
  for (const std::string &name : machine.queued)
    bytes.push_back(ReadFile(machine.client / "outbox/new" / name));

  EXPECT_EQ(machine.Deliver(), 0) << ReadFile(machine.DeliverPath());
  auto received = server.Received();
  ASSERT_EQ(received.size(), size_t(kMessages)) << ReadFile(machine.DeliverPath());
  for (int i = 0; i < kMessages; i++) {
    EXPECT_EQ(received[i].second, WithCRLF(bytes[i]));
    std::string envelope = "ann@work.example\nperson" + std::to_string(i + 1) + "@example.com\n";
    if ((i + 1) % 2 == 0) envelope += "copy@example.com\nhidden" + std::to_string(i + 1) + "@example.org\n";
    EXPECT_EQ(received[i].first, envelope);
    EXPECT_EQ(received[i].second.find("hidden"), std::string::npos);
  }
  EXPECT_EQ(machine.In("sent"), machine.queued);
  EXPECT_TRUE(machine.In("outbox/new").empty());

  // A wrong password is the account's trouble, not the mail's: it stays queued.
  machine.Configure(server, "ann wrong");
  machine.Queue(1);
  EXPECT_EQ(machine.Deliver({"--retries", "0"}), 1);
  EXPECT_EQ(machine.In("outbox/new").size(), 1u);
  EXPECT_EQ(server.Received().size(), size_t(kMessages));
  EXPECT_NE(ReadFile(machine.DeliverPath()).find("535"), std::string::npos)
      << ReadFile(machine.DeliverPath());
}

// Each row: how the server misbehaves, and where the kMessages messages end up. A temporary
// failure stops the pass for that server (later messages never overtake), a retry delivers.
TEST(Delivery, ServerFaultsLoseNothingAndSendNothingTwice) {
  struct Row {
    const char *fault;    // the server's --fault and what follows it
    const char *options;  // the deliverer's
    int exit;
    size_t received, sent, failed, queued, unconfirmed;
    const char *said;
  } rows[] = {
      {"rcpt:550:2 --rcpt copy@example.com", "", 1, 3, 3, 1, 0, 0, "RCPT TO:<copy@example.com>: 550"},
      {"end:554:3", "", 1, 3, 3, 1, 0, 0, "554 fault"},
      {"end:451:2", "--retries 1", 0, 4, 4, 0, 0, 0, "451 fault"},
      {"data:close:2", "--retries 1", 0, 4, 4, 0, 0, 0, "trying again"},
      {"mail:421", "--retries 0", 1, 0, 0, 0, 4, 0, "421 fault"},
      {"connect:garbage", "--retries 0 --timeout 3", 1, 0, 0, 0, 4, 0, "not an SMTP answer"},
      {"connect:close", "--retries 0", 1, 0, 0, 0, 4, 0, "4 left queued"},
      {"rcpt:stall:3", "--retries 0 --timeout 3", 1, 2, 2, 0, 2, 0, "2 left queued"},
      {"end:stall:2", "--retries 0 --timeout 3", 1, 2, 1, 0, 2, 1, "never came"},
      {"end:close:2", "--retries 0", 1, 2, 1, 0, 2, 1, "never came"},
      {"end:garbage:2", "--retries 0 --timeout 3", 1, 1, 1, 0, 2, 1, "never came"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.fault);
    Machine machine;
    Server server(machine.home, Words(std::string("--fault ") + row.fault));
    machine.Configure(server);
    machine.Queue(kMessages);
    EXPECT_EQ(machine.Deliver(Words(row.options)), row.exit);
    std::string said = ReadFile(machine.DeliverPath());
    EXPECT_NE(said.find(row.said), std::string::npos) << said;
    auto received = server.Received();
    EXPECT_EQ(received.size(), row.received) << said;
    for (size_t i = 1; i < received.size(); i++)
      EXPECT_LT(Subject(received[i - 1].second), Subject(received[i].second));
    EXPECT_EQ(machine.In("sent").size(), row.sent);
    EXPECT_EQ(machine.In("failed").size(), 2 * row.failed);  // each with its answer
    EXPECT_EQ(machine.In("outbox/new").size(), row.queued);
    EXPECT_EQ(machine.In("unconfirmed").size(), row.unconfirmed);
    for (const std::string &name : Names(machine.client / "failed", ".answer")) {
      EXPECT_NE(said.find(ReadFile(machine.client / "failed" / name).substr(0, 20)), std::string::npos);
    }
  }
}

// The deliverer killed while the server holds message 2, before its end was sent and after:
// delivery started again sends the rest, and message 2 once at most, never silently dropped.
TEST(Delivery, KilledDelivererNeverSendsAMessageTwice) {
  struct Row {
    const char *fault;
    size_t received;  // messages the server has once the delivery was run again
    size_t unconfirmed;
  } rows[] = {{"rcpt:stall:2", kMessages, 0}, {"end:stall:2", kMessages, 1}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.fault);
    Machine machine;
    Server server(machine.home, {"--fault", row.fault});
    machine.Configure(server);
    machine.Queue(kMessages);
    pid_t deliverer = machine.StartDeliver({});
    ASSERT_TRUE(Eventually([&] { return fs::exists(server.store / "fault-2"); }));
    kill(deliverer, SIGKILL);
    Wait(deliverer);

    EXPECT_EQ(machine.Deliver(), 0);
    std::string said = ReadFile(machine.DeliverPath());
    auto received = server.Received();
    ASSERT_EQ(received.size(), row.received) << said;
    std::vector<std::string> subjects;
    subjects.reserve(received.size());
    for (const auto &[envelope, bytes] : received) subjects.push_back(Subject(bytes));
    std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(std::unique(subjects.begin(), subjects.end()), subjects.end()) << said;
    EXPECT_EQ(machine.In("unconfirmed").size(), row.unconfirmed);
    EXPECT_EQ(machine.In("sent").size() + row.unconfirmed, size_t(kMessages));
    if (row.unconfirmed) {
      EXPECT_NE(said.find("not sent again"), std::string::npos) << said;
    }
  }
}

TEST(Delivery, RunningClientDeliversWhatItQueues) {
  Machine machine;
  Server server(machine.home, {});
  machine.Configure(server);
  MailClient client;
  OpenMailClient(machine.client.string(), "", &client);
  MailMessage message;
  message.account = "Work";
  message.to.push_back({"", "person@example.com"});
  message.subject = "Queued while running";
  ASSERT_EQ(MailClientWrite(client, message, MailFolder::outbox), noErr);
  EXPECT_TRUE(Eventually([&] { return machine.In("sent").size() == 1; }));
  CloseMailClient(&client);
  ASSERT_EQ(server.Received().size(), 1u);
  EXPECT_EQ(Subject(server.Received()[0].second), "Queued while running");
}
