// Launch Services: finding an installed application by creator code on the emulated
// volumes (see Files.h).
#pragma once

#include "Files.h"

typedef const void *CFStringRef;
typedef const void *CFURLRef;
enum : OSType { kLSUnknownCreator = 0 };

OSStatus LSFindApplicationForInfo(OSType inCreator, CFStringRef inBundleID, CFStringRef inName, FSRef *outAppRef,
                                  CFURLRef *outAppURL);
