#include "apps/mailstore/MailText.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>

namespace {

// iconv_open is costly; each descriptor is opened once and reset before each use.
iconv_t MacRomanConverter() {
  static iconv_t converter = iconv_open("UTF-8", "MACINTOSH");
  return converter;
}

iconv_t MacRomanEncoder() {
  static iconv_t converter = iconv_open("MACINTOSH//TRANSLIT", "UTF-8");
  return converter;
}

std::mutex converterLock;

// iconv's answer for a descriptor that could not be opened.
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)

// Runs the whole input through converter; a character it refuses is skipped (with the
// continuation bytes of its UTF-8 sequence when the input is UTF-8), and replacement
// written in its place. The output grows as needed (transliteration can lengthen a text).
std::string Convert(iconv_t converter, std::string_view input, bool utf8Input, std::string_view replacement) {
  std::string out(input.size() * 2 + 16, '\0');
  std::lock_guard<std::mutex> guard(converterLock);
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  char *in = const_cast<char *>(input.data());
  size_t inLeft = input.size();
  size_t written = 0;
  while (inLeft > 0) {
    char *outPtr = out.data() + written;
    size_t outLeft = out.size() - written;
    size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    int error = errno;
    written = out.size() - outLeft;
    if (result != static_cast<size_t>(-1)) break;
    if (error == E2BIG || out.size() - written < replacement.size()) out.resize(out.size() * 2);
    if (error == E2BIG) continue;
    if (error != EILSEQ && error != EINVAL) break;
    do in++, inLeft--;
    while (utf8Input && inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
    replacement.copy(out.data() + written, replacement.size());
    written += replacement.size();
  }
  out.resize(written);
  return out;
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

std::string MacRomanToUTF8(std::string_view macRoman) {
  iconv_t converter = MacRomanConverter();
  if (converter == kNoConverter) return ValidUTF8(macRoman);
  return Convert(converter, macRoman, false, {});
}

std::string UTF8ToMacRoman(std::string_view utf8) {
  iconv_t converter = MacRomanEncoder();
  std::string valid = ValidUTF8(utf8);
  if (converter == kNoConverter) return valid;
  return Convert(converter, valid, true, "?");
}

std::string ValidUTF8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    size_t length = SequenceLength(bytes, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      i++;
    } else {
      out.append(bytes.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::string UnixLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '\r') {
      out += text[i];
    } else {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') i++;
    }
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
