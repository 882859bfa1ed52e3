// Text as it arrives in the clients' events, made fit for a message on disk: Mac OS Roman
// to UTF-8, untrusted UTF-8 made valid, CR line ends made LF, and header values kept on
// one line. Every function returns a new string; none fails.
#pragma once

#include <string>
#include <string_view>

// Mac OS Roman bytes to UTF-8 (through iconv's "MACINTOSH" table; every byte maps).
std::string MacRomanToUTF8(std::string_view macRoman);

// UTF-8 to Mac OS Roman, for texts a client answers with ('TEXT'). A character the
// table lacks becomes an approximation where iconv knows one, otherwise "?".
std::string UTF8ToMacRoman(std::string_view utf8);

// Bytes that claim to be UTF-8: invalid or overlong sequences and surrogates each become
// U+FFFD, so that what is written is always valid UTF-8.
std::string ValidUTF8(std::string_view bytes);

// CR and CRLF line ends become LF (the line end of a message file on this system).
std::string UnixLineEnds(std::string_view text);

// A value for a header field: every control character (CR and LF included) becomes a
// blank, so that no text can start a header line of its own; ends are trimmed.
std::string HeaderValue(std::string_view text);
