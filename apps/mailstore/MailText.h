// Text as it arrives in the clients' events, made fit for a message on disk: Mac OS Roman
// to UTF-8, untrusted UTF-8 made valid, CR line ends made LF, and header values kept on
// one line. Every function returns a new string; none fails.
#pragma once

#include <string>
#include <string_view>

// Mac OS Roman bytes to UTF-8 by the carbon layer's Text Encoding Converter, which follows
// Unicode's mapping table (0xC6 is U+2206, 0xDB the euro sign, 0xF0 U+F8FF); every byte maps.
std::string MacRomanToUTF8(std::string_view macRoman);

// UTF-8 to Mac OS Roman, for texts a client answers with ('TEXT'), by the same table.
// Invalid UTF-8 and every character Mac OS Roman lacks become "?".
std::string UTF8ToMacRoman(std::string_view utf8);

// Bytes that claim to be UTF-8: invalid or overlong sequences and surrogates each become
// U+FFFD, so that what is written is always valid UTF-8.
std::string ValidUTF8(std::string_view bytes);

// CR and CRLF line ends become LF (the line end of a message file on this system).
std::string UnixLineEnds(std::string_view text);

// A value for a header field: every control character (CR and LF included) becomes a
// blank, so that no text can start a header line of its own; ends are trimmed.
std::string HeaderValue(std::string_view text);
