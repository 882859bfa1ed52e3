// The desktop database of the emulated volumes and the File Manager calls that read it:
// PBHGetVInfoSync, PBDTGetPath, PBDTGetAPPLSync, and FSpGetFInfo and FSGetCatalogInfo,
// which also know application folders.
#include "DesktopDatabase.h"

#include "CarbonPaths.h"
#include "ProcessTable.h"
#include "TextCodec.h"

#include <Endian.h>
#include <Files.h>
#include <MacErrors.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace carbon {
namespace {

bool SafeRelativePath(std::string_view path) {
  if (path.empty() || path.size() > kMaxDesktopPath || path.front() == '/') return false;
  if (path.find('\0') != std::string_view::npos || path.find('\r') != std::string_view::npos) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view part = path.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = slash + 1;
  }
  return true;
}

std::string DatabasePath(const std::string &volumeRoot) {
  return (volumeRoot == "/" ? "" : volumeRoot) + "/" + kDesktopDatabaseName;
}

std::string Parent(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

void SetPascal(StringPtr out, std::string_view text, size_t capacity) {
  size_t length = text.size() < capacity ? text.size() : capacity;
  out[0] = uint8_t(length);
  std::memcpy(out + 1, text.data(), length);
}

OSErr VolumeByIndex(int16_t index, Volume *volume) {
  std::vector<Volume> volumes = Volumes();
  if (index < 1 || size_t(index) > volumes.size()) return nsvErr;
  *volume = volumes[size_t(index) - 1];
  return noErr;
}

std::string VolumeName(const Volume &volume) {
  return volume.root == "/" ? "Macintosh HD" : volume.root.substr(volume.root.rfind('/') + 1);
}

// The n-th entry (1-based) for the creator whose file can be named by an FSSpec.
bool NthApplication(const std::vector<DesktopEntry> &entries, OSType creator, int n,
                    const DesktopEntry **found) {
  for (const DesktopEntry &entry : entries) {
    std::string name = entry.relativePath.substr(entry.relativePath.rfind('/') + 1);
    if (entry.creator != creator || name.size() > 63) continue;
    if (--n <= 0) {
      *found = &entry;
      return true;
    }
  }
  return false;
}

// A file's type and creator from its extended attribute; zeros when it has none.
void ReadFileFinderInfo(const std::string &path, FInfo *info) {
  uint8_t bytes[8];
  if (getxattr(path.c_str(), kFinderInfoAttribute, bytes, sizeof bytes) == ssize_t(sizeof bytes)) {
    info->fdType = GetBigEndian32(bytes);
    info->fdCreator = GetBigEndian32(bytes + 4);
  }
}

void SetUniName(const std::string &utf8, HFSUniStr255 *out);

}  // namespace

