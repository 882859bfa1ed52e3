// File Manager over POSIX files, with the desktop database of the emulated volumes.
//
// Volumes: volume index 1 is the system disk (the Linux root, vRefNum -100); index 2 is the
// Applications folder under QUILLCAST_HOME (vRefNum -101); then each folder of the
// colon-separated QUILLCAST_VOLUMES (-102, -103, ...). Directory IDs are handed out per
// process for folders as they are met and stay valid for the life of the process. An FSRef
// names one path through an entry in a per-process table. File reference numbers and fork
// reference numbers are POSIX descriptors in disguise; the caller closes them (FSClose,
// FSCloseFork), and a number that this layer did not open is refused with rfNumErr.
//
// Opening never creates a file (fnfErr). Permissions: fsRdPerm reads, fsWrPerm writes,
// fsRdWrPerm and fsRdWrShPerm do both, fsCurPerm takes the most the file allows. A file's
// type and creator (FSpCreate) are kept in the extended attribute "user.quillcast.FinderInfo"
// (8 bytes: type, then creator, big-endian) where the file system has them; files without
// it have type and creator 0.
//
// Safe saving: write the new contents into a second file in the same folder (FSpCreate,
// FSpOpenDF, FSWrite, FSClose), then FSpExchangeFiles(newSpec, oldSpec) and FSpDelete(newSpec)
// (FSpRename when there is no old file yet). The exchange is one step, so a reader sees
// either the whole old file or the whole new one, never a mixture, and a failed save leaves
// the old file as it was.
#pragma once

#include "MacTypes.h"

enum : OSStatus { pathTooLongErr = -2095 };

struct FSSpec {
  int16_t vRefNum;
  int32_t parID;
  Str63 name;
};
typedef FSSpec *FSSpecPtr;

struct FSRef {
  uint8_t hidden[80];
};

struct HFSUniStr255 {
  uint16_t length;
  UniChar unicode[255];
};

struct FInfo {
  OSType fdType;
  OSType fdCreator;
  uint16_t fdFlags;
  Point fdLocation;
  int16_t fdFldr;
};

enum { fsCurPerm = 0, fsRdPerm = 1, fsWrPerm = 2, fsRdWrPerm = 3, fsRdWrShPerm = 4 };
enum { fsAtMark = 0, fsFromStart = 1, fsFromLEOF = 2, fsFromMark = 3 };
enum { fsRtParID = 1, fsRtDirID = 2 };
enum { kFSCatInfoNone = 0 };

// FSSpec calls (the preferences file).
OSErr FSMakeFSSpec(int16_t vRefNum, int32_t dirID, ConstStr255Param fileName, FSSpec *spec);
OSErr FSpOpenDF(const FSSpec *spec, SInt8 permission, int16_t *refNum);
OSErr FSpCreate(const FSSpec *spec, OSType creator, OSType fileType, ScriptCode scriptTag);
OSErr FSpDelete(const FSSpec *spec);
OSErr FSpGetFInfo(const FSSpec *spec, FInfo *fndrInfo);
OSErr FSRead(int16_t refNum, long *count, void *buffPtr);  // eofErr with *count short at end
OSErr FSWrite(int16_t refNum, long *count, const void *buffPtr);
OSErr GetFPos(int16_t refNum, long *filePos);
OSErr SetFPos(int16_t refNum, int16_t posMode, long posOff);
OSErr GetEOF(int16_t refNum, long *logEOF);
OSErr SetEOF(int16_t refNum, long logEOF);
OSErr FSClose(int16_t refNum);

// Renaming and exchanging within one volume. FSpRename: dupFNErr when newName is taken.
// FSpExchangeFiles: the two files swap contents (and type and creator) in one step, both
// flushed to disk first; both must exist (fnfErr). Each counts as one rename for the fault
// hook.
OSErr FSpRename(const FSSpec *spec, ConstStr255Param newName);
OSErr FSpExchangeFiles(const FSSpec *source, const FSSpec *dest);

