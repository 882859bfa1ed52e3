#include "apps/mailstore/MacFileFormats.h"

#include <Endian.h>
#include <gmime/gmime.h>

#include <vector>

#include "apps/mailstore/MailText.h"

namespace {

constexpr size_t kMaxMacName = 63;
constexpr size_t kFinderInfoSize = 32;
constexpr size_t kAppleFileHeaderSize = 26;
constexpr size_t kAppleFileEntrySize = 12;
constexpr uint8_t kRunMarker = 0x90;
constexpr size_t kBinHexLine = 64;
constexpr char kBinHexDigits[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";

std::string MacName(const std::string &utf8) {
  std::string name = UTF8ToMacRoman(utf8);
  if (name.size() > kMaxMacName) name.resize(kMaxMacName);
  return name;
}

void AppendBigEndian16(std::string *out, uint16_t value) {
  char bytes[2];
  PutBigEndian16(bytes, value);
  out->append(bytes, 2);
}

void AppendBigEndian32(std::string *out, uint32_t value) {
  char bytes[4];
  PutBigEndian32(bytes, value);
  out->append(bytes, 4);
}

// Type, creator, and zeros for the flags, location, folder and extended information.
std::string FinderInfo(const MacFileInfo &file) {
  std::string info;
  AppendBigEndian32(&info, file.type);
  AppendBigEndian32(&info, file.creator);
  info.resize(kFinderInfoSize, '\0');
  return info;
}

// A byte followed by its CRC, the unit BinHex is made of.
void AppendWithCRC(std::string *out, std::string_view bytes) {
  out->append(bytes);
  AppendBigEndian16(out, BinHexCRC(bytes));
}

// Runs of three to 255 equal bytes become the byte, 0x90 and the count; 0x90 itself is
// written 0x90 0x00.
std::string RunLengthCode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (size_t at = 0; at < bytes.size();) {
    uint8_t byte = uint8_t(bytes[at]);
    size_t run = 1;
    while (at + run < bytes.size() && uint8_t(bytes[at + run]) == byte && run < 255) run++;
    auto literal = [&out, byte] {
      out.push_back(char(byte));
      if (byte == kRunMarker) out.push_back('\0');
    };
    literal();
    if (run == 2) literal();
    if (run >= 3) {
      out.push_back(char(kRunMarker));
      out.push_back(char(run));
    }
    at += run;
  }
  return out;
}

// Six bits a character; the last character carries the remaining bits padded with zeros.
std::string SixBitText(std::string_view bytes) {
  std::string text = ":";
  auto put = [&text](unsigned value) {
    if (text.size() % (kBinHexLine + 1) == kBinHexLine) text.push_back('\n');
    text.push_back(kBinHexDigits[value & 0x3F]);
  };
  uint32_t bits = 0;
  int count = 0;
  for (char c : bytes) {
    bits = (bits << 8) | uint8_t(c);
    count += 8;
    while (count >= 6) {
      count -= 6;
      put(bits >> count);
    }
  }
  if (count > 0) put(bits << (6 - count));
  text += ":\n";
  return text;
}

// The entries of an AppleSingle or AppleDouble file, in this order, with their contents.
struct AppleFileEntry {
  uint32_t id;
  std::string_view bytes;
};

std::string AppleFile(uint32_t magic, const std::vector<AppleFileEntry> &entries) {
  std::string out;
  AppendBigEndian32(&out, magic);
  AppendBigEndian32(&out, kAppleFileVersion);
  out.append(16, '\0');
  AppendBigEndian16(&out, uint16_t(entries.size()));
  size_t offset = kAppleFileHeaderSize + kAppleFileEntrySize * entries.size();
  for (const AppleFileEntry &entry : entries) {
    AppendBigEndian32(&out, entry.id);
    AppendBigEndian32(&out, uint32_t(offset));
    AppendBigEndian32(&out, uint32_t(entry.bytes.size()));
    offset += entry.bytes.size();
  }
  for (const AppleFileEntry &entry : entries) out.append(entry.bytes);
  return out;
}

}  // namespace

uint16_t BinHexCRC(std::string_view bytes, uint16_t crc) {
  for (char c : bytes) {
    crc ^= uint16_t(uint8_t(c) << 8);
    for (int bit = 0; bit < 8; bit++) crc = uint16_t((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

std::string BinHexEncode(const MacFileInfo &file, std::string_view data) {
  std::string name = MacName(file.name);
  std::string header(1, char(name.size()));
  header += name;
  header.push_back('\0');  // version
  AppendBigEndian32(&header, file.type);
  AppendBigEndian32(&header, file.creator);
  AppendBigEndian16(&header, 0);  // Finder flags
  AppendBigEndian32(&header, uint32_t(data.size()));
  AppendBigEndian32(&header, 0);  // resource fork length
  std::string stream;
  stream.reserve(header.size() + data.size() + 6);
  AppendWithCRC(&stream, header);
  AppendWithCRC(&stream, data);
  AppendWithCRC(&stream, {});  // the empty resource fork
  return "(This file must be converted with BinHex 4.0)\n" + SixBitText(RunLengthCode(stream));
}

std::string AppleSingleEncode(const MacFileInfo &file, std::string_view data) {
  std::string name = MacName(file.name), finder = FinderInfo(file);
  return AppleFile(kAppleSingleMagic,
                   {{kAppleFileRealName, name}, {kAppleFileFinderInfo, finder}, {kAppleFileDataFork, data}});
}

std::string AppleDoubleHeader(const MacFileInfo &file) {
  std::string name = MacName(file.name), finder = FinderInfo(file);
  return AppleFile(kAppleDoubleMagic, {{kAppleFileRealName, name}, {kAppleFileFinderInfo, finder}});
}

std::string UUEncode(std::string_view name, std::string_view data) {
  // The begin line stays ASCII, so that the part is 7-bit; the MIME header has the real name.
  std::string text = "begin 644 ";
  for (char c : HeaderValue(name)) text += (static_cast<unsigned char>(c) < 0x80) ? c : '_';
  text += "\n";
  std::vector<unsigned char> out(GMIME_UUENCODE_LEN(data.size()));
  unsigned char line[60];
  int state = 0;
  guint32 save = 0;
  size_t length = g_mime_encoding_uuencode_close(reinterpret_cast<const unsigned char *>(data.data()),
                                                 data.size(), out.data(), line, &state, &save);
  text.append(reinterpret_cast<const char *>(out.data()), length);
  if (!text.empty() && text.back() != '\n') text.push_back('\n');
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "`\n") != 0) text += "`\n";
  return text + "end\n";
}
