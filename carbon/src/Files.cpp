// File Manager over POSIX files. A file or fork reference number is the descriptor itself,
// registered here when this layer opens it, so that a stray number can never close or write
// someone else's descriptor. The fault hook sits in front of every open, read, write and
// rename, so that tests can make any one of them fail.
#include "CarbonPaths.h"
#include "TextCodec.h"

#include <Endian.h>
#include <Files.h>
#include <MacErrors.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace {

std::mutex refLock;
std::set<int> openRefs;

struct Fault {
  long countdown = -1;
  OSErr status = noErr;
};
std::mutex faultLock;
Fault faults[kCarbonFileOpCount];

// True (with the status to report) when this operation is the one chosen to fail.
bool Injected(CarbonFileOp op, OSErr *status) {
  std::lock_guard<std::mutex> guard(faultLock);
  Fault &fault = faults[op];
  if (fault.countdown < 0) return false;
  if (fault.countdown-- > 0) return false;
  *status = fault.status;
  return true;
}

OSErr StatusForErrno(int error) {
  switch (error) {
    case ENOENT:
      return fnfErr;
    case ENOTDIR:
      return dirNFErr;
    case EEXIST:
      return dupFNErr;
    case EACCES:
    case EPERM:
      return permErr;
    case EROFS:
      return wPrErr;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return dskFulErr;
    case EMFILE:
    case ENFILE:
      return tmfoErr;
    case ENAMETOOLONG:
      return bdNamErr;
    case EISDIR:
      return notAFileErr;
    case ENOTEMPTY:
    case ETXTBSY:
    case EBUSY:
      return fBsyErr;
    default:
      return ioErr;
  }
}

bool IsOpen(int16_t refNum) {
  std::lock_guard<std::mutex> guard(refLock);
  return openRefs.count(refNum) != 0;
}

OSErr OpenPath(const std::string &path, SInt8 permission, int16_t *refNum) {
  OSErr status;
  if (Injected(kCarbonFileOpen, &status)) return status;
  int access = permission == fsRdPerm ? O_RDONLY : permission == fsWrPerm ? O_WRONLY : O_RDWR;
  if (permission < fsCurPerm || permission > fsRdWrShPerm) return paramErr;
  int fd = open(path.c_str(), access | O_CLOEXEC);
  if (fd < 0 && permission == fsCurPerm && (errno == EACCES || errno == EROFS)) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) return StatusForErrno(errno);
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || fd > 32767) {
    status = fd > 32767 ? OSErr(tmfoErr) : OSErr(notAFileErr);
    close(fd);
    return status;
  }
  std::lock_guard<std::mutex> guard(refLock);
  openRefs.insert(fd);
  *refNum = int16_t(fd);
  return noErr;
}

OSErr CloseRef(int16_t refNum) {
  {
    std::lock_guard<std::mutex> guard(refLock);
    if (openRefs.erase(refNum) == 0) return rfNumErr;
  }
  return close(refNum) == 0 ? OSErr(noErr) : OSErr(ioErr);
}

