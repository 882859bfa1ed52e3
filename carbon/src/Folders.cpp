// Folder Manager: the special folders of the emulated machine under QUILLCAST_HOME.
#include "CarbonPaths.h"

#include <Folders.h>
#include <MacErrors.h>
#include <MachineFolder.h>

#include <sys/stat.h>
#include <string>

namespace {

thread_local std::string homeFolder;

const char *FolderName(OSType folderType) {
  switch (folderType) {
    case kPreferencesFolderType:
      return "Preferences";
    case kApplicationsFolderType:
      return "Applications";
    case kTemporaryFolderType:
      return "Temporary Items";
    default:
      return nullptr;
  }
}

}  // namespace

OSErr FindFolder(int16_t, OSType folderType, Boolean createFolder, int16_t *foundVRefNum, long *foundDirID) {
  const char *name = FolderName(folderType);
  if (name == nullptr) return fnfErr;
  std::string home = carbon::MachineFolder();
  if (home.empty()) return afpAccessDenied;
  std::string folder = home + "/" + name;
  struct stat info;
  bool exists = stat(folder.c_str(), &info) == 0;
  if (!exists && !createFolder) return fnfErr;
  if (exists && !S_ISDIR(info.st_mode)) return dirNFErr;
  if (carbon::MachineSubfolder(name).empty()) return afpAccessDenied;
  FSSpec spec;
  OSErr status = carbon::PathToFSSpec(folder, &spec);
  if (status != noErr) return status;
  *foundVRefNum = spec.vRefNum;
  *foundDirID = carbon::DirIDForPath(folder);
  return noErr;
}

const char *CarbonHomeFolder() {
  homeFolder = carbon::MachineFolder();
  return homeFolder.c_str();
}
