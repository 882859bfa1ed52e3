// Launch Services: finding an installed application by creator code on the emulated
// volumes (see Files.h), and registering one that was just installed.
#pragma once

#include "Files.h"

typedef const void *CFStringRef;
typedef const void *CFURLRef;
enum : OSType { kLSUnknownCreator = 0 };

OSStatus LSFindApplicationForInfo(OSType inCreator, CFStringRef inBundleID, CFStringRef inName,
                                  FSRef *outAppRef, CFURLRef *outAppURL);

// Registers the application folder inRef (<Name>.app with Contents/PkgInfo) in the desktop
// database of the volume it is installed on, the folder that holds it; registering again
// replaces its entry. kLSNotAnApplicationErr when the folder has no application's PkgInfo.
OSStatus LSRegisterFSRef(const FSRef *inRef, Boolean inUpdate);
