// Internal to the carbon layer: how the File Manager's names (volumes, directory IDs,
// FSSpec, FSRef) map to POSIX paths. Shared by the File Manager, the desktop database,
// Launch Services and the Process Manager.
#pragma once

#include <Files.h>

#include <string>
#include <vector>

namespace carbon {

struct Volume {
  int16_t vRefNum;
  std::string root;  // absolute, no trailing slash ("/" for the system disk)
};

constexpr int16_t kSystemVolume = -100;

// The mounted volumes in index order (index 1 first): the system disk, the Applications
// folder under QUILLCAST_HOME (missing when the machine folder is refused), then the folders
// of QUILLCAST_VOLUMES.
std::vector<Volume> Volumes();
bool VolumeForRef(int16_t vRefNum, Volume *out);

// Directory IDs: fsRtDirID (2) is the root of any volume; other IDs are handed out on first
// use of a folder and stay valid for the life of the process.
int32_t DirIDForPath(const std::string &absoluteFolder);
bool PathForDirID(int16_t vRefNum, int32_t dirID, std::string *absoluteFolder);

// FSSpec <-> path. The spec's name is at most 63 bytes (bdNamErr otherwise).
OSErr FSSpecToPath(const FSSpec *spec, std::string *path);
OSErr PathToFSSpec(const std::string &path, FSSpec *spec);

// FSRef <-> path, through a per-process table.
void PathToFSRef(const std::string &path, FSRef *ref);
bool FSRefToPath(const FSRef *ref, std::string *path);

// The extended attribute that keeps a file's type and creator: 8 bytes, the type and then the
// creator, big-endian. Written by FSpCreate where the file system allows it.
constexpr const char kFinderInfoAttribute[] = "user.quillcast.FinderInfo";

}  // namespace carbon
