// Core Foundation strings and bundles, as far as a plug-in needs them to find its own
// resource file.
//
// The bundle. The calling code's bundle is the folder .../Name.bundle that holds the shared
// object this layer is linked into (Contents/MacOS/Name). When this layer is linked into a
// program instead of a bundle (tests, tools), the environment variable QUILLCAST_BUNDLE
// names the bundle folder. A bundle's identifier is CFBundleIdentifier in its
// Contents/Info.plist; its resource file is Contents/Resources/<CFBundleExecutable>.rsrc.
//
// Strings. CFSTR("...") gives a constant string that lives for the whole process. Bundle
// references from CFBundleGetBundleWithIdentifier are not the caller's: they are never
// released.
#pragma once

#include "MacTypes.h"
#include "Resources.h"

typedef const void *CFStringRef;  // the same type as in LaunchServices.h
typedef const struct CarbonBundle *CFBundleRef;
typedef UInt32 CFStringEncoding;
typedef SInt32 CFBundleRefNum;

enum : CFStringEncoding { kCFStringEncodingMacRoman = 0, kCFStringEncodingUTF8 = 0x08000100 };

// A constant string for a C string literal: interned, never released.
CFStringRef CarbonConstantString(const char *cString);
#define CFSTR(cStr) CarbonConstantString("" cStr "")

// The characters of a string made by CFSTR, or null for anything else.
const char *CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding);

// The calling code's bundle if its identifier matches bundleID exactly, else null.
CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID);
CFStringRef CFBundleGetIdentifier(CFBundleRef bundle);

// Opens the bundle's resource file (CarbonOpenResourceFile: it becomes the current file)
// and returns its reference number, or -1 when the bundle has none or it cannot be read.
CFBundleRefNum CFBundleOpenBundleResourceMap(CFBundleRef bundle);
void CFBundleCloseBundleResourceMap(CFBundleRef bundle, CFBundleRefNum refNum);

// This layer's own: the bundle folder found for the calling code ("" when none), valid for
// the life of the process.
const char *CarbonBundlePath();
