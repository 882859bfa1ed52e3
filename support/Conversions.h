// Conversions between the text forms that meet in the plug-in, and thin handle wrappers.
//
// Host strings are NUL-terminated; those returned to the host are allocated with malloc,
// because the host releases them with the system's free. Length-prefixed strings (Str255)
// are the platform's text form. Handle text is bytes followed by a NUL in a handle.
//
// Ownership: every function that returns a host string or a handle hands it to the caller
// (host strings: free; handles: MyDisposeHandle); all of them return null on failure.
#pragma once

#include <MacTypes.h>

// In place over a host string, up to its NUL (a replacement by 0 does not stop the scan).
void ReplaceCharacters(UInt8 from, UInt8 to, char *text);  // null is accepted
// In place over exactly count bytes, NUL bytes included.
void ReplaceOverLength(UInt8 from, UInt8 to, void *bytes, Size count);  // null is accepted

char *BoolToPointer(Boolean flag);  // "true" or "false"
Handle BoolToHandle(Boolean flag);
char *StringToPointer(ConstStr255Param text);
Handle StringToHandle(ConstStr255Param text);
char *LongToPointer(SInt32 value);  // decimal text
Handle LongToHandle(SInt32 value);

// The bytes before the NUL, at most 255 of them, into the caller's 256-byte buffer.
StringPtr PointerToString(const char *text, Str255 out);
StringPtr HandleToString(Handle text, Str255 out);
// The first 255 bytes before the NUL as a signed decimal number (StringToNum's rules).
SInt32 PointerToLong(const char *text);
SInt32 HandleToLong(Handle text);

// A malloc copy of the handle's text; the handle is disposed in every case (null gives null).
char *HandleKillToPointer(Handle text);

Handle MyNewHandle(Size byteCount);
Boolean MySetHandleSize(Handle h, Size byteCount);  // true when resized
UInt32 MyGetHandleSize(Handle text);                // length of the text: bytes before the NUL
void MyDisposeHandle(Handle h);                     // null is accepted

// The union of all screens as "left,top,right,bottom"; a malloc string, null on failure.
char *GetFullScreenRectangle();
