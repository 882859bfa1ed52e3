// Apple Event Manager, data model: descriptors, lists, records, coercion and the flattened
// form of a descriptor.
//
// A descriptor owns its data handle: whoever receives an AEDesc from these calls disposes it
// with AEDisposeDesc. Data of the types 'type', 'enum', 'keyw', 'prop', 'long', 'shor',
// 'magn', 'abso' and 'psn ' is held in this machine's native byte order, as callers expect
// (the flattened form converts it to big-endian). Lists and records are 1-based.
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
OSErr AEGetKeyPtr(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType desiredType, DescType *typeCode,
                  void *dataPtr, Size maximumSize, Size *actualSize);
OSErr AEGetKeyDesc(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType desiredType, AEDesc *result);
OSErr AESizeOfKeyDesc(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType *typeCode, Size *dataSize);
OSErr AEDeleteKeyDesc(AERecord *theAERecord, AEKeyword theAEKeyword);

// Flattened form, for the wire between processes (layout in AEFlatten.h). AEUnflattenDescSafe
// is this layer's bounded reader for bytes from another process: it never reads past
// bufferSize and answers paramErr for anything malformed.
Size AESizeOfFlattenedDesc(const AEDesc *theAEDesc);
OSStatus AEFlattenDesc(const AEDesc *theAEDesc, Ptr buffer, Size bufferSize, Size *actualSize);
OSStatus AEUnflattenDescSafe(const void *buffer, Size bufferSize, AEDesc *result);
