#include "host/Deliver.h"

#include <MacErrors.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "apps/mailstore/MailConfig.h"
#include "apps/mailstore/MailDelivery.h"
#include "host/StandIns.h"

namespace host {
namespace {

constexpr int kUsageError = 2;

struct Settings {
  std::vector<std::string> clients;
  int retries = 3;
  long timeout = kDeliveryTimeoutSeconds;
};

bool ReadNumber(const char *text, long low, long high, long *value) {
  char *end = nullptr;
  errno = 0;
  long number = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || number < low || number > high) return false;
  *value = number;
  return true;
}

bool ParseArguments(int argc, char **argv, Settings *settings) {
  for (int i = 0; i < argc; i++) {
    long value = 0;
    bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--retries") == 0 && hasValue && ReadNumber(argv[++i], 0, 100, &value)) {
      settings->retries = static_cast<int>(value);
    } else if (std::strcmp(argv[i], "--timeout") == 0 && hasValue && ReadNumber(argv[++i], 1, 3600, &value)) {
      settings->timeout = value;
    } else if (argv[i][0] != '-' && settings->clients.empty()) {
      settings->clients.emplace_back(argv[i]);
    } else {
      return false;
    }
  }
  return true;
}

bool HasServer(const MailConfig &config) {
  for (const MailAccount &account : config.accounts)
    if (FindMailServer(config, account.name)) return true;
  return false;
}

// The client's accounts file as it is: a client that never ran has none, and gets none here.
bool ReadConfig(const std::string &folder, MailConfig *config) {
  struct stat info;
  if (stat((folder + "/" + kMailConfigFileName).c_str(), &info) != 0) return false;
  LoadMailConfig(folder, config);
  return true;
}

// Every client with a folder on the machine and a server in its accounts file.
std::vector<std::string> ClientsWithServers(const std::string &data) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(data, error)) {
    MailConfig config;
    if (entry.is_directory(error) && ReadConfig(entry.path().string(), &config) && HasServer(config))
      names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void Print(const std::string &client, const std::string &line) {
  std::printf("%s: %s\n", client.c_str(), line.c_str());
  std::fflush(stdout);
}

// Passes until the outbox holds nothing that can go, waiting between them while a server
// fails for a time. True when everything that was queued has been delivered.
bool DeliverClient(const std::string &client, const std::string &folder, const Settings &settings) {
  MailConfig config;
  if (!ReadConfig(folder, &config) || !HasServer(config)) {
    Print(client, "no account has a server: add a line \"smtp <account> = smtp://host:port\" to " + folder +
                      "/" + kMailConfigFileName + "; " + std::to_string(QueuedMessageCount(folder)) +
                      " queued messages stay in the outbox");
    return false;
  }
  DeliveryOptions options;
  options.timeoutSeconds = settings.timeout;
  options.wait = false;
  DeliveryReport total, report;
  auto start = std::chrono::steady_clock::now();
  OSErr status = noErr;
  for (int attempt = 0;; attempt++) {
    status = DeliverOutbox(folder, config, options, &report);
    if (status == fBsyErr) {
      Print(client, "waiting for the delivery that is running already");
      options.wait = true;
      status = DeliverOutbox(folder, config, options, &report);
    }
    for (const std::string &note : report.notes) Print(client, note);
    total.delivered += report.delivered;
    total.failed += report.failed;
    total.unconfirmed += report.unconfirmed;
    if (status != noErr || report.deferred == 0 || attempt >= settings.retries) break;
    int wait = std::min(kDeliveryFirstRetrySeconds << attempt, kDeliveryLastRetrySeconds);
    Print(client,
          std::to_string(report.deferred) + " left queued; trying again in " + std::to_string(wait) + " s");
    std::this_thread::sleep_for(std::chrono::seconds(wait));
  }
  total.deferred = report.deferred;
  total.unrouted = report.unrouted;
  total.unconfirmedBefore = report.unconfirmedBefore;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char timing[96];
  std::snprintf(timing, sizeof timing, " in %.1f s", seconds);
  if (total.delivered >= 100 && seconds > 0)  // a rate of a handful says nothing
    std::snprintf(timing, sizeof timing, " in %.1f s (%.0f messages/s)", seconds, total.delivered / seconds);
  Print(client, DeliverySummary(total) + timing);
  if (status != noErr)
    Print(client, "delivery stopped by a file error " + std::to_string(status) + " in " + folder);
  return status == noErr && total.failed == 0 && total.deferred == 0 && total.unconfirmed == 0 &&
         total.unrouted == 0;
}

}  // namespace

void DeliverUsage(std::FILE *out) {
  std::fprintf(out,
               "usage: quillcast deliver [CLIENT] [--retries N] [--timeout SECONDS]\n"
               "  Delivers the outbox of CLIENT (every client with a server, by default) to the SMTP\n"
               "  servers named by the smtp lines of its accounts.conf, until nothing more can go.\n"
               "  A temporary failure is tried again N times (default 3), waiting 1, 2, 4, ... s;\n"
               "  SECONDS bounds connecting and each answer of a server (default 60). Exit status 0\n"
               "  when everything was delivered, 1 when something was refused, left queued or left\n"
               "  unconfirmed, 2 for a usage error.\n");
}

int DeliverCommand(int argc, char **argv) {
  Settings settings;
  if (!ParseArguments(argc, argv, &settings)) {
    DeliverUsage(stderr);
    return kUsageError;
  }
  if (!MachineUsable()) return kUsageError;
  std::string data = MachineHome() + "/Data";
  if (settings.clients.empty()) settings.clients = ClientsWithServers(data);
  if (settings.clients.empty()) {
    std::fprintf(stderr, "quillcast: no client in %s has a server (an smtp line in its %s)\n", data.c_str(),
                 kMailConfigFileName);
    return 1;
  }
  bool allDelivered = true;
  for (const std::string &client : settings.clients) {
    std::string folder = std::string(data).append("/").append(client);
    struct stat info;
    if (client.find('/') != std::string::npos || client[0] == '.' || stat(folder.c_str(), &info) != 0 ||
        !S_ISDIR(info.st_mode)) {
      std::fprintf(stderr, "quillcast: no client named %s on this machine (no folder %s)\n", client.c_str(),
                   folder.c_str());
      return kUsageError;
    }
    allDelivered = DeliverClient(client, folder, settings) && allDelivered;
  }
  return allDelivered ? 0 : 1;
}

}  // namespace host
