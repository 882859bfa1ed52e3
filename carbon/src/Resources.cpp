// Resource Manager. Open files are kept in the order they were opened; the chain searched by
// GetResource runs from the current file back to the first one opened. All state sits behind
// one mutex, since a stand-in application may call in from more than one thread.
#include "ResourceFile.h"

#include <MacErrors.h>
#include <MacMemory.h>
#include <Resources.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

constexpr long kLargestResourceFile = 64L << 20;  // no resource file of ours comes near this

struct OpenResFile {
  ResFileRefNum refNum;
  std::string path;
  carbon::ResourceMap map;
  std::vector<Handle> loaded;  // per entry; null while not loaded
};

std::mutex stateLock;
// In opening order. Never destroyed: a file still open when the process ends (a plug-in's
// own) keeps its loaded handles reachable to the end, rather than losing them undisposed
// when the list would be freed around them.
std::vector<std::unique_ptr<OpenResFile>> &openFiles = *new std::vector<std::unique_ptr<OpenResFile>>;
ResFileRefNum currentFile = 0;
ResFileRefNum nextRefNum = 1024;
thread_local OSErr lastError = noErr;

OSErr ReadWholeFile(const char *path, std::vector<uint8_t> *bytes) {
  FILE *file = std::fopen(path, "rb");
  if (file == nullptr) return errno == ENOENT || errno == ENOTDIR ? OSErr(fnfErr) : OSErr(ioErr);
  std::unique_ptr<FILE, int (*)(FILE *)> closer(file, std::fclose);
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    if (long(bytes->size() + got) > kLargestResourceFile) return mapReadErr;
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  return std::ferror(file) ? OSErr(ioErr) : OSErr(noErr);
}

// Index of the file with refNum in openFiles, or -1. Caller holds stateLock.
long FileIndex(ResFileRefNum refNum) {
  for (size_t i = 0; i < openFiles.size(); i++) {
    if (openFiles[i]->refNum == refNum) return long(i);
  }
  return -1;
}

ResFileRefNum NewRefNum() {
  do {
    nextRefNum = nextRefNum >= 32000 ? 1024 : ResFileRefNum(nextRefNum + 1);
  } while (FileIndex(nextRefNum) >= 0);
  return nextRefNum;
}

// The files to search, most recent first: the current file only, or the whole chain below it.
std::vector<OpenResFile *> SearchOrder(bool currentOnly) {
  std::vector<OpenResFile *> order;
  for (long i = FileIndex(currentFile); i >= 0; i--) {
    order.push_back(openFiles[size_t(i)].get());
    if (currentOnly) break;
  }
  return order;
}

Handle LoadEntry(OpenResFile *file, size_t index) {
  if (file->loaded[index] != nullptr) {
    lastError = noErr;
    return file->loaded[index];
  }
  const carbon::ResourceEntry &entry = file->map.entries[index];
  Handle h = NewHandle(Size(entry.length));
  if (h == nullptr) {
    lastError = memFullErr;
    return nullptr;
  }
  std::span<const uint8_t> data = carbon::ResourceData(file->map, entry);
  if (!data.empty()) std::memcpy(*h, data.data(), data.size());
  carbon::FlipResourceToHost(entry.type, std::span<uint8_t>(reinterpret_cast<uint8_t *>(*h), data.size()));
  file->loaded[index] = h;
  lastError = noErr;
  return h;
}

Handle FindResource(ResType type, ResID id, bool currentOnly) {
  std::lock_guard<std::mutex> guard(stateLock);
  for (OpenResFile *file : SearchOrder(currentOnly)) {
    for (size_t i = 0; i < file->map.entries.size(); i++) {
      if (file->map.entries[i].type == type && file->map.entries[i].id == id) return LoadEntry(file, i);
    }
  }
  lastError = resNotFound;
  return nullptr;
}

ResourceCount CountOfType(ResType type, bool currentOnly) {
  std::lock_guard<std::mutex> guard(stateLock);
  long count = 0;
  for (OpenResFile *file : SearchOrder(currentOnly)) {
    for (const carbon::ResourceEntry &entry : file->map.entries) count += entry.type == type;
  }
  lastError = noErr;
  return ResourceCount(count > 32767 ? 32767 : count);
}

Handle IndexedResource(ResType type, ResourceIndex index, bool currentOnly) {
  std::lock_guard<std::mutex> guard(stateLock);
  long seen = 0;
  for (OpenResFile *file : SearchOrder(currentOnly)) {
    for (size_t i = 0; i < file->map.entries.size(); i++) {
      if (file->map.entries[i].type == type && ++seen == index) return LoadEntry(file, i);
    }
  }
  lastError = resNotFound;
  return nullptr;
}

// Where a loaded handle lives; false for a handle that is not a loaded resource.
bool LocateHandle(Handle h, OpenResFile **file, size_t *index) {
  for (auto &open : openFiles) {
    for (size_t i = 0; i < open->loaded.size(); i++) {
      if (h != nullptr && open->loaded[i] == h) {
        *file = open.get();
        *index = i;
        return true;
      }
    }
  }
  return false;
}

