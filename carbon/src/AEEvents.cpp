// Apple events: an event is a record of parameters with a second record of attributes in front
// (AEFlatten.h). The parameter calls are the record calls; the attribute calls reach the other
// half. AESend lives with the Process Manager.
#include <AppleEvents.h>
#include <MacErrors.h>

#include "AEStorage.h"

#include <unistd.h>
#include <atomic>
#include <iterator>

namespace {

using ae::Item;
using ae::Part;
using ae::Source;

// Return IDs are unique within a process and start at a point of their own in each process,
// so that replies of different processes are not easily confused in a trace.
AEReturnID NewReturnID() {
  static std::atomic<uint32_t> next{uint32_t(getpid()) * 7919u};
  return AEReturnID(next.fetch_add(1) % 32767u + 1);
}

}  // namespace

OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID, const AEAddressDesc *target,
                         AEReturnID returnID, AETransactionID transactionID, AppleEvent *result) {
  if (result == nullptr) return paramErr;
  Source address{typeNull, nullptr, 0, true};
  if (target != nullptr) {
    OSErr err = ae::DescSource(target, &address);
    if (err != noErr) return err;
  }
  if (returnID == kAutoGenerateReturnID) returnID = NewReturnID();
  const struct {
    AEKeyword key;
    Source source;
  } attributes[] = {
      {keyEventClassAttr, ae::RawSource(typeType, &theAEEventClass, 4)},
      {keyEventIDAttr, ae::RawSource(typeType, &theAEEventID, 4)},
      {keyAddressAttr, address},
      {keyReturnIDAttr, ae::RawSource(typeSInt16, &returnID, 2)},
      {keyTransactionIDAttr, ae::RawSource(typeSInt32, &transactionID, 4)},
  };
  size_t size = 4 + 4 + 4;  // form, attribute count, parameter count
  for (const auto &a : attributes) size += kAEFlatItemHeaderSize + a.source.ContentSize();
  Handle h = NewHandle(Size(size));
  if (h == nullptr) {
    AEInitializeDesc(result);
    return memFullErr;
  }
  auto *at = reinterpret_cast<uint8_t *>(*h);
  PutBigEndian32(at, kAEFlatFormEvent);
  PutBigEndian32(at + 4, std::size(attributes));
  at += 8;
  for (const auto &a : attributes) at = ae::WriteItem(at, a.key, a.source);
  PutBigEndian32(at, 0);
  result->descriptorType = typeAppleEvent;
  result->dataHandle = h;
  return noErr;
}

OSErr AEPutParamPtr(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType typeCode, const void *dataPtr,
                    Size dataSize) {
  return AEPutKeyPtr(theAppleEvent, theAEKeyword, typeCode, dataPtr, dataSize);
}

OSErr AEPutParamDesc(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, const AEDesc *theAEDesc) {
  return AEPutKeyDesc(theAppleEvent, theAEKeyword, theAEDesc);
}

OSErr AEGetParamPtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType *actualType, void *dataPtr, Size maximumSize, Size *actualSize) {
  return AEGetKeyPtr(theAppleEvent, theAEKeyword, desiredType, actualType, dataPtr, maximumSize, actualSize);
}

OSErr AEGetParamDesc(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                     AEDesc *result) {
  return AEGetKeyDesc(theAppleEvent, theAEKeyword, desiredType, result);
}

OSErr AESizeOfParam(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType *typeCode,
                    Size *dataSize) {
  return AESizeOfKeyDesc(theAppleEvent, theAEKeyword, typeCode, dataSize);
}

OSErr AEDeleteParam(AppleEvent *theAppleEvent, AEKeyword theAEKeyword) {
  return AEDeleteKeyDesc(theAppleEvent, theAEKeyword);
}

OSErr AEPutAttributePtr(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                        const void *dataPtr, Size dataSize) {
  AEDesc holder;
  Source source;
  OSErr err = ae::PutSource(typeCode, dataPtr, dataSize, &holder, &source);
  if (err == noErr) err = ae::PutKeyed(theAppleEvent, Part::Attributes, theAEKeyword, source);
  AEDisposeDesc(&holder);
  return err;
}

OSErr AEPutAttributeDesc(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, const AEDesc *theAEDesc) {
  Source source;
  OSErr err = ae::DescSource(theAEDesc, &source);
  return err != noErr ? err : ae::PutKeyed(theAppleEvent, Part::Attributes, theAEKeyword, source);
}

OSErr AEGetAttributePtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                        DescType *typeCode, void *dataPtr, Size maximumSize, Size *actualSize) {
  Item item;
  OSErr err = ae::FindKeyed(theAppleEvent, Part::Attributes, theAEKeyword, &item);
  if (err != noErr) return err;
  return ae::ItemToPtr(item, desiredType, typeCode, dataPtr, maximumSize, actualSize);
}

OSErr AEGetAttributeDesc(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                         AEDesc *result) {
  if (result == nullptr) return paramErr;
  Item item;
  OSErr err = ae::FindKeyed(theAppleEvent, Part::Attributes, theAEKeyword, &item);
  if (err != noErr) {
    AEInitializeDesc(result);
    return err;
  }
  return ae::ItemToDesc(item, desiredType, result);
}

OSErr AESizeOfAttribute(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType *typeCode,
                        Size *dataSize) {
  Item item;
  OSErr err = ae::FindKeyed(theAppleEvent, Part::Attributes, theAEKeyword, &item);
  if (err != noErr) return err;
  if (typeCode != nullptr) *typeCode = item.type;
  if (dataSize != nullptr)
    *dataSize =
        Size(ae::IsComposite(ae::FormOf(item.content)) ? item.content.size : ae::DataOf(item.content).size);
  return noErr;
}
