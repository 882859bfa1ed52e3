// Alias Manager: minimal aliases that name a file by its full path.
//
// An alias is a handle whose bytes travel between processes (as 'alis' data in Apple
// Events), so a reader must take them as untrusted. Only the public head of the record is
// laid out like the original; the rest is this layer's own, all integers big-endian:
//   0  userType      4 bytes   0 for aliases made here
//   4  aliasSize     2 bytes   size of the whole record
//   6  kind          2 bytes   1: a minimal alias of a full path
//   8  pathLength    2 bytes   0-32,767
//  10  path          pathLength bytes, as given (not terminated)
// A minimal alias records the path only: the file need not exist when the alias is made,
// and resolving it looks the path up afresh.
//
// Ownership: NewAliasMinimalFromFullPath hands out a new handle (caller disposes with
// DisposeHandle); every other call only reads the alias.
#pragma once

#include "Files.h"
#include "MacTypes.h"

struct AliasRecord {
  OSType userType;
  unsigned short aliasSize;
};
typedef AliasRecord *AliasPtr;
typedef AliasPtr *AliasHandle;

typedef short AliasInfoType;
enum : AliasInfoType {
  asiZoneName = -3,
  asiServerName = -2,
  asiVolumeName = -1,
  asiAliasName = 0,  // the file's own name: the last component of the path
  asiParentName = 1,
};

// A minimal alias of the fullPathLength bytes at fullPath. Zone and server names are not
// recorded (null is accepted). paramErr for a length below 1 or no path; memFullErr.
OSErr NewAliasMinimalFromFullPath(short fullPathLength, const void *fullPath, ConstStr32Param zoneName,
                                  ConstStr31Param serverName, AliasHandle *alias);

// The file the alias names, as an FSRef. fromFile is not needed for full paths (null is
// accepted). paramErr for a damaged or foreign alias; fnfErr (or the File Manager's error)
// when nothing is at the path now. *wasChanged is always false: a minimal alias is never
// updated.
OSErr FSResolveAlias(const FSRef *fromFile, AliasHandle alias, FSRef *target, Boolean *wasChanged);

// One name from the alias, as a Str63: asiAliasName gives the last path component (cut to
// 63 bytes), asiParentName the one before it; every other index, and a path without such a
// component, the empty string. paramErr for a damaged or foreign alias.
OSErr GetAliasInfo(AliasHandle alias, AliasInfoType index, Str63 theString);
