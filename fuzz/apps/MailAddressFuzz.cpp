// Recipient lists as they arrive in events, in any bytes, through the parser and the
// Mac OS Roman transcoders; what comes out is valid UTF-8 and a header value stays one line.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "apps/mailstore/MailAddress.h"
#include "apps/mailstore/MailText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char *>(data), size);
  std::string text = MacRomanToUTF8(bytes);
  if (ValidUTF8(text) != text) std::abort();
  UTF8ToMacRoman(bytes);  // answers go back as Mac OS Roman, whatever the bytes
  for (const MailAddress &mailbox : ParseAddressList(ValidUTF8(bytes))) {
    std::string line = HeaderValue(FormatMailbox(mailbox));
    if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos) std::abort();
  }
  return 0;
}