// FSRef and fork calls (merge set-up files).
OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory);  // path: UTF-8
OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path, UInt32 maxPathSize);    // pathTooLongErr
OSErr FSGetDataForkName(HFSUniStr255 *dataForkName);                          // the empty name
OSErr FSOpenFork(const FSRef *ref, UniCharCount forkNameLength, const UniChar *forkName, SInt8 permissions,
                 int16_t *forkRefNum);
OSErr FSReadFork(int16_t forkRefNum, uint16_t positionMode, SInt64 positionOffset, ByteCount requestCount,
                 void *buffer, ByteCount *actualCount);
OSErr FSWriteFork(int16_t forkRefNum, uint16_t positionMode, SInt64 positionOffset, ByteCount requestCount,
                  const void *buffer, ByteCount *actualCount);
OSErr FSGetForkPosition(int16_t forkRefNum, SInt64 *position);
OSErr FSSetForkSize(int16_t forkRefNum, uint16_t positionMode, SInt64 positionOffset);
OSErr FSCloseFork(int16_t forkRefNum);
OSErr FSGetCatalogInfo(const FSRef *ref, UInt32 whichInfo, void *catalogInfo, HFSUniStr255 *outName,
                       FSSpec *fsSpec, FSRef *parentRef);

// Saving through FSRefs without ever leaving a half-written file: FSCreateFileUnicode makes a
// new, empty file in parentRef's folder, readable and writable by its owner alone, failing
// with dupFNErr when the name is taken (an existing link is never followed); the caller
// fills it and FSExchangeObjects then swaps the contents of the two files in one step, each
// name keeping its own permissions, type and creator; FSDeleteObject removes the file that
// now holds the old contents. FSPathMakeRef resolves links, so a ref always names the file
// itself and the new file is made beside it. whichInfo must be kFSCatInfoNone; newRef and
// newSpec may be null (newSpec stays unset when the name is too long for an FSSpec).
OSErr FSCreateFileUnicode(const FSRef *parentRef, UniCharCount nameLength, const UniChar *name,
                          UInt32 whichInfo, const void *catalogInfo, FSRef *newRef, FSSpec *newSpec);
OSErr FSExchangeObjects(const FSRef *ref, const FSRef *destRef);
OSErr FSDeleteObject(const FSRef *ref);

// Volumes and the desktop database (application lookup by creator code).
struct HVolumeParam {
  OSErr ioResult;
  StringPtr ioNamePtr;
  int16_t ioVRefNum;
  int16_t ioVolIndex;
};
union HParamBlockRec {
  HVolumeParam volumeParam;
};

struct DTPBRec {
  OSErr ioResult;
  StringPtr ioNamePtr;
  int16_t ioVRefNum;
  int16_t ioDTRefNum;
  int16_t ioIndex;
  OSType ioFileCreator;
  int32_t ioAPPLParID;
};

OSErr PBHGetVInfoSync(HParamBlockRec *paramBlock);  // by ioVolIndex; nsvErr past the last
OSErr PBDTGetPath(DTPBRec *paramBlock);             // ioVRefNum -> ioDTRefNum
OSErr PBDTGetAPPLSync(DTPBRec *paramBlock);         // ioFileCreator, ioIndex -> name, parID

// Test and tool controls of this layer: a file-system fault hook, so that the Nth open,
// read, write or rename fails with the given status. CarbonFailFileOp(op, n, status) lets n
// more operations of that kind succeed and makes the one after fail, once; after < 0 turns
// it off. It returns what the fault armed before still had to let through: < 0 once that
// one has fired (or when none was armed). Opens are FSpOpenDF, FSOpenFork and FSpCreate;
// reads FSRead and FSReadFork (the failing read reads nothing); writes FSWrite, FSWriteFork,
// SetEOF and FSSetForkSize (the failing write writes nothing); renames FSpRename,
// FSpExchangeFiles and FSExchangeObjects; FSCreateFileUnicode counts as an open. The plug-in
// never calls it.
enum CarbonFileOp {
  kCarbonFileOpen,
  kCarbonFileRead,
  kCarbonFileWrite,
  kCarbonFileRename,
  kCarbonFileOpCount
};
long CarbonFailFileOp(CarbonFileOp op, long after, OSErr status);  // after < 0: off
