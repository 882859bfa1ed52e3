// The envelope of a stored message, from its header block and its envelope file (the input
// split at its first NUL): any bytes parse, and no recipient is empty or given twice.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "apps/mailstore/MailDelivery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view input(reinterpret_cast<const char *>(data), size);
  size_t split = input.find('\0');
  std::string_view head = input.substr(0, split);
  std::string_view envelopeFile =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  MailEnvelope envelope = ParseMailEnvelope(head, envelopeFile);
  std::vector<std::string> sorted = envelope.recipients;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) std::abort();
  for (const std::string &address : sorted)
    if (address.empty()) std::abort();
  return 0;
}
