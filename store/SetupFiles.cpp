// Merge set-up files: saving through a new file exchanged with the old one, and reading
// chunk by chunk.
#include "store/SetupFiles.h"

#include <Endian.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <TextEncodingConverter.h>

#include "external/host/HostCallbacks.h"
#include "external/host/HostGlobals.h"
#include "store/Globals.h"
#include "store/Preferences.h"
#include "store/RecordStore.h"
#include "support/Conversions.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// How many names the save tries for its new file before it gives up.
constexpr int kNewFileAttempts = 64;
// The part of the set-up file's own name that the new file's name keeps.
constexpr UniCharCount kNameKept = 200;

Boolean WriteFork(SInt16 forkRef, const void *bytes, ByteCount count) {
  ByteCount written = 0;
  return count == 0 ||
         (FSWriteFork(forkRef, fsAtMark, 0, count, bytes, &written) == noErr && written == count);
}

Boolean WriteChunkHeader(SInt16 forkRef, OSType tag, UInt32 second) {
  const UInt32 header[2] = {EndianU32_NtoB(tag), EndianU32_NtoB(second)};
  static_assert(sizeof header == kChunkHeaderSize);
  return WriteFork(forkRef, header, sizeof header);
}

// Everything "Save" writes, in order; false at the first write that fails.
Boolean WriteSetup(SInt16 forkRef) {
  if (!WriteChunkHeader(forkRef, kRecordChunkTag, kRecordChunkMarker)) return false;
  if (!WriteDictionary(forkRef, &globals.records)) return false;
  for (const HostGlobal &global : hostGlobals) {
    if (!SaveGlobal(forkRef, global.code)) return false;
  }
  SInt64 end = 0;
  return FSGetForkPosition(forkRef, &end) == noErr && FSSetForkSize(forkRef, fsFromStart, end) == noErr;
}

// The name of the new file: ".", the set-up file's name, ".save-" and eight hex digits.
UniCharCount NewFileName(const HFSUniStr255 &name, UInt32 unique, UniChar *out) {
  UniCharCount kept = name.length < kNameKept ? name.length : kNameKept;
  if (kept > 0 && name.unicode[kept - 1] >= 0xD800 && name.unicode[kept - 1] < 0xDC00) kept--;  // whole pairs
  UniCharCount length = 0;
  out[length++] = '.';
  for (UniCharCount i = 0; i < kept; i++) out[length++] = name.unicode[i];
  static const UInt8 kSuffix[] = ".save-";
  static const UInt8 kHex[] = "0123456789abcdef";
  for (size_t i = 0; i + 1 < sizeof kSuffix; i++) out[length++] = kSuffix[i];
  for (int shift = 28; shift >= 0; shift -= 4) out[length++] = kHex[(unique >> shift) & 15];
  return length;
}

// A new, empty file with a name of its own in the folder of file; false when none could be made.
Boolean CreateNewFileBeside(const FSRef *file, FSRef *created) {
  HFSUniStr255 name;
  FSRef folder;
  if (FSGetCatalogInfo(file, kFSCatInfoNone, nullptr, &name, nullptr, &folder) != noErr) return false;
  for (int attempt = 0; attempt < kNewFileAttempts; attempt++) {
    UniChar newName[255];
    UniCharCount length = NewFileName(name, NewFileNameNumber(), newName);
    OSErr status = FSCreateFileUnicode(&folder, length, newName, kFSCatInfoNone, nullptr, created, nullptr);
    if (status == noErr) return true;
    if (status != dupFNErr) return false;
  }
  return false;
}

// The existing file must be one this user may write: it is opened for writing, and closed.
Boolean MayWrite(const FSRef *file) {
  HFSUniStr255 dataFork;
  SInt16 forkRef = 0;
  if (FSGetDataForkName(&dataFork) != noErr) return false;
  if (FSOpenFork(file, dataFork.length, dataFork.unicode, fsWrPerm, &forkRef) != noErr) return false;
  return FSCloseFork(forkRef) == noErr;
}

// Writes the set-up into the new file; the fork is closed in every case.
Boolean FillNewFile(const FSRef *created) {
  HFSUniStr255 dataFork;
  SInt16 forkRef = 0;
  if (FSGetDataForkName(&dataFork) != noErr) return false;
  if (FSOpenFork(created, dataFork.length, dataFork.unicode, fsWrPerm, &forkRef) != noErr) return false;
  Boolean written = WriteSetup(forkRef);
  return FSCloseFork(forkRef) == noErr && written;
}

Boolean ReadFork(SInt16 forkRef, void *bytes, ByteCount count, ByteCount *actual) {
  *actual = 0;
  return count == 0 || FSReadFork(forkRef, fsAtMark, 0, count, bytes, actual) == noErr;
}

// A record-store chunk: the current store is replaced by a new, empty one, which is then
// filled from the block (converted when it is the older form).
Boolean OpenRecordChunk(SInt16 forkRef, OSType tag, UInt32 marker) {
  if (marker != kRecordChunkMarker) return false;
  RecordStore fresh = {};
  if (!InitDictionary(&fresh)) return false;
  KillDictionary(&globals.records);
  globals.records = fresh;
  return ReadDictionary(forkRef, &globals.records, tag == kOldRecordChunkTag);
}

