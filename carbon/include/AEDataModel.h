// Apple Event Manager, data model: descriptors, lists, records, coercion and the flattened
// form of a descriptor.
//
// A descriptor owns its data handle: whoever receives an AEDesc from these calls disposes it
// with AEDisposeDesc, which leaves the null descriptor { typeNull, null }. The data handle is
// private to the Apple Event Manager (it holds the content described in AEFlatten.h): read
// data with AEGetDescData and the get calls, never through the handle, and never make an
// AEDesc around a handle of one's own. Data of the types 'type', 'enum', 'keyw', 'prop',
// 'long', 'shor', 'magn', 'abso' and 'psn ' is given and returned in this machine's native
// byte order, as callers expect (the flattened form converts it to big-endian).
//
// Lists and records are 1-based. Results of the list and record calls:
//   errAEBadListItem (-1705)   no item at that index (get, size, delete)
//   errAEIllegalIndex (-1719)  a put index below 0 or beyond count + 1 (0 and count + 1 append)
//   errAEDescNotFound (-1701)  no item with that keyword
//   errAEWrongDataType (-1703) a list call on plain data, a keyed call on a list, or an append
//                              to a record (records take items by keyword)
//   errAEDescIsNull (-1739)    a list or record call on the null descriptor
//   errAENotAEDesc (-1704)     a descriptor whose handle holds no content of ours
//   errAECoercionFail (-1700)  the item cannot be coerced to the desired type
//   memFullErr (-108)          no memory; the list or record is left as it was
// Output descriptors of failed get and coerce calls are set to the null descriptor.
//
// Desired types: typeWildCard ('****') or the item's own type take the item as it is. The
// coercions: a record (of any record type) to any other record type, e.g. 'reco' <-> 'obj ' or
// 'insl'; anything to a one-item 'list'; a one-item list to whatever its item coerces to; the
// numbers 'shor', 'long', 'magn' among each other (in range), and with 'bool', 'true', 'fals'
// and the enumerators 'true'/'fals' as 1 and 0; 'bool' from those and from 0 or 1; 'enum',
// 'type', 'keyw', 'prop', 'abso' among each other and from four characters of text; 'TEXT'
// (Mac OS Roman), 'utf8' and 'utxt' among each other (unmappable characters become '?') and
// from numbers (decimal), codes (their four characters) and Booleans ("true", "false"); and
// text to numbers (decimal, blanks around it allowed).
//
// 'list', 'reco' and 'aevt' descriptors hold lists, records and events: AECreateDesc of one of
// these types with no data makes an empty one. AEGetDescDataSize and AEGetDescData of a list,
// record or event give its content as it is kept (the same sizes as AESizeOfNthItem and
// AESizeOfParam), which AECreateDesc of the same type accepts back.
#pragma once

#include "MacMemory.h"
#include "MacTypes.h"

typedef FourCharCode DescType;
typedef FourCharCode AEKeyword;
typedef Handle AEDataStorage;

struct AEDesc {
  DescType descriptorType;
  AEDataStorage dataHandle;
};

struct AEKeyDesc {
  AEKeyword descKey;
  AEDesc descContent;
};

typedef AEDesc AEDescList;
typedef AEDescList AERecord;
typedef AEDesc AEAddressDesc;
typedef AERecord AppleEvent;

enum : DescType {
  typeNull = FourCC("null"),
  typeBoolean = FourCC("bool"),
  typeTrue = FourCC("true"),
  typeFalse = FourCC("fals"),
  typeSInt16 = FourCC("shor"),
  typeShortInteger = FourCC("shor"),
  typeSInt32 = FourCC("long"),
  typeLongInteger = FourCC("long"),
  typeInteger = FourCC("long"),
  typeUInt32 = FourCC("magn"),
  typeSInt64 = FourCC("comp"),
  typeIEEE32BitFloatingPoint = FourCC("sing"),
  typeIEEE64BitFloatingPoint = FourCC("doub"),
  typeEnumerated = FourCC("enum"),
  typeType = FourCC("type"),
  typeKeyword = FourCC("keyw"),
  typeProperty = FourCC("prop"),
  typeChar = FourCC("TEXT"),
  typeUTF8Text = FourCC("utf8"),
  typeUnicodeText = FourCC("utxt"),
  typeCString = FourCC("cstr"),
  typePString = FourCC("pstr"),
  typeAEList = FourCC("list"),
  typeAERecord = FourCC("reco"),
  typeAppleEvent = FourCC("aevt"),
  typeObjectSpecifier = FourCC("obj "),
  typeInsertionLoc = FourCC("insl"),
  typeAbsoluteOrdinal = FourCC("abso"),
  typeProcessSerialNumber = FourCC("psn "),
  typeApplSignature = FourCC("sign"),
  typeKernelProcessID = FourCC("kpid"),
  typeAlias = FourCC("alis"),
  typeFSS = FourCC("fss "),
  typeFSRef = FourCC("fsrf"),
  typeFileURL = FourCC("furl"),
  typeWildCard = FourCC("****"),
  typeLongDateTime = FourCC("ldt "),
};

