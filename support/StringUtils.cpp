// String utilities over Str255 strings and short character runs.
#include "support/StringUtils.h"

#include <MacMemory.h>

namespace {

constexpr std::array<UInt8, 256> MakeUpperTable() {
  std::array<UInt8, 256> table{};
  for (int i = 0; i < 256; i++) table[i] = UInt8(i);
  for (int c = 'a'; c <= 'z'; c++) table[c] = UInt8(c - 'a' + 'A');
  // Mac OS Roman letters whose comparison form differs; 0x89 and 0x8C both fold to 0x81.
  constexpr UInt8 pairs[][2] = {{0x88, 0xCB}, {0x89, 0x81}, {0x8A, 0x80}, {0x8B, 0xCC},
                                {0x8C, 0x81}, {0x8D, 0x82}, {0x8E, 0x83}, {0x9A, 0x85},
                                {0x9B, 0xCD}, {0xB9, 0xB8}, {0xBE, 0xAE}, {0xCF, 0xCE}};
  for (const auto &pair : pairs) table[pair[0]] = pair[1];
  return table;
}

inline UInt8 Fold(UInt8 c, Boolean exact) {
  return exact ? c : upperChar[c];
}

// The count that fits when adding `count` characters to a string of `length` characters.
inline UInt8 FittingCount(UInt8 length, UInt8 count) {
  return length + count < 256 ? count : UInt8(255 - length);
}

}  // namespace

constinit const std::array<UInt8, 256> upperChar = MakeUpperTable();

SInt16 RelativeChars(const UInt8 *a, UInt8 aLength, const UInt8 *b, UInt8 bLength, Boolean exact) {
  SInt16 byLength = aLength > bLength ? 1 : (aLength == bLength ? 0 : -1);
  UInt8 n = aLength < bLength ? aLength : bLength;
  for (UInt8 i = 0; i < n; i++) {
    UInt8 x = Fold(a[i], exact);
    UInt8 y = Fold(b[i], exact);
    if (x != y) return x > y ? 1 : -1;
  }
  return byLength;
}

Boolean EqualChars(const UInt8 *a, UInt32 aLength, const UInt8 *b, UInt32 bLength, Boolean exact) {
  if (aLength != bLength) return false;
  for (UInt32 i = 0; i < aLength; i++) {
    if (Fold(a[i], exact) != Fold(b[i], exact)) return false;
  }
  return true;
}

SInt16 RelativeString(ConstStr255Param a, ConstStr255Param b, Boolean exact) {
  return RelativeChars(a + 1, a[0], b + 1, b[0], exact);
}

SInt16 FindChars(const UInt8 *pattern, UInt8 patternLength, const UInt8 *text, UInt8 textLength,
                 Boolean exact) {
  if (patternLength > textLength) return 0;
  for (int start = 0; start + patternLength <= textLength; start++) {
    if (RelativeChars(pattern, patternLength, text + start, patternLength, exact) == 0)
      return SInt16(start + 1);
  }
  return 0;
}

SInt16 FindInString(ConstStr255Param pattern, ConstStr255Param text, Boolean exact) {
  return FindChars(pattern + 1, pattern[0], text + 1, text[0], exact);
}

void CloneChars(const UInt8 *source, UInt8 length, StringPtr destination) {
  BlockMoveData(source, destination + 1, length);
  destination[0] = length;
}

void CloneString(ConstStr255Param source, StringPtr destination) {
  BlockMoveData(source, destination, Size(source[0]) + 1);
}

SInt16 AppendChars(StringPtr destination, const UInt8 *source, UInt8 length) {
  UInt8 count = FittingCount(destination[0], length);
  BlockMoveData(source, destination + 1 + destination[0], count);
  destination[0] = UInt8(destination[0] + count);
  return count;
}

SInt16 AppendString(StringPtr destination, ConstStr255Param source) {
  return AppendChars(destination, source + 1, source[0]);
}

SInt16 InsertChars(const UInt8 *source, UInt8 length, StringPtr destination, UInt8 position) {
  UInt8 current = destination[0];
  if (position > current) position = current;
  UInt8 count = FittingCount(current, length);
  // Open the gap first; the tail is at most 255 - position bytes and stays inside the buffer.
  BlockMove(destination + 1 + position, destination + 1 + position + count, current - position);
  BlockMoveData(source, destination + 1 + position, count);
  destination[0] = UInt8(current + count);
  return count;
}

SInt16 InsertString(ConstStr255Param source, StringPtr destination, UInt8 position) {
  return InsertChars(source + 1, source[0], destination, position);
}

void RemoveFromString(StringPtr string, UInt8 position, UInt8 count) {
  UInt8 length = string[0];
  if (position > length) position = length;
  if (count > length - position) count = UInt8(length - position);
  BlockMove(string + 1 + position + count, string + 1 + position, length - position - count);
  string[0] = UInt8(length - count);
}