// Reads up to count bytes; eofErr when the file ended first (*got then tells how many).
OSErr ReadAll(int fd, char *buffer, size_t count, size_t *got) {
  OSErr status;
  *got = 0;
  if (Injected(kCarbonFileRead, &status)) return status;
  while (*got < count) {
    ssize_t n = read(fd, buffer + *got, count - *got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == EBADF ? OSErr(permErr) : StatusForErrno(errno);
    if (n == 0) return eofErr;
    *got += size_t(n);
  }
  return noErr;
}

OSErr WriteAll(int fd, const char *buffer, size_t count, size_t *done) {
  OSErr status;
  *done = 0;
  if (Injected(kCarbonFileWrite, &status)) return status;
  while (*done < count) {
    ssize_t n = write(fd, buffer + *done, count - *done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == EBADF ? OSErr(wrPermErr) : StatusForErrno(errno);
    *done += size_t(n);
  }
  return noErr;
}

OSErr FileSize(int fd, SInt64 *size) {
  struct stat info;
  if (fstat(fd, &info) != 0) return ioErr;
  *size = info.st_size;
  return noErr;
}

// The mark that a position mode and offset name; posErr before the start of the file.
OSErr TargetPosition(int fd, uint16_t positionMode, SInt64 offset, SInt64 *target) {
  SInt64 mark = lseek(fd, 0, SEEK_CUR);
  SInt64 eof;
  if (mark < 0 || FileSize(fd, &eof) != noErr) return ioErr;
  switch (positionMode & 3) {
    case fsAtMark:
      *target = mark;
      break;
    case fsFromStart:
      *target = offset;
      break;
    case fsFromLEOF:
      *target = eof + offset;
      break;
    default:
      *target = mark + offset;
      break;
  }
  return *target < 0 ? OSErr(posErr) : OSErr(noErr);
}

// Moves the mark; past the end of file the mark stops at the end and the answer is eofErr.
OSErr Position(int fd, uint16_t positionMode, SInt64 offset, bool mayPassEOF) {
  SInt64 target;
  SInt64 eof;
  OSErr status = TargetPosition(fd, positionMode, offset, &target);
  if (status != noErr || FileSize(fd, &eof) != noErr) return status != noErr ? status : OSErr(ioErr);
  if (target > eof && !mayPassEOF) {
    lseek(fd, eof, SEEK_SET);
    return eofErr;
  }
  return lseek(fd, target, SEEK_SET) < 0 ? OSErr(posErr) : OSErr(noErr);
}

OSErr Truncate(int fd, SInt64 size) {
  OSErr status;
  if (size < 0) return paramErr;
  if (Injected(kCarbonFileWrite, &status)) return status;
  if (ftruncate(fd, size) != 0)
    return errno == EBADF || errno == EINVAL ? OSErr(wrPermErr) : StatusForErrno(errno);
  if (lseek(fd, 0, SEEK_CUR) > size) lseek(fd, size, SEEK_SET);
  return noErr;
}

std::string FolderOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

OSErr CheckName(ConstStr255Param name) {
  if (name == nullptr || name[0] == 0 || name[0] > 63) return bdNamErr;
  if (std::memchr(name + 1, '/', name[0]) != nullptr) return bdNamErr;
  return noErr;
}

// Flushes a file's data and the folder that names it, so that a rename after it is durable.
OSErr SyncFile(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return StatusForErrno(errno);
  int result = fsync(fd);
  close(fd);
  return result == 0 ? OSErr(noErr) : OSErr(ioErr);
}

void SyncFolder(const std::string &folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);  // best effort: some file systems refuse to sync a folder
  close(fd);
}

// A file name of the FSRef calls (UTF-16) as UTF-8; false for a name that no file can have.
bool UniNameToUTF8(UniCharCount length, const UniChar *name, std::string *out) {
  out->clear();
  if (length == 0 || length > 255 || name == nullptr) return false;
  for (UniCharCount i = 0; i < length; i++) {
    char32_t c = name[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && name[i + 1] >= 0xDC00 && name[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[++i] - 0xDC00);
    }
    if (c == 0 || c == '/') return false;
    uint8_t bytes[4];
    size_t made = carbon::EncodeCharacter(carbon::Codec::kUTF8, c, bytes);
    if (made == 0) return false;
    out->append(reinterpret_cast<const char *>(bytes), made);
  }
  return *out != "." && *out != "..";
}

// A file's permissions and its type and creator, which stay with its name on an exchange.
struct NameAttributes {
  mode_t mode = 0;
  uint8_t finderInfo[8] = {};
  bool hasFinderInfo = false;
};

OSErr ReadNameAttributes(const std::string &path, NameAttributes *out) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return StatusForErrno(errno);
  if (!S_ISREG(info.st_mode)) return notAFileErr;
  out->mode = info.st_mode & 07777;
  out->hasFinderInfo = lgetxattr(path.c_str(), carbon::kFinderInfoAttribute, out->finderInfo,
                                 sizeof out->finderInfo) == ssize_t(sizeof out->finderInfo);
  return noErr;
}

void WriteNameAttributes(const std::string &path, const NameAttributes &attributes) {
  chmod(path.c_str(), attributes.mode);
  if (attributes.hasFinderInfo) {
    lsetxattr(path.c_str(), carbon::kFinderInfoAttribute, attributes.finderInfo, sizeof attributes.finderInfo,
              0);
  } else {
    lremovexattr(path.c_str(), carbon::kFinderInfoAttribute);
  }
}

