// Fuzzes the template reader: any bytes either are refused with a message that names the
// file, or give parts in file order whose options are values the external knows, and whose
// placeholders lie inside their text.
#include <cstdint>
#include <cstring>
#include <string>

#include "host/MergeTemplate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char *>(data), size);
  host::MergeTemplate letter;
  std::string error;
  if (!host::ParseMergeTemplate("fuzz.txt", bytes, &letter, &error)) {
    if (error.rfind("fuzz.txt:", 0) != 0) __builtin_trap();
    return 0;
  }
  int previous = 0;
  for (const host::TemplatePart &part : letter.parts) {
    if (part.line <= previous) __builtin_trap();
    previous = part.line;
    if (part.header == host::TemplateHeader::html && part.text != "true" && part.text != "false")
      __builtin_trap();
    if (part.header == host::TemplateHeader::encoding) {
      bool known = false;
      for (const char *name : host::kEncodingNames) known = known || part.text == name;
      if (!known) __builtin_trap();
    }
    for (const host::Placeholder &place : host::FindPlaceholders(part.text)) {
      if (place.offset + place.length > part.text.size() || place.length != place.name.size() + 2)
        __builtin_trap();
    }
  }
  return 0;
}
