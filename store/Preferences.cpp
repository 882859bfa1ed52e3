// The preferences file and the record-store block reader and writer.
#include "store/Preferences.h"

#include <Endian.h>
#include <Events.h>
#include <Folders.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <Processes.h>
#include <Resources.h>

#include "store/Globals.h"
#include "support/Conversions.h"
#include "support/ErrorReporting.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Offsets are converted to and from big-endian through this many entries at a time.
constexpr long kOffsetChunk = 1024;

Boolean WriteBytes(SInt16 fileRef, const void *bytes, long count) {
  if (count == 0) return true;
  long written = count;
  return FSWrite(fileRef, &written, bytes) == noErr && written == count;
}

Boolean ReadBytes(SInt16 fileRef, void *bytes, long count) {
  if (count == 0) return true;
  long read = count;
  return FSRead(fileRef, &read, bytes) == noErr && read == count;
}

Boolean WriteBigEndian32(SInt16 fileRef, UInt32 value) {
  UInt32 bytes = EndianU32_NtoB(value);
  return WriteBytes(fileRef, &bytes, 4);
}

Boolean ReadBigEndian32(SInt16 fileRef, UInt32 *value) {
  UInt32 bytes = 0;
  if (!ReadBytes(fileRef, &bytes, 4)) return false;
  *value = EndianU32_BtoN(bytes);
  return true;
}

// Reads n + 1 offsets into a new handle and checks that they start at 0, never decrease,
// and that the data they describe fits in the bytes left. Null on failure; caller disposes.
Handle ReadBlockOffsets(SInt16 fileRef, UInt32 n, SInt64 bytesLeft, UInt32 *total) {
  SInt64 size = (SInt64(n) + 1) * kBlockOffsetSize;
  if (size > bytesLeft || size > INT32_MAX) return nullptr;
  Handle offsets = MyNewHandle(Size(size));
  if (offsets == nullptr) return nullptr;
  auto *entries = reinterpret_cast<UInt32 *>(*offsets);
  Boolean valid = ReadBytes(fileRef, entries, long(size));
  for (UInt32 i = 0; valid && i <= n; i++) {
    entries[i] = EndianU32_BtoN(entries[i]);
    valid = i == 0 ? entries[0] == 0 : entries[i] >= entries[i - 1];
  }
  if (!valid || entries[n] > bytesLeft - size || entries[n] > UInt32(INT32_MAX)) {
    MyDisposeHandle(offsets);
    return nullptr;
  }
  *total = entries[n];
  return offsets;
}

// CR becomes 0xFF and 0xFF becomes 0xFE, each byte changed at most once.
void ConvertLoadedRecords(UInt8 *bytes, UInt32 count) {
  for (UInt32 i = 0; i < count; i++) {
    if (bytes[i] == 13) {
      bytes[i] = 0xFF;
    } else if (bytes[i] == 0xFF) {
      bytes[i] = 0xFE;
    }
  }
}

// A name for the file that a save writes before it takes the preferences file's place: the
// file's name and " (new XXXXXXXX)", the digits made from unique, so that two hosts saving at
// once never write into one file.
void MakeReplacementSpec(const FSSpec *file, UInt32 unique, FSSpec *replacement) {
  static const UInt8 kSuffix[] = " (new ";
  static const UInt8 kHex[] = "0123456789abcdef";
  constexpr UInt8 kAdded = sizeof kSuffix - 1 + 8 + 1;
  *replacement = *file;
  UInt8 length = replacement->name[0] < 63 - kAdded ? replacement->name[0] : UInt8(63 - kAdded);
  UInt8 *at = replacement->name + 1 + length;
  BlockMoveData(kSuffix, at, sizeof kSuffix - 1);
  at += sizeof kSuffix - 1;
  for (int shift = 28; shift >= 0; shift -= 4) *at++ = kHex[(unique >> shift) & 15];
  *at = ')';
  replacement->name[0] = UInt8(length + kAdded);
}

// Creates the replacement under a name no other file has: a name already taken is never
// opened (whatever is there, a link included), another is tried.
OSErr CreateReplacement(const FSSpec *file, FSSpec *replacement) {
  OSErr status = dupFNErr;
  for (int attempt = 0; attempt < 16 && status == dupFNErr; attempt++) {
    MakeReplacementSpec(file, NewFileNameNumber(), replacement);
    status = FSpCreate(replacement, kPreferencesCreator, kPreferencesFileType, smSystemScript);
  }
  TestError(status);
  return status;
}

Boolean WritePreferencesSections(SInt16 fileRef, const char *text) {
  if (!WriteBigEndian32(fileRef, 0)) return false;
  if (text != nullptr) {
    size_t length = std::strlen(text);
    if (length > UINT32_MAX) return false;
    if (!WriteBigEndian32(fileRef, UInt32(length)) || !WriteBytes(fileRef, text, long(length))) return false;
  }
  long position = 0;
  return GetFPos(fileRef, &position) == noErr && SetEOF(fileRef, position) == noErr;
}

// The complete replacement takes the preferences file's place: the two files exchange their
// contents, so the replacement's name then holds the old contents. With no preferences file
// yet, the replacement is renamed to it.
void PutReplacementInPlace(const FSSpec *replacement, const FSSpec *file) {
  if (FSpExchangeFiles(replacement, file) == fnfErr) FSpRename(replacement, file->name);
}

}  // namespace

SInt64 BytesLeft(SInt16 fileRef) {
  long position = 0, end = 0;
  if (GetFPos(fileRef, &position) != noErr || GetEOF(fileRef, &end) != noErr) return -1;
  return end > position ? end - position : 0;
}

