// The preferences file, and the record-store block: the one binary form of a record store in
// files, shared by the preferences file and merge set-up files, written by WriteDictionary
// and read by ReadDictionary.
//
// Record-store block (every integer big-endian):
//   offset          size        content
//   0               4           n, the number of records (unsigned)
//   4               4 * (n+1)   offsets: entry i is where record i starts in the data;
//                               entry 0 is 0, entries never decrease, entry n is T
//   4 + 4 * (n+1)   T           the records' bytes, back to back
//
// Preferences file (data fork only; in the Preferences folder; named by string 5 of the
// 'STR#' 32766 resource; creator 'Qcst', type 'pref'):
//   record section  4 bytes of 0 as written; as read, a nonzero first word starts a block
//   settings text   present only when a text was saved: L (4 bytes), then its L bytes
// The file ends right after the last section; a file longer than its sections say is
// refused. It is replaced whole on every save: the new contents go to a new file beside it,
// named "<name> (new XXXXXXXX)" with digits of its own so that no two saves share one, which
// exchanges contents with the old one (FSpExchangeFiles) only once complete; then the file
// beside it, holding the old contents, is deleted.
#pragma once

#include <Files.h>
#include <MacTypes.h>

#include "store/RecordStore.h"

constexpr UInt32 kBlockCountSize = 4;
constexpr UInt32 kBlockOffsetSize = 4;
constexpr UInt32 kSettingsLengthSize = 4;

constexpr SInt16 kPreferencesStrings = 32766;  // 'STR#' holding the file's name
constexpr SInt16 kPreferencesNameIndex = 5;
constexpr OSType kPreferencesCreator = FourCC("Qcst");
constexpr OSType kPreferencesFileType = FourCC("pref");

// Writes the file with an empty record section and text (null: no settings text). The old
// file stays whole when anything fails; nothing is reported.
void SavePreferences(const char *text);
// Loads the file's record section into globals.records and returns the saved text, a malloc
// string (caller frees), or null when there is none or the file is damaged.
char *LoadPreferences();
// The body of LoadPreferences over an open file, for any store.
char *ReadPreferences(SInt16 fileRef, RecordStore *store);

// Writes store as a block at the file's current position; the store is not changed.
Boolean WriteDictionary(SInt16 fileRef, const RecordStore *store);
// Reads a block from the current position into store, turning CR into 0xFF and 0xFF into
// 0xFE when convert is set. The block is checked before it is used; on failure store keeps
// what it held. The loaded store has no slack: its capacities are its exact sizes.
Boolean ReadDictionary(SInt16 fileRef, RecordStore *store, Boolean convert);

// Bytes between the open file's position and its end; -1 when the file cannot tell.
SInt64 BytesLeft(SInt16 fileRef);
// A number for the name of a file a save creates beside the one it replaces: the process,
// the tick count and a counter mixed, so that two saves at once, in one process or two,
// rarely pick the same name. The file is created exclusively, so a clash costs another try.
UInt32 NewFileNameNumber();

// The preferences file's place; the status of FindFolder (reported).
OSErr GetPreferencesFile(FSSpec *spec);
// The data fork opened read-only; a missing file (-43) is the one failure not reported.
SInt16 OpenReadPreferences(OSErr *status);
// The file at spec opened for writing, created with creator and type 'pref' when missing.
SInt16 OpenWritePreferences(const FSSpec *spec, OSErr *status, OSType creator);
