// Internal to the carbon layer: the single-byte and Unicode encodings behind the Text
// Encoding Converter and the Apple Event text coercions, one character at a time, so that
// every conversion is exact and needs no system tables. The one Mac OS Roman table of the
// layer lives here.
#pragma once

#include <MacTypes.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace carbon {

enum class Codec { kMacRoman, kUTF8, kUTF16, kLatin1, kWindowsLatin1 };

// Decodes one character from in[0 .. length). Returns the bytes used (> 0), or 0 with
// *status kTECPartialCharErr (the input ends inside a character), kTextMalformedInputErr or
// kTextUndefinedElementErr. length must be > 0.
size_t DecodeCharacter(Codec codec, const uint8_t *in, size_t length, char32_t *character, OSStatus *status);

// Encodes one character into out (room for 4 bytes). Returns the bytes written, or 0 when
// the codec has no such character. Mac OS Roman looks characters up by binary search.
size_t EncodeCharacter(Codec codec, char32_t character, uint8_t *out);

// Mac OS Roman text as UTF-8, for writing to a terminal.
std::string MacRomanToUTF8(const std::string &macRoman);

}  // namespace carbon