// Where the file system cannot exchange two names in one step, second stays whole anyway: a
// second link keeps its old contents while first is renamed over it.
OSErr ExchangeByLinks(const std::string &first, const std::string &second) {
  std::string parked = second + ".exchange-" + std::to_string(getpid());
  if (link(second.c_str(), parked.c_str()) != 0) return StatusForErrno(errno);
  if (rename(first.c_str(), second.c_str()) != 0) {
    OSErr status = StatusForErrno(errno);
    unlink(parked.c_str());
    return status;
  }
  return rename(parked.c_str(), first.c_str()) == 0 ? OSErr(noErr) : StatusForErrno(errno);
}

}  // namespace

OSErr FSMakeFSSpec(int16_t vRefNum, int32_t dirID, ConstStr255Param fileName, FSSpec *spec) {
  carbon::Volume volume;
  std::string folder;
  if (vRefNum == 0) vRefNum = carbon::kSystemVolume;
  if (dirID == 0) dirID = fsRtDirID;
  if (dirID == fsRtDirID && !carbon::VolumeForRef(vRefNum, &volume)) return nsvErr;
  if (!carbon::PathForDirID(vRefNum, dirID, &folder)) return dirNFErr;
  if (fileName == nullptr || fileName[0] == 0) return carbon::PathToFSSpec(folder, spec);
  OSErr status = CheckName(fileName);
  if (status != noErr) return status;
  spec->vRefNum = vRefNum;
  spec->parID = dirID;
  std::memcpy(spec->name, fileName, size_t(fileName[0]) + 1);
  std::string path;
  carbon::FSSpecToPath(spec, &path);
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) return noErr;
  return errno == ENOENT ? OSErr(fnfErr) : StatusForErrno(errno);
}

OSErr FSpOpenDF(const FSSpec *spec, SInt8 permission, int16_t *refNum) {
  std::string path;
  OSErr status = carbon::FSSpecToPath(spec, &path);
  return status != noErr ? status : OpenPath(path, permission, refNum);
}

OSErr FSpCreate(const FSSpec *spec, OSType creator, OSType fileType, ScriptCode) {
  std::string path;
  OSErr status = carbon::FSSpecToPath(spec, &path);
  if (status != noErr || Injected(kCarbonFileOpen, &status)) return status;
  if (CheckName(spec->name) != noErr) return bdNamErr;
  int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return StatusForErrno(errno);
  uint8_t finderInfo[8];
  PutBigEndian32(finderInfo, fileType);
  PutBigEndian32(finderInfo + 4, creator);
  fsetxattr(fd, carbon::kFinderInfoAttribute, finderInfo, sizeof finderInfo, 0);  // kept where supported
  close(fd);
  return noErr;
}

OSErr FSpDelete(const FSSpec *spec) {
  std::string path;
  OSErr status = carbon::FSSpecToPath(spec, &path);
  if (status != noErr) return status;
  if (unlink(path.c_str()) == 0) return noErr;
  if (errno == EISDIR || errno == EPERM) {
    if (rmdir(path.c_str()) == 0) return noErr;
  }
  return StatusForErrno(errno);
}

OSErr FSRead(int16_t refNum, long *count, void *buffPtr) {
  if (!IsOpen(refNum)) return rfNumErr;
  if (*count < 0) return paramErr;
  size_t got;
  OSErr status = ReadAll(refNum, static_cast<char *>(buffPtr), size_t(*count), &got);
  *count = long(got);
  return status;
}

OSErr FSWrite(int16_t refNum, long *count, const void *buffPtr) {
  if (!IsOpen(refNum)) return rfNumErr;
  if (*count < 0) return paramErr;
  size_t done;
  OSErr status = WriteAll(refNum, static_cast<const char *>(buffPtr), size_t(*count), &done);
  *count = long(done);
  return status;
}

OSErr GetFPos(int16_t refNum, long *filePos) {
  if (!IsOpen(refNum)) return rfNumErr;
  off_t mark = lseek(refNum, 0, SEEK_CUR);
  if (mark < 0) return ioErr;
  *filePos = long(mark);
  return noErr;
}

OSErr SetFPos(int16_t refNum, int16_t posMode, long posOff) {
  if (!IsOpen(refNum)) return rfNumErr;
  if (posMode < fsAtMark || posMode > fsFromMark) return paramErr;
  return Position(refNum, uint16_t(posMode), posMode == fsAtMark ? 0 : posOff, false);
}

