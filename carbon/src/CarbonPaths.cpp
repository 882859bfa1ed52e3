// Path mapping of the File Manager. Tables are per process and guarded by one mutex, since
// a stand-in application may call in from more than one thread.
#include "CarbonPaths.h"

#include <Folders.h>
#include <MacErrors.h>
#include <MachineFolder.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace carbon {
namespace {

std::mutex tableLock;
std::map<std::string, int32_t> idsByPath;
std::map<int32_t, std::string> pathsById;
int32_t nextDirID = 100;
std::vector<std::string> refPaths;

constexpr uint32_t kRefMagic = 0x51526566;  // 'QRef'

std::string StripSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::vector<Volume> Volumes() {
  std::vector<Volume> volumes{{kSystemVolume, "/"}};
  // On a refused machine there is no Applications volume: nothing is launched from it.
  std::string apps = MachineSubfolder("Applications");
  if (!apps.empty()) volumes.push_back({int16_t(kSystemVolume - 1), apps});
  if (const char *extra = std::getenv("QUILLCAST_VOLUMES")) {
    std::string list = extra;
    size_t start = 0;
    while (start <= list.size()) {
      size_t colon = list.find(':', start);
      if (colon == std::string::npos) colon = list.size();
      std::string folder = StripSlash(list.substr(start, colon - start));
      if (!folder.empty()) volumes.push_back({int16_t(kSystemVolume - int16_t(volumes.size())), folder});
      start = colon + 1;
    }
  }
  return volumes;
}

bool VolumeForRef(int16_t vRefNum, Volume *out) {
  for (const Volume &volume : Volumes()) {
    if (volume.vRefNum == vRefNum) {
      *out = volume;
      return true;
    }
  }
  return false;
}

int32_t DirIDForPath(const std::string &absoluteFolder) {
  std::string path = StripSlash(absoluteFolder);
  std::lock_guard<std::mutex> guard(tableLock);
  auto found = idsByPath.find(path);
  if (found != idsByPath.end()) return found->second;
  int32_t id = nextDirID++;
  idsByPath[path] = id;
  pathsById[id] = path;
  return id;
}

bool PathForDirID(int16_t vRefNum, int32_t dirID, std::string *absoluteFolder) {
  if (dirID == fsRtDirID || dirID == 0) {
    Volume volume;
    if (!VolumeForRef(vRefNum, &volume)) return false;
    *absoluteFolder = volume.root;
    return true;
  }
  std::lock_guard<std::mutex> guard(tableLock);
  auto found = pathsById.find(dirID);
  if (found == pathsById.end()) return false;
  *absoluteFolder = found->second;
  return true;
}

OSErr FSSpecToPath(const FSSpec *spec, std::string *path) {
  std::string folder;
  if (!PathForDirID(spec->vRefNum, spec->parID, &folder)) return dirNFErr;
  std::string name(reinterpret_cast<const char *>(spec->name + 1), spec->name[0]);
  if (name.find('/') != std::string::npos) return bdNamErr;
  *path = folder == "/" ? "/" + name : folder + "/" + name;
  return noErr;
}

OSErr PathToFSSpec(const std::string &path, FSSpec *spec) {
  std::string full = StripSlash(path);
  size_t slash = full.rfind('/');
  if (full.empty() || full[0] != '/' || slash == std::string::npos) return bdNamErr;
  std::string folder = slash == 0 ? "/" : full.substr(0, slash);
  std::string name = full.substr(slash + 1);
  if (name.size() > 63) return bdNamErr;
  spec->vRefNum = kSystemVolume;
  for (const Volume &volume : Volumes()) {
    if (volume.root != "/" && (folder == volume.root || folder.rfind(volume.root + "/", 0) == 0)) {
      spec->vRefNum = volume.vRefNum;
    }
  }
  spec->parID = DirIDForPath(folder);
  spec->name[0] = uint8_t(name.size());
  std::memcpy(spec->name + 1, name.data(), name.size());
  return noErr;
}

void PathToFSRef(const std::string &path, FSRef *ref) {
  std::lock_guard<std::mutex> guard(tableLock);
  uint32_t index = 0;
  while (index < refPaths.size() && refPaths[index] != path) index++;
  if (index == refPaths.size()) refPaths.push_back(path);
  std::memset(ref->hidden, 0, sizeof ref->hidden);
  std::memcpy(ref->hidden, &kRefMagic, 4);
  std::memcpy(ref->hidden + 4, &index, 4);
}

bool FSRefToPath(const FSRef *ref, std::string *path) {
  uint32_t magic;
  uint32_t index;
  std::memcpy(&magic, ref->hidden, 4);
  std::memcpy(&index, ref->hidden + 4, 4);
  std::lock_guard<std::mutex> guard(tableLock);
  if (magic != kRefMagic || index >= refPaths.size()) return false;
  *path = refPaths[index];
  return true;
}

}  // namespace carbon
