// Merge set-up files: "Save" writes the record store and the twelve host globals of a merge
// set-up to a file that the script has created, and "Open" reads them back.
//
// Set-up file (data fork only; no file header, no padding; every number 32-bit big-endian): a
// sequence of chunks, each an 8-byte header followed by its data.
//   offset  size  field
//   0       4     tag, four ASCII characters
//   4       4     the data length L, or for a record-store chunk the marker "Dict"
// Chunk kinds:
//   "Dic2"          records: one record-store block (Preferences.h), which is self-delimiting;
//                   fields inside a record are separated by 0xFF
//   "Dict"          the older form of the same, read only: CR in its records becomes 0xFF and
//                   0xFF becomes 0xFE
//   a global's code the host global's text, L bytes, no terminator, CR line ends
//   any other tag   L bytes, skipped
// "Save" writes "Dic2" first, then one chunk per host global in the order of hostGlobals
// (HostGlobals.h); the file ends after the last chunk. Chunks are read in file order, a later
// chunk of one kind overriding an earlier one.
//
// Paths are slash-separated and in the system script's encoding, as the host hands them over.
#pragma once

#include <Files.h>
#include <MacTypes.h>

constexpr OSType kRecordChunkTag = FourCC("Dic2");
constexpr OSType kOldRecordChunkTag = FourCC("Dict");
constexpr OSType kRecordChunkMarker = FourCC("Dict");
constexpr UInt32 kChunkHeaderSize = 8;

// The host's path (system script encoding) as a reference to an existing file or folder;
// 0, or the status of the call that failed (a path naming nothing fails).
OSStatus HostPathToFSRef(const char *path, FSRef *ref);

// Writes the chunk of the host global of code at the fork's position: false for a code
// outside the table, a global that cannot be read, or a failed write.
Boolean SaveGlobal(SInt16 forkRef, OSType code);

// "Save": the record store and the twelve globals into the existing file at path. The new
// contents are written to a new file beside it and exchanged with the old contents only once
// complete, so that a failed save leaves the old file whole. False, touching nothing, before
// "Init" or after "Kill" (no record store), and for a path that names no existing file.
Boolean SaveFile(const char *path);

// "Open": replaces the record store and sets the globals from the file at path. True when the
// whole file was read. A damaged file answers false; what was read before the damage stays
// (a record-store chunk replaces the store first, leaving it empty when its block is bad).
Boolean OpenFile(const char *path);
