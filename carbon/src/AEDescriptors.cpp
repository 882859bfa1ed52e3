// Descriptors, lists and records: the public calls over the content kept in each data handle
// (AEStorage.h).
#include <AEDataModel.h>
#include <MacErrors.h>

#include "AEStorage.h"

namespace {

using ae::Content;
using ae::Item;
using ae::Part;
using ae::Section;
using ae::Source;

uint32_t FormForType(DescType type) {
  if (type == typeAEList) return kAEFlatFormList;
  if (type == typeAppleEvent) return kAEFlatFormEvent;
  return kAEFlatFormRecord;
}

// 'list', 'reco' and 'aevt' made from bytes: none gives an empty one; otherwise the bytes must
// be the content that AEGetDescData handed out for such a descriptor.
OSErr CreateComposite(DescType type, const void *dataPtr, Size dataSize, AEDesc *result) {
  Handle h = nullptr;
  if (dataSize == 0) {
    h = ae::NewCompositeHandle(FormForType(type));
    if (h == nullptr) return memFullErr;
  } else {
    if (!ae::ValidContent(type, static_cast<const uint8_t *>(dataPtr), size_t(dataSize), 0))
      return errAECorruptData;
    OSErr err = ae::NewContentHandle({type, dataPtr, size_t(dataSize), true}, &h);
    if (err != noErr) return err;
  }
  result->descriptorType = type;
  result->dataHandle = h;
  return noErr;
}

bool BadData(const void *dataPtr, Size dataSize) {
  return dataSize < 0 || (dataPtr == nullptr && dataSize > 0);
}

OSErr PutNth(AEDescList *list, long index, const Source &source) {
  Section section;
  OSErr err = ae::SectionOf(list, Part::Items, &section);
  if (err != noErr) return err;
  Content c = ae::ContentOf(list);
  long count = long(ae::CountOf(c, section));
  if (index < 0 || index > count + 1) return errAEIllegalIndex;
  if (index == 0 || index == count + 1) {
    // Appending needs a key, which only a list can do without.
    if (ae::FormOf(c) != kAEFlatFormList) return errAEWrongDataType;
    return ae::PutItem(list->dataHandle, section, section.end, 0, typeWildCard, source);
  }
  Item item;
  ae::NthItem(c, section, index, &item);
  return ae::PutItem(list->dataHandle, section, item.offset, item.size, item.key, source);
}

OSErr FindNth(const AEDescList *list, long index, Item *item) {
  Section section;
  OSErr err = ae::SectionOf(list, Part::Items, &section);
  if (err != noErr) return err;
  return ae::NthItem(ae::ContentOf(list), section, index, item) ? OSErr(noErr) : OSErr(errAEBadListItem);
}

Size DataSizeOf(Content c) {
  return Size(ae::IsComposite(ae::FormOf(c)) ? c.size : ae::DataOf(c).size);
}

}  // namespace

void AEInitializeDesc(AEDesc *desc) {
  if (desc == nullptr) return;
  desc->descriptorType = typeNull;
  desc->dataHandle = nullptr;
}

OSErr AECreateDesc(DescType typeCode, const void *dataPtr, Size dataSize, AEDesc *result) {
  if (result == nullptr) return paramErr;
  AEInitializeDesc(result);
  if (BadData(dataPtr, dataSize)) return paramErr;
  if (ae::IsCompositeType(typeCode)) return CreateComposite(typeCode, dataPtr, dataSize, result);
  Handle h;
  OSErr err = ae::NewContentHandle(ae::RawSource(typeCode, dataPtr, dataSize), &h);
  if (err != noErr) return err;
  result->descriptorType = typeCode;
  result->dataHandle = h;
  return noErr;
}

OSErr AEDisposeDesc(AEDesc *theAEDesc) {
  if (theAEDesc == nullptr) return paramErr;
  DisposeHandle(theAEDesc->dataHandle);
  AEInitializeDesc(theAEDesc);
  return noErr;
}

OSErr AEDuplicateDesc(const AEDesc *theAEDesc, AEDesc *result) {
  if (result == nullptr) return paramErr;
  Source source;
  OSErr err = ae::DescSource(theAEDesc, &source);
  Handle h = nullptr;
  if (err == noErr) err = ae::NewContentHandle(source, &h);
  if (err != noErr) {
    AEInitializeDesc(result);
    return err;
  }
  result->descriptorType = source.type;
  result->dataHandle = h;
  return noErr;
}

Size AEGetDescDataSize(const AEDesc *theAEDesc) {
  return DataSizeOf(ae::ContentOf(theAEDesc));
}

OSErr AEGetDescData(const AEDesc *theAEDesc, void *dataPtr, Size maximumSize) {
  if (theAEDesc == nullptr || BadData(dataPtr, maximumSize)) return paramErr;
  ae::CopyData(theAEDesc->descriptorType, ae::ContentOf(theAEDesc), dataPtr, maximumSize, nullptr);
  return noErr;
}

OSErr AEReplaceDescData(DescType typeCode, const void *dataPtr, Size dataSize, AEDesc *theAEDesc) {
  if (theAEDesc == nullptr) return paramErr;
  AEDesc replacement;
  OSErr err = AECreateDesc(typeCode, dataPtr, dataSize, &replacement);
  if (err != noErr) return err;
  AEDisposeDesc(theAEDesc);
  *theAEDesc = replacement;
  return noErr;
}

