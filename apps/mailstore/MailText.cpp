#include "apps/mailstore/MailText.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>

namespace {

// iconv_open is costly; the descriptor is opened once and reset before each use.
iconv_t MacRomanConverter() {
  static iconv_t converter = iconv_open("UTF-8", "MACINTOSH");
  return converter;
}

std::mutex converterLock;

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
  std::string out(macRoman.size() * 3, '\0');  // no Mac OS Roman byte needs more than 3
  iconv_t converter = MacRomanConverter();
  if (converter == reinterpret_cast<iconv_t>(-1)) return ValidUTF8(macRoman);
  std::lock_guard<std::mutex> guard(converterLock);
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  char *in = const_cast<char *>(macRoman.data());
  size_t inLeft = macRoman.size();
  char *outPtr = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(converter, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) break;
    in++, inLeft--;  // a byte the table lacks is dropped
  }
  out.resize(out.size() - outLeft);
  return out;
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
