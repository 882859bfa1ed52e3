#include "host/MacRoman.h"

#include <MacErrors.h>
#include <TextEncodingConverter.h>

#include <algorithm>
#include <cstdio>

namespace host {

namespace {

TextEncoding UTF8() {
  return CreateTextEncoding(kTextEncodingUnicodeDefault, 0, kUnicodeUTF8Format);
}

TextEncoding MacRoman() {
  return CreateTextEncoding(kTextEncodingMacRoman, kMacRomanDefaultVariant, 0);
}

// One converter each way for the life of the process: the host converts on one thread.
TECObjectRef Converter(bool toRoman) {
  static TECObjectRef converters[2] = {nullptr, nullptr};
  TECObjectRef &converter = converters[toRoman ? 1 : 0];
  if (converter == nullptr) {
    TECCreateConverter(&converter, toRoman ? UTF8() : MacRoman(), toRoman ? MacRoman() : UTF8());
  }
  return converter;
}

// The length of the UTF-8 sequence that starts with lead, 0 when lead cannot start one.
size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

std::string Escaped(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += hex;
  }
  return out;
}

// The character at the start of text, which the converter could not map: its code point and
// the character itself, when it is well-formed.
std::string Describe(std::string_view text, OSStatus status) {
  size_t length = text.empty() ? 0 : SequenceLength(static_cast<unsigned char>(text[0]));
  if (status != kTECUnmappableElementErr || length == 0 || length > text.size()) {
    return "bytes that are not UTF-8: " +
           Escaped(text.substr(0, length == 0 ? 1 : std::min(length, text.size())));
  }
  char32_t code = length == 1 ? text[0] : static_cast<unsigned char>(text[0]) & (0x7F >> length);
  for (size_t i = 1; i < length; i++) code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code));
  return std::string(name) + " '" + std::string(text.substr(0, length)) + "'";
}

}  // namespace

bool ToMacRoman(std::string_view utf8, std::string *roman, std::string *problem, size_t *offset) {
  roman->clear();
  std::string part(utf8.size(), '\0');
  bool whole = true;
  for (size_t at = 0; at < utf8.size();) {
    ByteCount used = 0;
    ByteCount made = 0;
    OSStatus status =
        TECConvertText(Converter(true), reinterpret_cast<ConstTextPtr>(utf8.data() + at), utf8.size() - at,
                       &used, reinterpret_cast<TextPtr>(part.data()), part.size(), &made);
    roman->append(part, 0, made);
    at += used;
    if (status == noErr) break;
    if (whole) {
      *offset = at;
      *problem = Describe(utf8.substr(at), status);
      whole = false;
    }
    size_t length = SequenceLength(static_cast<unsigned char>(utf8[at]));
    at += status == kTECUnmappableElementErr && length > 0 ? std::min(length, utf8.size() - at) : 1;
    *roman += '?';
  }
  return whole;
}

std::string FromMacRoman(std::string_view roman) {
  std::string utf8(roman.size() * 3, '\0');
  ByteCount made = 0;
  TECConvertText(Converter(false), reinterpret_cast<ConstTextPtr>(roman.data()), roman.size(), nullptr,
                 reinterpret_cast<TextPtr>(utf8.data()), utf8.size(), &made);
  utf8.resize(made);
  return utf8;
}

}  // namespace host
