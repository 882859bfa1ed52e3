// Basic Mac OS types of the carbon layer. Widths follow the 32-bit Mac OS where a value is
// stored in a file or sent to another process; pointer-sized words (Size, handles) follow
// this 64-bit platform.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;

typedef int16_t OSErr;
typedef int32_t OSStatus;
typedef uint32_t FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;
typedef uint8_t Boolean;

typedef char *Ptr;
typedef Ptr *Handle;
typedef long Size;
typedef unsigned long ByteCount;
typedef uint16_t UniChar;
typedef unsigned long UniCharCount;
typedef uint32_t TextEncoding;
typedef int16_t ScriptCode;
typedef int16_t LangCode;
typedef int16_t RegionCode;
enum { smSystemScript = -1 };  // the system's script, wherever a ScriptCode is asked for

typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char Str32[33];
typedef unsigned char Str31[32];
typedef unsigned char Str15[16];
typedef unsigned char *StringPtr;
typedef const unsigned char *ConstStringPtr;
typedef const unsigned char *ConstStr255Param;
typedef const unsigned char *ConstStr63Param;
typedef const unsigned char *ConstStr32Param;
typedef const unsigned char *ConstStr31Param;

struct Point {
  int16_t v;
  int16_t h;
};

struct Rect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

enum { noErr = 0 };

// Four-character codes as 32-bit values, first character most significant.
constexpr FourCharCode FourCC(const char (&code)[5]) {
  return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
         (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}
