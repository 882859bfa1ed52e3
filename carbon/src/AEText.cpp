// Text encodings that the coercions and AEPrint know: Mac OS Roman ('TEXT'), UTF-8 ('utf8')
// and UTF-16 in native order ('utxt'). Mac OS Roman follows Unicode's ROMAN.TXT mapping, with
// the euro sign at 0xDB.
#include "AEStorage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace ae {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Unicode of the Mac OS Roman bytes 0x80-0xFF; 0x00-0x7F are ASCII.
constexpr uint16_t kRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // A0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // A8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // B0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,  // B8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // C0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // C8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // D0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,  // D8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // E0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // E8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // F0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // F8
};

// The reverse table, sorted by Unicode value: {unicode, byte}.
const std::array<std::pair<uint16_t, uint8_t>, 128> &RomanReverse() {
  static const auto table = [] {
    std::array<std::pair<uint16_t, uint8_t>, 128> t{};
    for (int i = 0; i < 128; i++) t[i] = {kRomanHigh[i], uint8_t(0x80 + i)};
    std::sort(t.begin(), t.end());
    return t;
  }();
  return table;
}

char RomanFor(char32_t c) {
  if (c < 0x80) return char(c);
  const auto &table = RomanReverse();
  auto it = std::lower_bound(table.begin(), table.end(), std::pair<uint16_t, uint8_t>(uint16_t(c), 0));
  if (c > 0xFFFF || it == table.end() || it->first != c) return '?';
  return char(it->second);
}

// One UTF-8 sequence at bytes[*i]; advances *i. Overlong forms, surrogates and values past
// U+10FFFF are malformed.
char32_t NextUTF8(const uint8_t *bytes, size_t size, size_t *i) {
  uint8_t lead = bytes[(*i)++];
  if (lead < 0x80) return lead;
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (extra < 0 || lead > 0xF4) return kReplacement;
  char32_t c = lead & (0x3F >> extra);
  for (int k = 0; k < extra; k++) {
    if (*i >= size || (bytes[*i] & 0xC0) != 0x80) return kReplacement;
    c = (c << 6) | (bytes[(*i)++] & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kReplacement;
  return c;
}

void DecodeUTF16(const uint8_t *bytes, size_t size, std::u32string *text) {
  size_t n = size / 2;
  auto unit = [&](size_t k, bool swap) {
    uint16_t u;
    std::memcpy(&u, bytes + 2 * k, 2);
    return swap ? uint16_t((u >> 8) | (u << 8)) : u;
  };
  size_t k = 0;
  bool swap = false;
  if (n > 0 && (unit(0, false) == 0xFEFF || unit(0, false) == 0xFFFE)) swap = unit(k++, false) == 0xFFFE;
  while (k < n) {
    char32_t u = unit(k++, swap);
    if (u >= 0xD800 && u <= 0xDBFF && k < n && unit(k, swap) >= 0xDC00 && unit(k, swap) <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (unit(k++, swap) - 0xDC00);
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = kReplacement;
    }
    text->push_back(u);
  }
  if (size % 2 != 0) text->push_back(kReplacement);
}

void AppendUTF8(char32_t c, std::string *out) {
  if (c < 0x80) {
    out->push_back(char(c));
  } else if (c < 0x800) {
    out->push_back(char(0xC0 | (c >> 6)));
    out->push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(char(0xE0 | (c >> 12)));
    out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(char(0x80 | (c & 0x3F)));
  } else {
    out->push_back(char(0xF0 | (c >> 18)));
    out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(char(0x80 | (c & 0x3F)));
  }
}

void AppendUTF16(char32_t c, std::string *out) {
  auto put = [out](uint16_t u) { out->append(reinterpret_cast<const char *>(&u), 2); };
  if (c < 0x10000) {
    put(uint16_t(c));
  } else {
    put(uint16_t(0xD800 + ((c - 0x10000) >> 10)));
    put(uint16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
  }
}

}  // namespace

bool IsTextType(DescType type) {
  return type == typeChar || type == typeUTF8Text || type == typeUnicodeText;
}

void DecodeText(DescType type, const uint8_t *bytes, size_t size, std::u32string *text) {
  text->clear();
  if (type == typeUnicodeText) {
    DecodeUTF16(bytes, size, text);
    return;
  }
  text->reserve(size);
  for (size_t i = 0; i < size;) {
    if (type == typeUTF8Text) {
      text->push_back(NextUTF8(bytes, size, &i));
    } else {
      uint8_t b = bytes[i++];
      text->push_back(b < 0x80 ? char32_t(b) : char32_t(kRomanHigh[b - 0x80]));
    }
  }
}

void EncodeText(DescType type, const std::u32string &text, std::string *bytes) {
  bytes->clear();
  for (char32_t c : text) {
    if (type == typeUTF8Text) {
      AppendUTF8(c, bytes);
    } else if (type == typeUnicodeText) {
      AppendUTF16(c, bytes);
    } else {
      bytes->push_back(RomanFor(c));
    }
  }
}

}  // namespace ae
