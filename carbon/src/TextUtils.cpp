// Text Utilities: 32-bit decimal conversions and Pascal-string copies.
#include <TextUtils.h>

#include <cstring>

void NumToString(long theNum, Str255 theString) {
  int32_t value = int32_t(uint32_t(theNum));
  uint32_t magnitude = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
  char digits[12];
  int count = 0;
  do {
    digits[count++] = char('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int length = 0;
  if (value < 0) theString[++length] = '-';
  while (count > 0) theString[++length] = uint8_t(digits[--count]);
  theString[0] = uint8_t(length);
}

void StringToNum(ConstStr255Param theString, long *theNum) {
  size_t length = theString[0];
  size_t at = 1;
  bool negative = false;
  if (length > 0 && (theString[1] == '-' || theString[1] == '+')) {
    negative = theString[1] == '-';
    at = 2;
  }
  uint32_t value = 0;
  for (; at <= length; at++) value = value * 10 + uint32_t(theString[at] - '0');
  if (negative) value = 0u - value;
  *theNum = long(int32_t(value));
}

void CopyCStringToPascal(const char *src, Str255 dst) {
  size_t length = strnlen(src, 255);
  std::memmove(dst + 1, src, length);
  dst[0] = uint8_t(length);
}

void CopyPascalStringToC(ConstStr255Param src, char *dst) {
  size_t length = src[0];
  std::memmove(dst, src + 1, length);
  dst[length] = 0;
}

void c2pstrcpy(Str255 dst, const char *src) {
  CopyCStringToPascal(src, dst);
}
void p2cstrcpy(char *dst, ConstStr255Param src) {
  CopyPascalStringToC(src, dst);
}