OSErr GetEOF(int16_t refNum, long *logEOF) {
  SInt64 size;
  if (!IsOpen(refNum)) return rfNumErr;
  OSErr status = FileSize(refNum, &size);
  if (status == noErr) *logEOF = long(size);
  return status;
}

OSErr SetEOF(int16_t refNum, long logEOF) {
  return IsOpen(refNum) ? Truncate(refNum, logEOF) : OSErr(rfNumErr);
}

OSErr FSClose(int16_t refNum) {
  return CloseRef(refNum);
}

OSErr FSpRename(const FSSpec *spec, ConstStr255Param newName) {
  std::string path;
  OSErr status = carbon::FSSpecToPath(spec, &path);
  if (status != noErr || (status = CheckName(newName)) != noErr) return status;
  if (Injected(kCarbonFileRename, &status)) return status;
  std::string target =
      FolderOf(path) + "/" + std::string(reinterpret_cast<const char *>(newName + 1), newName[0]);
  if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return noErr;
  if (errno != EINVAL && errno != ENOSYS) return StatusForErrno(errno);
  struct stat info;  // the file system cannot refuse to replace: check first instead
  if (lstat(target.c_str(), &info) == 0) return dupFNErr;
  return rename(path.c_str(), target.c_str()) == 0 ? OSErr(noErr) : StatusForErrno(errno);
}

OSErr FSpExchangeFiles(const FSSpec *source, const FSSpec *dest) {
  std::string first;
  std::string second;
  OSErr status = carbon::FSSpecToPath(source, &first);
  if (status != noErr || (status = carbon::FSSpecToPath(dest, &second)) != noErr) return status;
  if (Injected(kCarbonFileRename, &status)) return status;
  // A safe save exchanges a file just written: its contents reach the disk before its name.
  if ((status = SyncFile(first)) != noErr || (status = SyncFile(second)) != noErr) return status;
  if (renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0) {
    SyncFolder(FolderOf(second));
    return noErr;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno == EXDEV ? OSErr(paramErr) : StatusForErrno(errno);
  std::string parked = second + ".exchange";
  if (access(first.c_str(), F_OK) != 0 || rename(second.c_str(), parked.c_str()) != 0) return fnfErr;
  if (rename(first.c_str(), second.c_str()) != 0) {
    rename(parked.c_str(), second.c_str());
    return ioErr;
  }
  return rename(parked.c_str(), first.c_str()) == 0 ? OSErr(noErr) : OSErr(ioErr);
}

OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory) {
  if (path == nullptr || ref == nullptr) return paramErr;
  const char *given = reinterpret_cast<const char *>(path);
  if (given[0] == 0) return fnfErr;
  struct stat info;
  if (stat(given, &info) != 0) return StatusForErrno(errno);
  char *resolved = realpath(given, nullptr);  // the ref names the file itself, not a link to it
  if (resolved == nullptr) return StatusForErrno(errno);
  carbon::PathToFSRef(resolved, ref);
  std::free(resolved);
  if (isDirectory != nullptr) *isDirectory = S_ISDIR(info.st_mode);
  return noErr;
}

OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path, UInt32 maxPathSize) {
  std::string found;
  if (ref == nullptr || path == nullptr || !carbon::FSRefToPath(ref, &found)) return errFSBadFSRef;
  if (found.size() + 1 > maxPathSize) return pathTooLongErr;
  std::memcpy(path, found.c_str(), found.size() + 1);
  return noErr;
}

OSErr FSGetDataForkName(HFSUniStr255 *dataForkName) {
  dataForkName->length = 0;
  return noErr;
}

OSErr FSOpenFork(const FSRef *ref, UniCharCount forkNameLength, const UniChar *, SInt8 permissions,
                 int16_t *forkRefNum) {
  std::string path;
  if (ref == nullptr || !carbon::FSRefToPath(ref, &path)) return errFSBadFSRef;
  if (forkNameLength != 0) return errFSForkNotFound;  // only the data fork, whose name is empty
  return OpenPath(path, permissions, forkRefNum);
}

OSErr FSReadFork(int16_t forkRefNum, uint16_t positionMode, SInt64 positionOffset, ByteCount requestCount,
                 void *buffer, ByteCount *actualCount) {
  size_t got = 0;
  OSErr status =
      IsOpen(forkRefNum) ? Position(forkRefNum, positionMode, positionOffset, false) : OSErr(rfNumErr);
  if (status == noErr) status = ReadAll(forkRefNum, static_cast<char *>(buffer), requestCount, &got);
  if (actualCount != nullptr) *actualCount = got;
  return status;
}

