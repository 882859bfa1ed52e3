// The host's text at the external's boundary: the external's text is Mac OS Roman, files
// people write are UTF-8. The conversion goes through the carbon layer's Text Encoding
// Converter, whose Mac OS Roman table is Unicode's published mapping.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace host {

// Converts UTF-8 to Mac OS Roman into *roman, each character Mac OS Roman cannot hold and
// each run of bytes that are not UTF-8 written as "?". False when there was one: *problem
// then names the first ("U+2603 '☃'", or "bytes that are not UTF-8: \xC3\x28") and *offset
// is its byte offset in utf8.
bool ToMacRoman(std::string_view utf8, std::string *roman, std::string *problem, size_t *offset);

// Mac OS Roman to UTF-8; every byte has a character.
std::string FromMacRoman(std::string_view roman);

}  // namespace host
