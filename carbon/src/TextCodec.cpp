// Character codecs. Mac OS Roman follows Unicode's mapping table for it (0xC6 is U+2206
// INCREMENT, 0xF0 the Apple logo U+F8FF, 0xDB the euro sign); Windows Latin 1 leaves its
// five unassigned bytes undefined.
#include "TextCodec.h"

#include <MacErrors.h>

#include <algorithm>
#include <array>
#include <utility>

namespace carbon {

namespace {

constexpr char16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

// kMacRomanHigh sorted by character, {character, byte}: every coercion to 'TEXT' looks up
// each character of its text here.
constexpr auto kMacRomanByCharacter = [] {
  std::array<std::pair<char16_t, uint8_t>, 128> table{};
  for (size_t i = 0; i < table.size(); i++) table[i] = {kMacRomanHigh[i], uint8_t(0x80 + i)};
  std::sort(table.begin(), table.end());
  return table;
}();

// 0x80 .. 0x9F of Windows Latin 1; 0 marks an unassigned byte.
constexpr char16_t kWindowsLatin1Controls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

size_t DecodeUTF8(const uint8_t *in, size_t length, char32_t *character, OSStatus *status) {
  uint8_t lead = in[0];
  size_t need = lead < 0x80                   ? 1
                : lead >= 0xC2 && lead < 0xE0 ? 2
                : lead >= 0xE0 && lead < 0xF0 ? 3
                : lead >= 0xF0 && lead < 0xF5 ? 4
                                              : 0;
  if (need == 0) {
    *status = kTextMalformedInputErr;
    return 0;
  }
  char32_t value = need == 1 ? lead : lead & (0x7F >> need);
  for (size_t i = 1; i < need; i++) {
    if (i >= length) {
      *status = kTECPartialCharErr;
      return 0;
    }
    if ((in[i] & 0xC0) != 0x80) {
      *status = kTextMalformedInputErr;
      return 0;
    }
    value = (value << 6) | (in[i] & 0x3F);
  }
  bool overlong = (need == 3 && value < 0x800) || (need == 4 && value < 0x10000);
  if (overlong || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) {
    *status = kTextMalformedInputErr;
    return 0;
  }
  *character = value;
  return need;
}

size_t DecodeUTF16(const uint8_t *in, size_t length, char32_t *character, OSStatus *status) {
  char16_t first;
  char16_t second;
  if (length < 2) {
    *status = kTECPartialCharErr;
    return 0;
  }
  __builtin_memcpy(&first, in, 2);
  if (first < 0xD800 || first >= 0xE000) {
    *character = first;
    return 2;
  }
  if (first >= 0xDC00) {
    *status = kTextMalformedInputErr;
    return 0;
  }
  if (length < 4) {
    *status = kTECPartialCharErr;
    return 0;
  }
  __builtin_memcpy(&second, in + 2, 2);
  if (second < 0xDC00 || second >= 0xE000) {
    *status = kTextMalformedInputErr;
    return 0;
  }
  *character = 0x10000 + ((char32_t(first) - 0xD800) << 10) + (char32_t(second) - 0xDC00);
  return 4;
}

size_t EncodeUTF8(char32_t c, uint8_t *out) {
  if (c < 0x80) {
    out[0] = uint8_t(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = uint8_t(0xC0 | (c >> 6));
    out[1] = uint8_t(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = uint8_t(0xE0 | (c >> 12));
    out[1] = uint8_t(0x80 | ((c >> 6) & 0x3F));
    out[2] = uint8_t(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = uint8_t(0xF0 | (c >> 18));
  out[1] = uint8_t(0x80 | ((c >> 12) & 0x3F));
  out[2] = uint8_t(0x80 | ((c >> 6) & 0x3F));
  out[3] = uint8_t(0x80 | (c & 0x3F));
  return 4;
}

size_t EncodeUTF16(char32_t c, uint8_t *out) {
  char16_t units[2];
  size_t count = 1;
  if (c < 0x10000) {
    units[0] = char16_t(c);
  } else {
    units[0] = char16_t(0xD800 + ((c - 0x10000) >> 10));
    units[1] = char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    count = 2;
  }
  __builtin_memcpy(out, units, count * 2);
  return count * 2;
}

size_t EncodeMacRoman(char32_t c, uint8_t *out) {
  if (c < 0x80) {
    out[0] = uint8_t(c);
    return 1;
  }
  auto it = std::lower_bound(kMacRomanByCharacter.begin(), kMacRomanByCharacter.end(), c,
                             [](const auto &entry, char32_t key) { return entry.first < key; });
  if (it == kMacRomanByCharacter.end() || it->first != c) return 0;
  out[0] = it->second;
  return 1;
}

// Encodes through a table of the high half (0x80 upwards, `size` entries).
size_t EncodeByTable(const char16_t *table, size_t size, char32_t c, uint8_t *out) {
  for (size_t i = 0; i < size; i++) {
    if (table[i] != 0 && table[i] == c) {
      out[0] = uint8_t(0x80 + i);
      return 1;
    }
  }
  return 0;
}

}  // namespace

size_t DecodeCharacter(Codec codec, const uint8_t *in, size_t length, char32_t *character, OSStatus *status) {
  switch (codec) {
    case Codec::kUTF8:
      return DecodeUTF8(in, length, character, status);
    case Codec::kUTF16:
      return DecodeUTF16(in, length, character, status);
    case Codec::kMacRoman:
      *character = in[0] < 0x80 ? in[0] : kMacRomanHigh[in[0] - 0x80];
      return 1;
    case Codec::kWindowsLatin1:
      if (in[0] >= 0x80 && in[0] < 0xA0) {
        *character = kWindowsLatin1Controls[in[0] - 0x80];
        if (*character == 0) *status = kTextUndefinedElementErr;
        return *character == 0 ? 0 : 1;
      }
      [[fallthrough]];
    case Codec::kLatin1:
      *character = in[0];
      return 1;
  }
  return 0;
}

size_t EncodeCharacter(Codec codec, char32_t character, uint8_t *out) {
  switch (codec) {
    case Codec::kUTF8:
      return EncodeUTF8(character, out);
    case Codec::kUTF16:
      return EncodeUTF16(character, out);
    case Codec::kMacRoman:
      return EncodeMacRoman(character, out);
    case Codec::kWindowsLatin1:
      if (character < 0x80 || (character >= 0xA0 && character < 0x100)) break;
      return EncodeByTable(kWindowsLatin1Controls, 32, character, out);
    case Codec::kLatin1:
      if (character >= 0x100) return 0;
      break;
  }
  out[0] = uint8_t(character);
  return 1;
}

std::string MacRomanToUTF8(const std::string &macRoman) {
  std::string text;
  for (unsigned char byte : macRoman) {
    uint8_t bytes[4];
    char32_t c = byte < 0x80 ? byte : kMacRomanHigh[byte - 0x80];
    text.append(reinterpret_cast<char *>(bytes), EncodeUTF8(c, bytes));
  }
  return text;
}

}  // namespace carbon