OSErr FSWriteFork(int16_t forkRefNum, uint16_t positionMode, SInt64 positionOffset, ByteCount requestCount,
                  const void *buffer, ByteCount *actualCount) {
  size_t done = 0;
  OSErr status =
      IsOpen(forkRefNum) ? Position(forkRefNum, positionMode, positionOffset, true) : OSErr(rfNumErr);
  if (status == noErr) status = WriteAll(forkRefNum, static_cast<const char *>(buffer), requestCount, &done);
  if (actualCount != nullptr) *actualCount = done;
  return status;
}

OSErr FSGetForkPosition(int16_t forkRefNum, SInt64 *position) {
  if (!IsOpen(forkRefNum)) return rfNumErr;
  *position = lseek(forkRefNum, 0, SEEK_CUR);
  return *position < 0 ? OSErr(ioErr) : OSErr(noErr);
}

OSErr FSSetForkSize(int16_t forkRefNum, uint16_t positionMode, SInt64 positionOffset) {
  SInt64 size;
  OSErr status =
      IsOpen(forkRefNum) ? TargetPosition(forkRefNum, positionMode, positionOffset, &size) : OSErr(rfNumErr);
  return status != noErr ? status : Truncate(forkRefNum, size);
}

OSErr FSCloseFork(int16_t forkRefNum) {
  return CloseRef(forkRefNum);
}

OSErr FSCreateFileUnicode(const FSRef *parentRef, UniCharCount nameLength, const UniChar *name,
                          UInt32 whichInfo, const void *, FSRef *newRef, FSSpec *newSpec) {
  std::string folder;
  std::string leaf;
  if (parentRef == nullptr || !carbon::FSRefToPath(parentRef, &folder)) return errFSBadFSRef;
  if (whichInfo != kFSCatInfoNone) return paramErr;
  if (!UniNameToUTF8(nameLength, name, &leaf)) return bdNamErr;
  OSErr status;
  if (Injected(kCarbonFileOpen, &status)) return status;
  std::string path = (folder == "/" ? "" : folder) + "/" + leaf;
  int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return StatusForErrno(errno);
  close(fd);
  if (newRef != nullptr) carbon::PathToFSRef(path, newRef);
  if (newSpec != nullptr) carbon::PathToFSSpec(path, newSpec);
  return noErr;
}

OSErr FSExchangeObjects(const FSRef *ref, const FSRef *destRef) {
  std::string first;
  std::string second;
  if (ref == nullptr || destRef == nullptr || !carbon::FSRefToPath(ref, &first) ||
      !carbon::FSRefToPath(destRef, &second))
    return errFSBadFSRef;
  NameAttributes firstAttributes;
  NameAttributes secondAttributes;
  OSErr status = ReadNameAttributes(first, &firstAttributes);
  if (status != noErr || (status = ReadNameAttributes(second, &secondAttributes)) != noErr) return status;
  if (Injected(kCarbonFileRename, &status)) return status;
  if ((status = SyncFile(first)) != noErr) return status;
  if (renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno == EXDEV) return diffVolErr;
    if (errno != EINVAL && errno != ENOSYS) return StatusForErrno(errno);
    if ((status = ExchangeByLinks(first, second)) != noErr) return status;
  }
  WriteNameAttributes(first, firstAttributes);
  WriteNameAttributes(second, secondAttributes);
  SyncFolder(FolderOf(second));
  return noErr;
}

OSErr FSDeleteObject(const FSRef *ref) {
  std::string path;
  if (ref == nullptr || !carbon::FSRefToPath(ref, &path)) return errFSBadFSRef;
  if (unlink(path.c_str()) == 0 || (errno == EISDIR && rmdir(path.c_str()) == 0)) return noErr;
  return StatusForErrno(errno);
}

long CarbonFailFileOp(CarbonFileOp op, long after, OSErr status) {
  if (op < 0 || op >= kCarbonFileOpCount) return -1;
  std::lock_guard<std::mutex> guard(faultLock);
  long left = faults[op].countdown;
  faults[op] = Fault{after < 0 ? -1 : after, status};
  return left;
}
