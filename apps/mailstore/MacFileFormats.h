// The Macintosh attachment formats that the stand-in clients write into mail, as byte
// strings: BinHex 4.0 (RFC 1741), AppleSingle and AppleDouble version 2 (RFC 1740), and
// UUEncode. Each keeps what a Macintosh file has beyond its bytes, its name and its Finder
// type and creator, where the format has room for it. None fails; every result is new.
//
// AppleSingle and the AppleDouble header file are laid out as
//   magic (4)  version 0x00020000 (4)  filler (16 zero bytes)  entry count (2)
//   per entry: id (4)  offset from the start of the file (4)  length (4)
// followed by the entries: the real name (id 3), the Finder information (id 9: type,
// creator, 24 zero bytes) and, in AppleSingle only, the data fork (id 1). A file of this
// system has no resource fork, so neither format carries one.
#pragma once

#include <MacTypes.h>

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr uint32_t kAppleSingleMagic = 0x00051600;
inline constexpr uint32_t kAppleDoubleMagic = 0x00051607;
inline constexpr uint32_t kAppleFileVersion = 0x00020000;
inline constexpr uint32_t kAppleFileDataFork = 1;
inline constexpr uint32_t kAppleFileRealName = 3;
inline constexpr uint32_t kAppleFileFinderInfo = 9;

// A file as a Macintosh sees it: name (UTF-8 here; stored as Mac OS Roman), type, creator.
struct MacFileInfo {
  std::string name;
  OSType type = 0;
  OSType creator = 0;
};

// The CRC of BinHex 4.0: CCITT polynomial 0x1021, starting from crc, no reflection (the
// XMODEM CRC; "123456789" gives 0x31C3 from 0).
uint16_t BinHexCRC(std::string_view bytes, uint16_t crc = 0);

// A whole BinHex 4.0 text: the line "(This file must be converted with BinHex 4.0)", then
// the run-length coded header, data fork and empty resource fork, each with its CRC, in the
// format's 6-bit characters between two colons, 64 characters a line. Lines end with LF.
// A name longer than 63 bytes (in Mac OS Roman) is cut there.
std::string BinHexEncode(const MacFileInfo &file, std::string_view data);

// An AppleSingle file holding the data fork.
std::string AppleSingleEncode(const MacFileInfo &file, std::string_view data);

// The header file of an AppleDouble pair: everything but the data fork, which travels beside it.
std::string AppleDoubleHeader(const MacFileInfo &file);

// "begin 644 NAME", the data in uuencoded lines of 45 bytes (by GMime), "`" and "end",
// each line ended with LF. In NAME control characters become blanks and bytes past ASCII "_".
std::string UUEncode(std::string_view name, std::string_view data);
