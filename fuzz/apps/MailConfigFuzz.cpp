// The accounts file of a stand-in email client: any bytes parse, every account found has
// a name and an address, and the limits hold.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "apps/mailstore/MailConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  MailConfig config;
  std::vector<int> badLines;
  int bad = ParseMailConfig(std::string_view(reinterpret_cast<const char *>(data), size), &config, &badLines);
  if (bad != static_cast<int>(badLines.size()) || config.accounts.size() > kMailConfigMaxAccounts)
    std::abort();
  for (const MailAccount &account : config.accounts)
    if (account.name.empty() || account.from.address.empty()) std::abort();
  for (const MailServer &server : config.servers)
    if (!server.url.empty() && !ValidServerURL(server.url)) std::abort();
  return 0;
}
