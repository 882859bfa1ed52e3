// Folder Manager: the special folders of the emulated machine under QUILLCAST_HOME.
#include "CarbonPaths.h"

#include <Folders.h>
#include <MacErrors.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
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

std::string AbsoluteHome() {
  std::string home = carbon::HomeFolder();
  if (home.empty() || home[0] != '/') {
    char cwd[4096];
    home = std::string(getcwd(cwd, sizeof cwd) ? cwd : "") + "/" + home;
  }
  return home;
}

}  // namespace

OSErr FindFolder(int16_t, OSType folderType, Boolean createFolder, int16_t *foundVRefNum, long *foundDirID) {
  const char *name = FolderName(folderType);
  if (name == nullptr) return fnfErr;
  std::string folder = AbsoluteHome() + "/" + name;
  struct stat info;
  if (stat(folder.c_str(), &info) != 0) {
    if (!createFolder) return fnfErr;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errno == EACCES ? permErr : ioErr;
  } else if (!S_ISDIR(info.st_mode)) {
    return dirNFErr;
  }
  FSSpec spec;
  OSErr status = carbon::PathToFSSpec(folder, &spec);
  if (status != noErr) return status;
  *foundVRefNum = spec.vRefNum;
  *foundDirID = carbon::DirIDForPath(folder);
  return noErr;
}

const char *CarbonHomeFolder() {
  homeFolder = AbsoluteHome();
  return homeFolder.c_str();
}