enum : uint32_t {
  kAEDescListFactorNone = 0,
  kAEDescListFactorType = 4,
  kAEDescListFactorTypeAndSize = 8,
};

void AEInitializeDesc(AEDesc *desc);  // sets { typeNull, null }
OSErr AECreateDesc(DescType typeCode, const void *dataPtr, Size dataSize, AEDesc *result);
OSErr AEDisposeDesc(AEDesc *theAEDesc);  // leaves the descriptor as the null descriptor
OSErr AEDuplicateDesc(const AEDesc *theAEDesc, AEDesc *result);
Size AEGetDescDataSize(const AEDesc *theAEDesc);
OSErr AEGetDescData(const AEDesc *theAEDesc, void *dataPtr, Size maximumSize);
OSErr AEReplaceDescData(DescType typeCode, const void *dataPtr, Size dataSize, AEDesc *theAEDesc);

// *result: a new descriptor, caller disposes; the null descriptor on failure.
OSErr AECoercePtr(DescType typeCode, const void *dataPtr, Size dataSize, DescType toType, AEDesc *result);
OSErr AECoerceDesc(const AEDesc *theAEDesc, DescType toType, AEDesc *result);

OSErr AECreateList(const void *factoringPtr, Size factoredSize, Boolean isRecord, AEDescList *resultList);
OSErr AECountItems(const AEDescList *theAEDescList, long *theCount);
OSErr AEPutPtr(AEDescList *theAEDescList, long index, DescType typeCode, const void *dataPtr, Size dataSize);
OSErr AEPutDesc(AEDescList *theAEDescList, long index, const AEDesc *theAEDesc);
OSErr AEGetNthPtr(const AEDescList *theAEDescList, long index, DescType desiredType, AEKeyword *theAEKeyword,
                  DescType *typeCode, void *dataPtr, Size maximumSize, Size *actualSize);
OSErr AEGetNthDesc(const AEDescList *theAEDescList, long index, DescType desiredType, AEKeyword *theAEKeyword,
                   AEDesc *result);
OSErr AESizeOfNthItem(const AEDescList *theAEDescList, long index, DescType *typeCode, Size *dataSize);
OSErr AEDeleteItem(AEDescList *theAEDescList, long index);
Boolean AECheckIsRecord(const AEDesc *theDesc);

OSErr AEPutKeyPtr(AERecord *theAERecord, AEKeyword theAEKeyword, DescType typeCode, const void *dataPtr,
                  Size dataSize);
OSErr AEPutKeyDesc(AERecord *theAERecord, AEKeyword theAEKeyword, const AEDesc *theAEDesc);
OSErr AEGetKeyPtr(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType desiredType,
                  DescType *typeCode, void *dataPtr, Size maximumSize, Size *actualSize);
OSErr AEGetKeyDesc(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType desiredType, AEDesc *result);
OSErr AESizeOfKeyDesc(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType *typeCode,
                      Size *dataSize);
OSErr AEDeleteKeyDesc(AERecord *theAERecord, AEKeyword theAEKeyword);

// Flattened form, for the wire between processes (layout in AEFlatten.h). AEFlattenDesc sets
// *actualSize to the size needed; with a null buffer it writes nothing and answers noErr, with
// a buffer too small it writes nothing and answers errAEBufferTooSmall. AEUnflattenDescSafe is
// this layer's bounded reader for bytes from another process: it never reads past bufferSize,
// answers paramErr for anything malformed (memFullErr without memory), and leaves the null
// descriptor in *result on failure; on success the caller disposes *result.
Size AESizeOfFlattenedDesc(const AEDesc *theAEDesc);
OSStatus AEFlattenDesc(const AEDesc *theAEDesc, Ptr buffer, Size bufferSize, Size *actualSize);
OSStatus AEUnflattenDescSafe(const void *buffer, Size bufferSize, AEDesc *result);
