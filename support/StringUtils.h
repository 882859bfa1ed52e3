// String utilities: comparison, search and copying over Str255 strings (a length byte and up
// to 255 characters, no terminator) and over character runs (a pointer and a length of at
// most 255). Comparison and search take an `exact` flag: non-zero compares byte for byte,
// zero folds both sides through `upperChar` first.
//
// Nothing here allocates; destinations are the caller's Str255 buffers (256 bytes).
#pragma once

#include <MacTypes.h>

#include <array>

// Each byte's comparison form: a-z and a few Mac OS Roman letters fold to upper case.
extern const std::array<UInt8, 256> upperChar;

// -1, 0 or +1: A against B over the shorter length, then by length.
SInt16 RelativeChars(const UInt8 *a, UInt8 aLength, const UInt8 *b, UInt8 bLength, Boolean exact);
SInt16 RelativeString(ConstStr255Param a, ConstStr255Param b, Boolean exact);
// True when A and B have the same length and the same bytes. Lengths of any size count
// whole, so a name never matches a longer one that merely starts with it.
Boolean EqualChars(const UInt8 *a, UInt32 aLength, const UInt8 *b, UInt32 bLength, Boolean exact);

// One-based position of the first occurrence of the pattern in the text, or 0.
SInt16 FindChars(const UInt8 *pattern, UInt8 patternLength, const UInt8 *text, UInt8 textLength,
                 Boolean exact);
SInt16 FindInString(ConstStr255Param pattern, ConstStr255Param text, Boolean exact);

void CloneChars(const UInt8 *source, UInt8 length, StringPtr destination);
void CloneString(ConstStr255Param source, StringPtr destination);

// Appends and inserts stop at 255 characters; they return the count actually copied.
SInt16 AppendChars(StringPtr destination, const UInt8 *source, UInt8 length);
SInt16 AppendString(StringPtr destination, ConstStr255Param source);
SInt16 InsertChars(const UInt8 *source, UInt8 length, StringPtr destination, UInt8 position);
SInt16 InsertString(ConstStr255Param source, StringPtr destination, UInt8 position);

// Removes count characters after the first position ones; both are clipped to the string.
void RemoveFromString(StringPtr string, UInt8 position, UInt8 count);