UInt32 NewFileNameNumber() {
  ProcessSerialNumber self = {0, 0};
  GetCurrentProcess(&self);
  static UInt32 counter = 0;
  return (self.lowLongOfPSN * 2654435761u) ^ (UInt32(TickCount()) << 8) ^ ++counter;
}

OSErr GetPreferencesFile(FSSpec *spec) {
  int16_t vRefNum = 0;
  long dirID = 0;
  OSErr status = FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vRefNum, &dirID);
  TestError(status);
  if (status != noErr) return status;
  Str255 name;
  GetIndString(name, kPreferencesStrings, kPreferencesNameIndex);
  if (name[0] == 0) {
    // Without the plug-in's resource file there is no name to open.
    TestError(resNotFound);
    return resNotFound;
  }
  spec->vRefNum = vRefNum;
  spec->parID = int32_t(dirID);
  spec->name[0] = name[0] < 63 ? name[0] : 63;
  BlockMoveData(name + 1, spec->name + 1, spec->name[0]);
  return noErr;
}

SInt16 OpenReadPreferences(OSErr *status) {
  FSSpec spec;
  SInt16 fileRef = 0;
  *status = GetPreferencesFile(&spec);
  if (*status != noErr) return 0;
  *status = FSpOpenDF(&spec, fsRdPerm, &fileRef);
  if (*status != fnfErr) TestError(*status);
  return fileRef;
}

SInt16 OpenWritePreferences(const FSSpec *spec, OSErr *status, OSType creator) {
  SInt16 fileRef = 0;
  // One creation at most: a file that cannot be opened right after it was made is a failure.
  for (int attempt = 0; attempt < 2; attempt++) {
    *status = FSpOpenDF(spec, fsWrPerm, &fileRef);
    if (*status != fnfErr || attempt == 1) break;
    *status = FSpCreate(spec, creator, kPreferencesFileType, smSystemScript);
    TestError(*status);
    if (*status != noErr) break;
  }
  return fileRef;
}

void SavePreferences(const char *text) {
  FSSpec file, replacement;
  if (GetPreferencesFile(&file) != noErr || CreateReplacement(&file, &replacement) != noErr) return;
  SInt16 fileRef = 0;
  if (FSpOpenDF(&replacement, fsWrPerm, &fileRef) != noErr) {
    FSpDelete(&replacement);
    return;
  }
  Boolean written = WritePreferencesSections(fileRef, text);
  written = FSClose(fileRef) == noErr && written;
  if (written) PutReplacementInPlace(&replacement, &file);
  FSpDelete(&replacement);  // the old contents, or a save that did not complete
}

char *LoadPreferences() {
  OSErr status;
  SInt16 fileRef = OpenReadPreferences(&status);
  if (status != noErr) return nullptr;
  char *text = ReadPreferences(fileRef, &globals.records);
  FSClose(fileRef);
  return text;
}

char *ReadPreferences(SInt16 fileRef, RecordStore *store) {
  UInt32 count = 0, length = 0;
  if (!ReadBigEndian32(fileRef, &count)) return nullptr;
  if (count != 0 && (SetFPos(fileRef, fsFromMark, -4) != noErr || !ReadDictionary(fileRef, store, true))) {
    return nullptr;
  }
  if (!ReadBigEndian32(fileRef, &length) || length > BytesLeft(fileRef)) return nullptr;
  auto *text = static_cast<char *>(std::malloc(size_t(length) + 1));
  if (text == nullptr) return nullptr;
  // Bytes after the text are a file that its sections do not describe, such as a save torn by
  // a crash: refused whole.
  if (!ReadBytes(fileRef, text, long(length)) || BytesLeft(fileRef) != 0) {
    std::free(text);
    return nullptr;
  }
  text[length] = 0;
  return text;
}

Boolean WriteDictionary(SInt16 fileRef, const RecordStore *store) {
  if (store->data == nullptr || store->offsets == nullptr) return false;
  auto items = UInt32(store->items);
  if (!WriteBigEndian32(fileRef, items)) return false;
  const auto *offsets = reinterpret_cast<const UInt32 *>(*store->offsets);
  UInt32 chunk[kOffsetChunk];
  for (UInt32 first = 0; first <= items; first += kOffsetChunk) {
    UInt32 count = items + 1 - first < kOffsetChunk ? items + 1 - first : UInt32(kOffsetChunk);
    for (UInt32 i = 0; i < count; i++) chunk[i] = EndianU32_NtoB(offsets[first + i]);
    if (!WriteBytes(fileRef, chunk, long(count) * kBlockOffsetSize)) return false;
  }
  return WriteBytes(fileRef, *store->data, long(offsets[items]));
}

Boolean ReadDictionary(SInt16 fileRef, RecordStore *store, Boolean convert) {
  UInt32 n = 0, total = 0;
  if (!ReadBigEndian32(fileRef, &n)) return false;
  Handle offsets = ReadBlockOffsets(fileRef, n, BytesLeft(fileRef), &total);
  if (offsets == nullptr) return false;
  Handle data = MyNewHandle(Size(total));
  if (data == nullptr || !ReadBytes(fileRef, *data, long(total))) {
    MyDisposeHandle(data);
    MyDisposeHandle(offsets);
    return false;
  }
  if (convert) ConvertLoadedRecords(reinterpret_cast<UInt8 *>(*data), total);
  KillDictionary(store);
  store->data = data;
  store->offsets = offsets;
  store->dataCapacity = SInt32(total);
  store->offsetsCapacity = SInt32((n + 1) * kBlockOffsetSize);
  store->items = SInt32(n);
  return true;
}
