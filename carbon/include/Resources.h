// Resource Manager: read-only resource files of this layer's own format, a chain of open
// files, and resources handed out as Memory Manager handles.
//
// Ownership. A handle from GetResource, Get1Resource, GetIndResource or Get1IndResource
// belongs to the Resource Manager: asking twice for the same resource gives the same
// handle; ReleaseResource disposes of it, and CloseResFile disposes of every handle of its
// file. Callers never pass a resource handle to DisposeHandle unless they took it over with
// DetachResource first (it is then theirs, and the caller disposes). Every call sets
// ResError().
//
// The chain. Files are searched from the current file (UseResFile) back through the files
// opened before it. Reference number 0 is the empty system file, current when nothing else
// has been opened. Opening a file makes it current. Opening a file that is already open
// returns its existing reference number (and makes it current).
//
// Byte order. Resource data is handed out as it is stored in the file (big-endian), with one
// exception: 'Err2' resources are converted to host byte order when they are loaded, so
// their readers take the 16-bit values as they are.
//
// The file format ("QRsf", version 1; every integer big-endian; the reader checks every
// offset and length against the file's size and refuses the whole file otherwise):
//
//   offset  size  field
//   0       4     magic 'QRsf'
//   4       2     version, 1
//   6       2     reserved, 0
//   8       4     n, the number of resources
//   12      4     reserved, 0
//   16      16*n  resource entries, in index order:
//                   0  4  type
//                   4  2  ID (signed)
//                   6  2  attributes (0)
//                   8  4  data offset from the start of the file
//                   12 4  data length
//   ...           the resources' data
//
// Layouts of the resource types this layer and the plug-in use (integers big-endian in the
// file; texts are Mac OS Roman):
//
//   'STR#'  count (2), then count Pascal strings (length byte + bytes), back to back.
//   'STR '  one Pascal string.
//   'Err2'  count (2), then count entries of 514 bytes each (the count and the codes are in
//           HOST byte order once loaded):
//             0    2    status code (signed)
//             2    256  message 1: a Str255 field (length byte, text, zero fill)
//             258  256  message 2: a Str255 field
//   'ALRT'  bounds (4 x 2: top, left, bottom, right), item list 'DITL' ID (2),
//           default item (2, 1-based).
//   'DLOG'  bounds (4 x 2), window kind (2), visible (1), close box (1), refCon (4),
//           item list 'DITL' ID (2), title (Pascal string).
//   'DITL'  count (2), then count items: kind (2, see Dialogs.h), bounds (4 x 2),
//           text (Pascal string).
//
// The readable source of a resource file and its compiler are described in
// resources/README.md.
#pragma once

#include "MacMemory.h"
#include "MacTypes.h"

typedef SInt16 ResID;
typedef SInt16 ResAttributes;
typedef SInt16 ResFileRefNum;
typedef SInt16 ResourceCount;
typedef SInt16 ResourceIndex;

enum : OSErr {
  mapReadErr = -199,  // the file is not a resource file of this layer, or is damaged
};

enum : ResType {
  kStringListResType = FourCC("STR#"),
  kErrorMessagesResType = FourCC("Err2"),
  kAlertResType = FourCC("ALRT"),
  kDialogResType = FourCC("DLOG"),
  kDialogItemListResType = FourCC("DITL"),
};

// Opens a resource file read-only and makes it current. Returns its reference number, or -1
// with ResError() set (fnfErr, mapReadErr, memFullErr, ...). The file is read whole and
// checked here; the reference number stays valid until CloseResFile.
ResFileRefNum CarbonOpenResourceFile(const char *path);

void UseResFile(ResFileRefNum refNum);  // resFNotFound (current file unchanged) if not open
ResFileRefNum CurResFile();
void CloseResFile(ResFileRefNum refNum);  // disposes of its resource handles; 0 is ignored
OSErr ResError();

// Null on failure with ResError() resNotFound, or memFullErr when the handle could not be
// allocated. The Resource Manager owns the handle (see above).
Handle GetResource(ResType theType, ResID theID);   // searches the chain
Handle Get1Resource(ResType theType, ResID theID);  // the current file only

// Counting and walking by 1-based index, in the order of the file's entries (current file
// first, then down the chain, for the non-1 forms).
ResourceCount CountResources(ResType theType);
ResourceCount Count1Resources(ResType theType);
Handle GetIndResource(ResType theType, ResourceIndex index);
Handle Get1IndResource(ResType theType, ResourceIndex index);

// The ID and type of a resource handle; name is set to the empty string (resources here
// carry no names). Any out-parameter may be null. resNotFound for a handle that is not a
// resource.
void GetResInfo(Handle theResource, ResID *theID, ResType *theType, Str255 name);

void ReleaseResource(Handle theResource);  // disposes of the handle; null is ignored
void DetachResource(Handle theResource);   // the handle becomes the caller's; caller disposes

// String `index` (1-based) of 'STR#' resource strListID, searched along the chain, into
// theString. The empty string when the list is missing or damaged or the index is out of
// range. Never allocates.
void GetIndString(Str255 theString, SInt16 strListID, SInt16 index);

// Test controls of this layer: the reference numbers of all open resource files are closed.
void CarbonCloseAllResourceFiles();
