// Internet Config: handing a URL to the user's preferred application. On this platform the
// URL goes to xdg-open (found on the PATH); there are no other preferences.
//
// An instance comes from ICStart and is released by ICStop (the caller's, once each).
#pragma once

#include "MacTypes.h"

typedef struct OpaqueICInstance *ICInstance;

enum : OSStatus {
  icPrefNotFoundErr = -666,
  icPermErr = -667,
  icPrefDataErr = -668,
  icInternalErr = -669,
  icTruncatedErr = -670,
  icNoMoreWritersErr = -671,
  icNothingToOverrideErr = -672,
  icNoURLErr = -673,
  icConfigNotFoundErr = -674,
  icConfigInappropriateErr = -675,
};

// *inst is null on failure.
OSStatus ICStart(ICInstance *inst, OSType signature);
OSStatus ICStop(ICInstance inst);

// Opens the URL found in data[*selStart, *selEnd) (the whole text when the two are equal);
// blanks and angle brackets around it are dropped. hint is a Pascal string such as "mailto:":
// the scheme assumed when the text has none, so that a bare address opens a new message.
// On success *selStart and *selEnd give the part of the text that was used.
// icNoURLErr when the text holds no usable URL; icConfigNotFoundErr when there is nothing to
// open it with; icInternalErr when the opener reported a failure.
OSStatus ICLaunchURL(ICInstance inst, ConstStr255Param hint, const void *data, long len, long *selStart,
                     long *selEnd);