OSErr AECreateList(const void *, Size, Boolean isRecord, AEDescList *resultList) {
  // Factoring only saved space on 68K machines; items are kept whole.
  if (resultList == nullptr) return paramErr;
  AEInitializeDesc(resultList);
  Handle h = ae::NewCompositeHandle(isRecord ? kAEFlatFormRecord : kAEFlatFormList);
  if (h == nullptr) return memFullErr;
  resultList->descriptorType = isRecord ? typeAERecord : typeAEList;
  resultList->dataHandle = h;
  return noErr;
}

OSErr AECountItems(const AEDescList *theAEDescList, long *theCount) {
  if (theCount == nullptr) return paramErr;
  Section section;
  OSErr err = ae::SectionOf(theAEDescList, Part::Items, &section);
  if (err != noErr) return err;
  *theCount = long(ae::CountOf(ae::ContentOf(theAEDescList), section));
  return noErr;
}

OSErr AEPutPtr(AEDescList *theAEDescList, long index, DescType typeCode, const void *dataPtr, Size dataSize) {
  AEDesc holder;
  Source source;
  OSErr err = ae::PutSource(typeCode, dataPtr, dataSize, &holder, &source);
  if (err == noErr) err = PutNth(theAEDescList, index, source);
  AEDisposeDesc(&holder);
  return err;
}

OSErr AEPutDesc(AEDescList *theAEDescList, long index, const AEDesc *theAEDesc) {
  Source source;
  OSErr err = ae::DescSource(theAEDesc, &source);
  return err != noErr ? err : PutNth(theAEDescList, index, source);
}

OSErr AEGetNthPtr(const AEDescList *theAEDescList, long index, DescType desiredType, AEKeyword *theAEKeyword,
                  DescType *typeCode, void *dataPtr, Size maximumSize, Size *actualSize) {
  Item item;
  OSErr err = FindNth(theAEDescList, index, &item);
  if (err != noErr) return err;
  if (theAEKeyword != nullptr) *theAEKeyword = item.key;
  return ae::ItemToPtr(item, desiredType, typeCode, dataPtr, maximumSize, actualSize);
}

OSErr AEGetNthDesc(const AEDescList *theAEDescList, long index, DescType desiredType, AEKeyword *theAEKeyword,
                   AEDesc *result) {
  if (result == nullptr) return paramErr;
  Item item;
  OSErr err = FindNth(theAEDescList, index, &item);
  if (err != noErr) {
    AEInitializeDesc(result);
    return err;
  }
  if (theAEKeyword != nullptr) *theAEKeyword = item.key;
  return ae::ItemToDesc(item, desiredType, result);
}

OSErr AESizeOfNthItem(const AEDescList *theAEDescList, long index, DescType *typeCode, Size *dataSize) {
  Item item;
  OSErr err = FindNth(theAEDescList, index, &item);
  if (err != noErr) return err;
  if (typeCode != nullptr) *typeCode = item.type;
  if (dataSize != nullptr) *dataSize = DataSizeOf(item.content);
  return noErr;
}

OSErr AEDeleteItem(AEDescList *theAEDescList, long index) {
  Item item;
  OSErr err = FindNth(theAEDescList, index, &item);
  if (err != noErr) return err;
  Section section;
  ae::SectionOf(theAEDescList, Part::Items, &section);
  return ae::DeleteItem(theAEDescList->dataHandle, section, item);
}

Boolean AECheckIsRecord(const AEDesc *theDesc) {
  Content c = ae::ContentOf(theDesc);
  uint32_t form = ae::FormOf(c);
  return ae::WellFormed(c) && (form == kAEFlatFormRecord || form == kAEFlatFormEvent);
}

OSErr AEPutKeyPtr(AERecord *theAERecord, AEKeyword theAEKeyword, DescType typeCode, const void *dataPtr,
                  Size dataSize) {
  AEDesc holder;
  Source source;
  OSErr err = ae::PutSource(typeCode, dataPtr, dataSize, &holder, &source);
  if (err == noErr) err = ae::PutKeyed(theAERecord, Part::Items, theAEKeyword, source);
  AEDisposeDesc(&holder);
  return err;
}

OSErr AEPutKeyDesc(AERecord *theAERecord, AEKeyword theAEKeyword, const AEDesc *theAEDesc) {
  Source source;
  OSErr err = ae::DescSource(theAEDesc, &source);
  return err != noErr ? err : ae::PutKeyed(theAERecord, Part::Items, theAEKeyword, source);
}

OSErr AEGetKeyPtr(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType desiredType,
                  DescType *typeCode, void *dataPtr, Size maximumSize, Size *actualSize) {
  Item item;
  OSErr err = ae::FindKeyed(theAERecord, Part::Items, theAEKeyword, &item);
  if (err != noErr) return err;
  return ae::ItemToPtr(item, desiredType, typeCode, dataPtr, maximumSize, actualSize);
}

OSErr AEGetKeyDesc(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType desiredType,
                   AEDesc *result) {
  if (result == nullptr) return paramErr;
  Item item;
  OSErr err = ae::FindKeyed(theAERecord, Part::Items, theAEKeyword, &item);
  if (err != noErr) {
    AEInitializeDesc(result);
    return err;
  }
  return ae::ItemToDesc(item, desiredType, result);
}

OSErr AESizeOfKeyDesc(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType *typeCode,
                      Size *dataSize) {
  Item item;
  OSErr err = ae::FindKeyed(theAERecord, Part::Items, theAEKeyword, &item);
  if (err != noErr) return err;
  if (typeCode != nullptr) *typeCode = item.type;
  if (dataSize != nullptr) *dataSize = DataSizeOf(item.content);
  return noErr;
}

OSErr AEDeleteKeyDesc(AERecord *theAERecord, AEKeyword theAEKeyword) {
  return ae::DeleteKeyed(theAERecord, Part::Items, theAEKeyword);
}