void CloseAt(size_t index) {
  for (Handle h : openFiles[index]->loaded) DisposeHandle(h);
  if (openFiles[index]->refNum == currentFile) currentFile = index > 0 ? openFiles[index - 1]->refNum : 0;
  openFiles.erase(openFiles.begin() + long(index));
}

}  // namespace

ResFileRefNum CarbonOpenResourceFile(const char *path) {
  std::vector<uint8_t> bytes;
  OSErr status = path == nullptr ? OSErr(paramErr) : ReadWholeFile(path, &bytes);
  auto file = std::make_unique<OpenResFile>();
  if (status == noErr) status = carbon::ParseResourceMap(std::move(bytes), &file->map);
  std::lock_guard<std::mutex> guard(stateLock);
  lastError = status;
  if (status != noErr) return -1;
  for (auto &open : openFiles) {
    if (open->path == path) return currentFile = open->refNum;
  }
  file->path = path;
  file->refNum = NewRefNum();
  file->loaded.assign(file->map.entries.size(), nullptr);
  openFiles.push_back(std::move(file));
  return currentFile = openFiles.back()->refNum;
}

void UseResFile(ResFileRefNum refNum) {
  std::lock_guard<std::mutex> guard(stateLock);
  if (refNum != 0 && FileIndex(refNum) < 0) {
    lastError = resFNotFound;
    return;
  }
  currentFile = refNum;
  lastError = noErr;
}

ResFileRefNum CurResFile() {
  std::lock_guard<std::mutex> guard(stateLock);
  lastError = noErr;
  return currentFile;
}

void CloseResFile(ResFileRefNum refNum) {
  std::lock_guard<std::mutex> guard(stateLock);
  long index = FileIndex(refNum);
  lastError = refNum == 0 || index >= 0 ? OSErr(noErr) : OSErr(resFNotFound);
  if (index >= 0) CloseAt(size_t(index));
}

OSErr ResError() {
  return lastError;
}

Handle GetResource(ResType theType, ResID theID) {
  return FindResource(theType, theID, false);
}
Handle Get1Resource(ResType theType, ResID theID) {
  return FindResource(theType, theID, true);
}
ResourceCount CountResources(ResType theType) {
  return CountOfType(theType, false);
}
ResourceCount Count1Resources(ResType theType) {
  return CountOfType(theType, true);
}
Handle GetIndResource(ResType theType, ResourceIndex index) {
  return IndexedResource(theType, index, false);
}
Handle Get1IndResource(ResType theType, ResourceIndex index) {
  return IndexedResource(theType, index, true);
}

void GetResInfo(Handle theResource, ResID *theID, ResType *theType, Str255 name) {
  std::lock_guard<std::mutex> guard(stateLock);
  OpenResFile *file;
  size_t index;
  if (name != nullptr) name[0] = 0;
  if (!LocateHandle(theResource, &file, &index)) {
    lastError = resNotFound;
    return;
  }
  if (theID != nullptr) *theID = file->map.entries[index].id;
  if (theType != nullptr) *theType = file->map.entries[index].type;
  lastError = noErr;
}

void ReleaseResource(Handle theResource) {
  std::lock_guard<std::mutex> guard(stateLock);
  OpenResFile *file;
  size_t index;
  lastError = noErr;
  if (theResource == nullptr) return;
  if (!LocateHandle(theResource, &file, &index)) {
    lastError = resNotFound;
    return;
  }
  DisposeHandle(theResource);
  file->loaded[index] = nullptr;
}

void DetachResource(Handle theResource) {
  std::lock_guard<std::mutex> guard(stateLock);
  OpenResFile *file;
  size_t index;
  if (!LocateHandle(theResource, &file, &index)) {
    lastError = resNotFound;
    return;
  }
  file->loaded[index] = nullptr;
  lastError = noErr;
}

void GetIndString(Str255 theString, SInt16 strListID, SInt16 index) {
  std::vector<uint8_t> data;
  std::string item;
  theString[0] = 0;
  if (!carbon::CopyChainResource(kStringListResType, strListID, &data)) return;
  if (!carbon::StringListItem(data, index, &item)) return;
  theString[0] = uint8_t(item.size());
  std::memcpy(theString + 1, item.data(), item.size());
}

void CarbonCloseAllResourceFiles() {
  std::lock_guard<std::mutex> guard(stateLock);
  while (!openFiles.empty()) CloseAt(openFiles.size() - 1);
  currentFile = 0;
  lastError = noErr;
}

namespace carbon {

bool CopyChainResource(ResType type, int16_t id, std::vector<uint8_t> *data) {
  std::lock_guard<std::mutex> guard(stateLock);
  for (OpenResFile *file : SearchOrder(false)) {
    for (const ResourceEntry &entry : file->map.entries) {
      if (entry.type != type || entry.id != id) continue;
      std::span<const uint8_t> bytes = ResourceData(file->map, entry);
      data->assign(bytes.begin(), bytes.end());
      lastError = noErr;
      return true;
    }
  }
  lastError = resNotFound;
  return false;
}

}  // namespace carbon
