#include "apps/mailstore/MailText.h"

#include <MacErrors.h>
#include <TextEncodingConverter.h>

#include <algorithm>
#include <memory>
#include <type_traits>

namespace {

// A Text Encoding Converter between Mac OS Roman and UTF-8, disposed with its owner; null
// when it could not be made (no memory).
using Converter = std::unique_ptr<std::remove_pointer_t<TECObjectRef>, decltype(&TECDisposeConverter)>;

Converter MakeConverter(bool fromMacRoman) {
  TextEncoding roman =
      CreateTextEncoding(kTextEncodingMacRoman, kTextEncodingDefaultVariant, kTextEncodingDefaultFormat);
  TextEncoding utf8 =
      CreateTextEncoding(kTextEncodingUnicodeDefault, kTextEncodingDefaultVariant, kUnicodeUTF8Format);
  TECObjectRef converter = nullptr;
  TECCreateConverter(&converter, fromMacRoman ? roman : utf8, fromMacRoman ? utf8 : roman);
  return Converter(converter, &TECDisposeConverter);
}

// Converts input[*at ..) into out until the end or the first character the converter
// cannot carry over; returns the converter's status and advances *at past what it took.
OSStatus ConvertRun(TECObjectRef converter, std::string_view input, size_t *at, std::string *out,
                    size_t room) {
  size_t written = out->size();
  out->resize(written + room);
  ByteCount used = 0;
  ByteCount made = 0;
  OSStatus status =
      TECConvertText(converter, reinterpret_cast<ConstTextPtr>(input.data() + *at), input.size() - *at, &used,
                     reinterpret_cast<TextPtr>(out->data() + written), room, &made);
  out->resize(written + made);
  *at += used;
  return status;
}

// The length of the UTF-8 sequence at text[i]; 0 when the bytes there are not a
// well-formed sequence.
size_t SequenceLength(std::string_view text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || i + length > text.size()) return 0;
  for (size_t k = 1; k < length; k++)
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  unsigned char second = byte(i + 1);
  if (lead == 0xE0 && second < 0xA0) return 0;   // overlong
  if (lead == 0xED && second >= 0xA0) return 0;  // surrogate
  if (lead == 0xF0 && second < 0x90) return 0;   // overlong
  if (lead == 0xF4 && second >= 0x90) return 0;  // past U+10FFFF
  return length;
}

}  // namespace

// Every Mac OS Roman byte is a character of the Basic Multilingual Plane: three bytes of
// UTF-8 at the most.
std::string MacRomanToUTF8(std::string_view macRoman) {
  // ASCII is the same in both, and most texts are nothing else: no converter needed.
  if (std::all_of(macRoman.begin(), macRoman.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::string(macRoman);
  Converter converter = MakeConverter(true);
  if (converter == nullptr) return ValidUTF8(macRoman);
  std::string out;
  size_t at = 0;
  ConvertRun(converter.get(), macRoman, &at, &out, macRoman.size() * 3);
  return out;
}

// A character Mac OS Roman lacks takes at least as many bytes as the '?' that stands for it,
// so the text never grows.
std::string UTF8ToMacRoman(std::string_view utf8) {
  std::string valid = ValidUTF8(utf8);
  Converter converter = MakeConverter(false);
  if (converter == nullptr) return valid;
  std::string out;
  size_t at = 0;
  while (at < valid.size() &&
         ConvertRun(converter.get(), valid, &at, &out, valid.size() - at) == kTECUnmappableElementErr) {
    out += '?';
    at += SequenceLength(valid, at);
  }
  return out;
}

// Runs of ASCII, most of any text, are copied whole.
std::string ValidUTF8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t run = 0;  // start of the valid bytes not yet copied
  for (size_t i = 0; i < bytes.size();) {
    size_t length = static_cast<unsigned char>(bytes[i]) < 0x80 ? 1 : SequenceLength(bytes, i);
    if (length > 0) {
      i += length;
      continue;
    }
    out.append(bytes.substr(run, i - run));
    out += "\xEF\xBF\xBD";
    run = ++i;
  }
  out.append(bytes.substr(run));
  return out;
}

std::string UnixLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    size_t cr = std::min(text.find('\r', at), text.size());
    out.append(text.substr(at, cr - at));
    if (cr == text.size()) break;
    out += '\n';
    at = cr + 1 < text.size() && text[cr + 1] == '\n' ? cr + 2 : cr + 1;
  }
  return out;
}

std::string HeaderValue(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    out += (u < 0x20 || u == 0x7F) ? ' ' : c;
  }
  size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return out.substr(first, out.find_last_not_of(' ') - first + 1);
}
