// Gestalt: facts about the emulated machine, a Mac OS X 10.4.9 system.
#pragma once

#include "MacTypes.h"

enum : OSType {
  gestaltSystemVersion = FourCC("sysv"),        // 0x1049
  gestaltSystemVersionMajor = FourCC("sys1"),   // 10
  gestaltSystemVersionMinor = FourCC("sys2"),   // 4
  gestaltSystemVersionBugFix = FourCC("sys3"),  // 9
  gestaltAppleEventsAttr = FourCC("evnt"),      // bit gestaltAppleEventsPresent set
};
enum { gestaltAppleEventsPresent = 0 };

// noErr with *response set, or gestaltUndefSelectorErr (response untouched) for a selector
// this machine does not know.
OSErr Gestalt(OSType selector, SInt32 *response);
