// Folder Manager: the special folders of the emulated machine, under QUILLCAST_HOME
// (default ~/.quillcast): 'pref' is $QUILLCAST_HOME/Preferences, 'apps' is
// $QUILLCAST_HOME/Applications and 'temp' is $QUILLCAST_HOME/Temporary Items. Any volume or
// domain is accepted for vRefNum. A missing folder is created (mode 0700) with
// kCreateFolder and gives fnfErr without it; an unknown folder type gives fnfErr. A folder
// that is not the user's alone, or one in a refused machine folder (MachineFolder.h), gives
// afpAccessDenied.
#pragma once

#include "Files.h"

enum { kOnSystemDisk = -32768, kOnAppropriateDisk = -32767, kUserDomain = -32763 };
enum { kCreateFolder = 1, kDontCreateFolder = 0 };
enum : OSType {
  kPreferencesFolderType = FourCC("pref"),
  kApplicationsFolderType = FourCC("apps"),
  kTemporaryFolderType = FourCC("temp"),
};

OSErr FindFolder(int16_t vRefNum, OSType folderType, Boolean createFolder, int16_t *foundVRefNum,
                 long *foundDirID);

// The machine folder as an absolute path, created with mode 0700 when missing; empty when
// it is refused (MachineFolder.h says why). The string is this layer's and valid until the
// next call on the same thread.
const char *CarbonHomeFolder();
