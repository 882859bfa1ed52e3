// Text encodings that the coercions and AEPrint know: Mac OS Roman ('TEXT'), UTF-8 ('utf8')
// and UTF-16 in native order ('utxt'), through the layer's codecs (TextCodec.h). Here only
// what the coercions add: a byte-order mark on 'utxt', U+FFFD for malformed input and '?'
// for what Mac OS Roman lacks.
#include "AEStorage.h"
#include "TextCodec.h"

#include <MacErrors.h>

#include <cstring>

namespace ae {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// How much of a malformed UTF-8 sequence one U+FFFD stands for: the lead byte and the
// continuation bytes that follow it, as many as the lead announces.
size_t MalformedUTF8Length(const uint8_t *bytes, size_t size) {
  uint8_t lead = bytes[0];
  if (lead < 0xC0 || lead > 0xF4) return 1;
  size_t announced = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  size_t length = 1;
  while (length < announced && length < size && (bytes[length] & 0xC0) == 0x80) length++;
  return length;
}

void DecodeUTF8(const uint8_t *bytes, size_t size, std::u32string *text) {
  for (size_t i = 0; i < size;) {
    if (bytes[i] < 0x80) {  // most text is ASCII: no call for it
      text->push_back(bytes[i++]);
      continue;
    }
    char32_t c;
    OSStatus status;
    size_t used = carbon::DecodeCharacter(carbon::Codec::kUTF8, bytes + i, size - i, &c, &status);
    if (used == 0) {
      c = kReplacement;
      used = MalformedUTF8Length(bytes + i, size - i);
    }
    text->push_back(c);
    i += used;
  }
}

// A leading byte-order mark is dropped; a swapped one makes every unit read swapped. A lone
// surrogate unit and a final odd byte each decode to U+FFFD.
void DecodeUTF16(const uint8_t *bytes, size_t size, std::u32string *text) {
  size_t even = size & ~size_t(1);
  char16_t mark = 0;
  if (even >= 2) std::memcpy(&mark, bytes, 2);
  bool swap = mark == 0xFFFE;
  for (size_t i = mark == 0xFEFF || swap ? 2 : 0; i < even;) {
    uint8_t units[4];
    size_t length = even - i < 4 ? even - i : 4;
    for (size_t k = 0; k < length; k++) units[k] = bytes[i + (swap ? k ^ 1 : k)];
    char32_t c;
    OSStatus status;
    size_t used = carbon::DecodeCharacter(carbon::Codec::kUTF16, units, length, &c, &status);
    if (used == 0) {
      c = kReplacement;
      used = 2;
    }
    text->push_back(c);
    i += used;
  }
  if (size != even) text->push_back(kReplacement);
}

}  // namespace

bool IsTextType(DescType type) {
  return type == typeChar || type == typeUTF8Text || type == typeUnicodeText;
}

void DecodeText(DescType type, const uint8_t *bytes, size_t size, std::u32string *text) {
  text->clear();
  text->reserve(type == typeUnicodeText ? size / 2 + 1 : size);
  if (type == typeUTF8Text) {
    DecodeUTF8(bytes, size, text);
  } else if (type == typeUnicodeText) {
    DecodeUTF16(bytes, size, text);
  } else {
    for (size_t i = 0; i < size; i++) {
      char32_t c = bytes[i];
      OSStatus status;
      if (c >= 0x80) carbon::DecodeCharacter(carbon::Codec::kMacRoman, bytes + i, 1, &c, &status);
      text->push_back(c);
    }
  }
}

void EncodeText(DescType type, const std::u32string &text, std::string *bytes) {
  carbon::Codec codec = type == typeUTF8Text      ? carbon::Codec::kUTF8
                        : type == typeUnicodeText ? carbon::Codec::kUTF16
                                                  : carbon::Codec::kMacRoman;
  bytes->clear();
  bytes->reserve(text.size());
  for (char32_t c : text) {
    if (c < 0x80 && codec != carbon::Codec::kUTF16) {  // ASCII is itself in Mac OS Roman and UTF-8
      bytes->push_back(char(c));
      continue;
    }
    uint8_t out[4];
    size_t made = carbon::EncodeCharacter(codec, c, out);
    if (made == 0) bytes->push_back('?');
    bytes->append(reinterpret_cast<const char *>(out), made);
  }
}

}  // namespace ae
