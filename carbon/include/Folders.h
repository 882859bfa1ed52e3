// Folder Manager: the special folders of the emulated machine, under QUILLCAST_HOME
// (default ~/.quillcast). The Preferences folder is $QUILLCAST_HOME/Preferences.
#pragma once

#include "Files.h"

enum { kOnSystemDisk = -32768, kOnAppropriateDisk = -32767, kUserDomain = -32763 };
enum { kCreateFolder = 1, kDontCreateFolder = 0 };
enum : OSType {
  kPreferencesFolderType = FourCC("pref"),
  kApplicationsFolderType = FourCC("apps"),
  kTemporaryFolderType = FourCC("temp"),
};

OSErr FindFolder(int16_t vRefNum, OSType folderType, Boolean createFolder, int16_t *foundVRefNum, long *foundDirID);

// QUILLCAST_HOME as an absolute path, created with mode 0700 when missing.
const char *CarbonHomeFolder();