std::vector<DesktopEntry> ParseDesktopDatabase(std::string_view text) {
  std::vector<DesktopEntry> entries;
  if (text.size() > kMaxDesktopDatabaseBytes) text = text.substr(0, kMaxDesktopDatabaseBytes);
  while (!text.empty()) {
    size_t end = text.find('\n');
    if (end == std::string_view::npos) break;  // an unfinished last line is not an entry
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (line.size() < 6 || line[4] != '\t' || !SafeRelativePath(line.substr(5))) continue;
    DesktopEntry entry;
    entry.creator = GetBigEndian32(line.data());
    entry.relativePath = line.substr(5);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string FormatDesktopDatabase(const std::vector<DesktopEntry> &entries) {
  std::string text;
  for (const DesktopEntry &entry : entries) {
    char creator[4];
    PutBigEndian32(creator, entry.creator);
    text.append(creator, 4);
    text += '\t';
    text += entry.relativePath;
    text += '\n';
  }
  return text;
}

bool ReadDesktopDatabase(const std::string &volumeRoot, std::vector<DesktopEntry> *entries) {
  std::string text;
  if (!ReadSmallFile(DatabasePath(volumeRoot), kMaxDesktopDatabaseBytes, &text)) return false;
  *entries = ParseDesktopDatabase(text);
  return true;
}

OSErr AddDesktopEntry(const std::string &volumeRoot, OSType creator, const std::string &relativePath) {
  if (!SafeRelativePath(relativePath) || relativePath.find('\n') != std::string::npos) return bdNamErr;
  int lock =
      open((volumeRoot + "/.Desktop DB.lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock < 0) return errno == ENOENT ? dirNFErr : ioErr;
  while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::vector<DesktopEntry> entries;
  ReadDesktopDatabase(volumeRoot, &entries);
  std::erase_if(entries, [&](const DesktopEntry &entry) { return entry.relativePath == relativePath; });
  entries.push_back({creator, relativePath});
  OSErr err = ReplaceFile(DatabasePath(volumeRoot), FormatDesktopDatabase(entries));
  close(lock);
  return err;
}

bool ReadPackageCreator(const std::string &folder, OSType *creator) {
  std::string info;
  if (!ReadSmallFile(folder + "/Contents/PkgInfo", 64, &info) || info.size() < 8) return false;
  if (GetBigEndian32(info.data()) != FourCC("APPL")) return false;
  *creator = GetBigEndian32(info.data() + 4);
  return true;
}

namespace {

void SetUniName(const std::string &utf8, HFSUniStr255 *out) {
  const auto *bytes = reinterpret_cast<const uint8_t *>(utf8.data());
  out->length = 0;
  for (size_t at = 0; at < utf8.size() && out->length < 255;) {
    char32_t c = 0;
    OSStatus status = noErr;
    size_t used = DecodeCharacter(Codec::kUTF8, bytes + at, utf8.size() - at, &c, &status);
    if (used == 0) {  // a malformed byte stands for itself
      c = bytes[at];
      used = 1;
    }
    at += used;
    if (c < 0x10000) {
      out->unicode[out->length++] = UniChar(c);
    } else if (out->length < 254) {
      out->unicode[out->length++] = UniChar(0xD800 + ((c - 0x10000) >> 10));
      out->unicode[out->length++] = UniChar(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
}

}  // namespace
}  // namespace carbon

using namespace carbon;

OSErr PBHGetVInfoSync(HParamBlockRec *paramBlock) {
  if (paramBlock == nullptr) return paramErr;
  HVolumeParam &pb = paramBlock->volumeParam;
  Volume volume;
  OSErr err = pb.ioVolIndex > 0 ? VolumeByIndex(pb.ioVolIndex, &volume)
                                : (VolumeForRef(pb.ioVRefNum, &volume) ? OSErr(noErr) : OSErr(nsvErr));
  if (err == noErr) {
    pb.ioVRefNum = volume.vRefNum;
    if (pb.ioNamePtr != nullptr) SetPascal(pb.ioNamePtr, VolumeName(volume), 27);
  }
  pb.ioResult = err;
  return err;
}

OSErr PBDTGetPath(DTPBRec *paramBlock) {
  if (paramBlock == nullptr) return paramErr;
  Volume volume;
  struct stat info {};
  OSErr err = nsvErr;
  if (VolumeForRef(paramBlock->ioVRefNum, &volume)) {
    bool present = stat(DatabasePath(volume.root).c_str(), &info) == 0 && S_ISREG(info.st_mode);
    err = present ? OSErr(noErr) : OSErr(paramErr);  // this volume keeps no desktop database
  }
  if (err == noErr) paramBlock->ioDTRefNum = volume.vRefNum;
  paramBlock->ioResult = err;
  return err;
}

OSErr PBDTGetAPPLSync(DTPBRec *paramBlock) {
  if (paramBlock == nullptr) return paramErr;
  int16_t vRefNum = paramBlock->ioDTRefNum != 0 ? paramBlock->ioDTRefNum : paramBlock->ioVRefNum;
  Volume volume;
  std::vector<DesktopEntry> entries;
  const DesktopEntry *found = nullptr;
  OSErr err = afpItemNotFound;
  if (!VolumeForRef(vRefNum, &volume) || !ReadDesktopDatabase(volume.root, &entries)) {
    err = paramErr;
  } else if (NthApplication(entries, paramBlock->ioFileCreator, paramBlock->ioIndex, &found)) {
    std::string path = (volume.root == "/" ? "" : volume.root) + "/" + found->relativePath;
    paramBlock->ioAPPLParID = DirIDForPath(Parent(path));
    if (paramBlock->ioNamePtr != nullptr)
      SetPascal(paramBlock->ioNamePtr, path.substr(path.rfind('/') + 1), 63);
    err = noErr;
  }
  paramBlock->ioResult = err;
  return err;
}

OSErr FSpGetFInfo(const FSSpec *spec, FInfo *fndrInfo) {
  if (spec == nullptr || fndrInfo == nullptr) return paramErr;
  std::string path;
  OSErr err = FSSpecToPath(spec, &path);
  struct stat info {};
  if (err != noErr) return err;
  if (stat(path.c_str(), &info) != 0) return fnfErr;
  std::memset(fndrInfo, 0, sizeof *fndrInfo);
  if (S_ISDIR(info.st_mode)) {
    if (!ReadPackageCreator(path, &fndrInfo->fdCreator)) return notAFileErr;
    fndrInfo->fdType = FourCC("APPL");
    return noErr;
  }
  ReadFileFinderInfo(path, fndrInfo);
  return noErr;
}

OSErr FSGetCatalogInfo(const FSRef *ref, UInt32, void *, HFSUniStr255 *outName, FSSpec *fsSpec,
                       FSRef *parentRef) {
  std::string path;
  if (ref == nullptr || !FSRefToPath(ref, &path)) return errFSBadFSRef;
  if (access(path.c_str(), F_OK) != 0) return fnfErr;
  if (fsSpec != nullptr) {
    OSErr err = PathToFSSpec(path, fsSpec);
    if (err != noErr) return err;
  }
  if (outName != nullptr) SetUniName(path.substr(path.rfind('/') + 1), outName);
  if (parentRef != nullptr) PathToFSRef(Parent(path), parentRef);
  return noErr;
}