// A text chunk of length bytes. Only the bytes the file still holds are read (a file cut
// short inside the chunk gives its global what was read, then false); other tags are skipped.
Boolean OpenTextChunk(SInt16 forkRef, OSType tag, UInt32 length) {
  SInt64 left = BytesLeft(forkRef);
  if (left < 0) return false;
  const char *name = GetGlobalName(tag);
  if (name == nullptr) return length <= left && SetFPos(forkRef, fsFromMark, long(length)) == noErr;
  ByteCount wanted = length <= left ? length : ByteCount(left);
  auto *text = static_cast<char *>(std::malloc(wanted + 1));
  if (text == nullptr) return false;
  ByteCount actual = 0;
  Boolean read = ReadFork(forkRef, text, wanted, &actual) && actual == length;
  text[actual] = 0;
  ReplaceCharacters(13, 10, text);
  int32_t status = 0;
  SetGlobal(name, text, &status);
  std::free(text);
  return read;
}

// Reads chunks up to the end of the file; false at the first damage.
Boolean ReadSetup(SInt16 forkRef) {
  for (;;) {
    UInt32 header[2];
    ByteCount actual = 0;
    OSErr status = FSReadFork(forkRef, fsAtMark, 0, sizeof header, header, &actual);
    if (status == eofErr) return actual == 0;  // 1 to 7 bytes after the last chunk: damaged
    if (status != noErr) return false;
    OSType tag = EndianU32_BtoN(header[0]);
    UInt32 second = EndianU32_BtoN(header[1]);
    Boolean read = tag == kRecordChunkTag || tag == kOldRecordChunkTag ? OpenRecordChunk(forkRef, tag, second)
                                                                       : OpenTextChunk(forkRef, tag, second);
    if (!read) return false;
  }
}

}  // namespace

OSStatus HostPathToFSRef(const char *path, FSRef *ref) {
  TextEncoding systemEncoding = 0;
  OSStatus status = UpgradeScriptInfoToTextEncoding(smSystemScript, kTextLanguageDontCare,
                                                    kTextRegionDontCare, nullptr, &systemEncoding);
  if (status != noErr) return status;
  TECObjectRef converter = nullptr;
  TextEncoding utf8 =
      CreateTextEncoding(kTextEncodingUnicodeDefault, kTextEncodingDefaultVariant, kUnicodeUTF8Format);
  status = TECCreateConverter(&converter, systemEncoding, utf8);
  if (status != noErr) return status;
  size_t length = std::strlen(path);
  // A Mac OS Roman character takes at most 3 bytes of UTF-8; 4 leaves room to spare.
  Ptr converted = length < size_t(INT32_MAX / 4) ? NewPtr(Size(4 * length + 1)) : nullptr;
  if (converted == nullptr) {
    TECDisposeConverter(converter);
    return memFullErr;
  }
  ByteCount read = 0, made = 0;
  auto *out = reinterpret_cast<UInt8 *>(converted);
  status =
      TECConvertText(converter, reinterpret_cast<ConstTextPtr>(path), length, &read, out, 4 * length, &made);
  out[made] = 0;
  if (status == noErr) status = FSPathMakeRef(out, ref, nullptr);
  DisposePtr(converted);
  TECDisposeConverter(converter);
  return status;
}

Boolean SaveGlobal(SInt16 forkRef, OSType code) {
  const char *name = GetGlobalName(code);
  if (name == nullptr) return false;
  int32_t status = 0;
  char *value = GetGlobal(name, &status);
  if (value == nullptr) return false;
  ReplaceCharacters(10, 13, value);
  size_t length = std::strlen(value);
  Boolean written = length <= UINT32_MAX && WriteChunkHeader(forkRef, code, UInt32(length)) &&
                    WriteFork(forkRef, value, length);
  std::free(value);
  return written;
}

Boolean SaveFile(const char *path) {
  FSRef file, created;
  if (globals.records.data == nullptr) return false;
  if (HostPathToFSRef(path, &file) != noErr || !MayWrite(&file)) return false;
  if (!CreateNewFileBeside(&file, &created)) return false;
  // After the exchange the new file's name holds the old contents, which go with it.
  Boolean saved = FillNewFile(&created) && FSExchangeObjects(&created, &file) == noErr;
  FSDeleteObject(&created);
  return saved;
}

Boolean OpenFile(const char *path) {
  FSRef file;
  HFSUniStr255 dataFork;
  SInt16 forkRef = 0;
  if (HostPathToFSRef(path, &file) != noErr || FSGetDataForkName(&dataFork) != noErr) return false;
  if (FSOpenFork(&file, dataFork.length, dataFork.unicode, fsRdPerm, &forkRef) != noErr) return false;
  Boolean read = ReadSetup(forkRef);
  FSCloseFork(forkRef);
  return read;
}
