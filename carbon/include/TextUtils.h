// Text Utilities: decimal conversion of numbers and small Pascal-string helpers.
//
// Numbers are 32-bit, as on the original system: NumToString formats the low 32 bits of its
// argument as a signed number, and StringToNum computes a signed 32-bit value with
// wraparound. StringToNum never fails and is deterministic for any text: an optional first
// '-' or '+' sets the sign, and every following byte c adds (c - '0') to ten times the value
// so far, so digits give their decimal value and other bytes give a fixed, meaningless one.
#pragma once

#include "MacTypes.h"

void NumToString(long theNum, Str255 theString);             // e.g. "-42"; no leading zeros
void StringToNum(ConstStr255Param theString, long *theNum);  // *theNum: sign-extended 32 bits

// Copies between C strings and Pascal strings. A C string longer than 255 bytes is cut to
// 255. The destination must hold 256 bytes (Pascal) or length + 1 bytes (C).
void CopyCStringToPascal(const char *src, Str255 dst);
void CopyPascalStringToC(ConstStr255Param src, char *dst);
void c2pstrcpy(Str255 dst, const char *src);
void p2cstrcpy(char *dst, ConstStr255Param src);
