// Launch Services: finds an installed application by creator code among the application
// folders (<Name>.app with a PkgInfo) at the top of each emulated volume other than the
// system disk, in volume order and then by name. Setting QUILLCAST_LS_DISABLED=1 makes every
// search fail, so that the desktop-database search behind it can be exercised.
// LSRegisterFSRef writes the desktop database that the search behind it reads.
#include "CarbonPaths.h"
#include "DesktopDatabase.h"

#include <LaunchServices.h>
#include <MacErrors.h>

#include <dirent.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace carbon {
namespace {

bool Disabled() {
  const char *flag = std::getenv("QUILLCAST_LS_DISABLED");
  return flag != nullptr && std::strcmp(flag, "1") == 0;
}

std::vector<std::string> ApplicationFolders(const std::string &root) {
  std::vector<std::string> names;
  DIR *dir = opendir(root.c_str());
  if (dir == nullptr) return names;
  while (dirent *item = readdir(dir)) {
    std::string name = item->d_name;
    if (name.size() > 4 && name[0] != '.' && name.compare(name.size() - 4, 4, ".app") == 0)
      names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool FindByCreator(OSType creator, std::string *path) {
  for (const Volume &volume : Volumes()) {
    if (volume.vRefNum == kSystemVolume) continue;
    for (const std::string &name : ApplicationFolders(volume.root)) {
      OSType found = 0;
      if (ReadPackageCreator(volume.root + "/" + name, &found) && found == creator) {
        *path = volume.root + "/" + name;
        return true;
      }
    }
  }
  return false;
}

}  // namespace
}  // namespace carbon

OSStatus LSFindApplicationForInfo(OSType inCreator, CFStringRef, CFStringRef, FSRef *outAppRef,
                                  CFURLRef *outAppURL) {
  if (outAppURL != nullptr) *outAppURL = nullptr;  // this layer has no CFURL
  if (outAppRef == nullptr && outAppURL == nullptr) return paramErr;
  std::string path;
  if (inCreator == kLSUnknownCreator || carbon::Disabled() || !carbon::FindByCreator(inCreator, &path)) {
    return kLSApplicationNotFoundErr;
  }
  if (outAppRef != nullptr) carbon::PathToFSRef(path, outAppRef);
  return noErr;
}

OSStatus LSRegisterFSRef(const FSRef *inRef, Boolean) {
  std::string path;
  if (inRef == nullptr || !carbon::FSRefToPath(inRef, &path)) return paramErr;
  OSType creator = 0;
  if (!carbon::ReadPackageCreator(path, &creator)) return kLSNotAnApplicationErr;
  size_t slash = path.rfind('/');
  return carbon::AddDesktopEntry(slash == 0 ? "/" : path.substr(0, slash), creator, path.substr(slash + 1));
}
