// FileMaker field names and records over Apple Events.
#include "filemaker/FileMaker.h"

#include <AEHelpers.h>
#include <MacErrors.h>
#include <MacMemory.h>

#include "store/Globals.h"
#include "store/RecordStore.h"
#include "support/ApplicationLookup.h"
#include "support/Conversions.h"

#include <cstdint>

namespace {

const OSType kFileMakerSignatures[] = {FourCC("FMP3"), FourCC("FMP5"), FourCC("FMP7")};
constexpr DescType kFieldClass = FourCC("ccol");
constexpr DescType kRecordClass = FourCC("crow");
constexpr UInt8 kCR = 13;
constexpr UInt8 kFieldSeparator = 0xFF;

// Writes the keys of one object specifier, in the order 'form', 'want', 'seld'; the caller
// writes 'from' and closes the record.
OSStatus OpenSpecifier(AEStreamRef stream, DescType form, DescType want) {
  OSStatus status = AEStreamOpenRecord(stream, typeObjectSpecifier);
  if (status == noErr)
    status = AEStreamWriteKeyDesc(stream, keyAEKeyForm, typeEnumerated, &form, sizeof form);
  if (status == noErr) status = AEStreamWriteKeyDesc(stream, keyAEDesiredClass, typeType, &want, sizeof want);
  return status;
}

OSStatus WriteFromApplication(AEStreamRef stream) {
  OSStatus status = AEStreamWriteKeyDesc(stream, keyAEContainer, typeNull, nullptr, 0);
  return status == noErr ? AEStreamCloseRecord(stream) : status;
}

// The name of every 'ccol' element of the application.
OSStatus WriteFieldNamesSpecifier(AEStreamRef stream) {
  const DescType name = pName;
  const OSType all = kAEAll;
  OSStatus status = OpenSpecifier(stream, formPropertyID, formPropertyID);
  if (status == noErr) status = AEStreamWriteKeyDesc(stream, keyAEKeyData, typeType, &name, sizeof name);
  if (status == noErr) status = AEStreamWriteKey(stream, keyAEContainer);
  if (status == noErr) status = OpenSpecifier(stream, formAbsolutePosition, kFieldClass);
  if (status == noErr)
    status = AEStreamWriteKeyDesc(stream, keyAEKeyData, typeAbsoluteOrdinal, &all, sizeof all);
  if (status == noErr) status = WriteFromApplication(stream);
  return status == noErr ? AEStreamCloseRecord(stream) : status;
}

// 'crow' element number index of the application.
OSStatus WriteRecordSpecifier(AEStreamRef stream, SInt32 index) {
  OSStatus status = OpenSpecifier(stream, formAbsolutePosition, kRecordClass);
  if (status == noErr) status = AEStreamWriteKeyDesc(stream, keyAEKeyData, typeSInt32, &index, sizeof index);
  return status == noErr ? WriteFromApplication(stream) : status;
}

// Sends 'core'/'getd' with the direct parameter that writeSpecifier writes, and waits for the
// reply. The reply starts as the null descriptor, so that a request that was never sent, or
// a send that failed, reads as no result.
template <typename WriteSpecifier>
void SendRequest(AppleEvent *reply, WriteSpecifier writeSpecifier) {
  AEInitializeDesc(reply);
  const ProcessSerialNumber &process = globals.fileMakerProcess;
  AEStreamRef stream = AEStreamCreateEvent(kAECoreSuite, kAEGetData, typeProcessSerialNumber, &process,
                                           sizeof process, kAutoGenerateReturnID, kAnyTransactionID);
  if (stream == nullptr) return;
  AppleEvent event;
  AEInitializeDesc(&event);
  OSStatus status = AEStreamWriteKey(stream, keyDirectObject);
  if (status == noErr) status = writeSpecifier(stream);
  OSStatus closed = AEStreamClose(stream, &event);
  if (status == noErr && closed == noErr) {
    AESend(&event, reply, kAEWaitReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
  }
  AEDisposeDesc(&event);
}

// The result text under construction: a locked handle that grows before anything is
// written past its end.
struct ResultText {
  Handle handle;
  Size capacity;
  SInt32 length;
};

Boolean MakeRoom(ResultText *text, Size more) {
  if (Size(text->length) + more <= text->capacity) return true;
  Size wanted = Size(text->length) + more;
  if (wanted > INT32_MAX) return false;
  Size grown = text->capacity > INT32_MAX / 2 ? Size(INT32_MAX) : text->capacity * 2;
  if (grown < wanted) grown = wanted;
  HUnlock(text->handle);
  Boolean resized = MySetHandleSize(text->handle, grown);
  HLock(text->handle);
  if (resized) text->capacity = grown;
  return resized;
}

Boolean PutByte(ResultText *text, UInt8 byte) {
  if (!MakeRoom(text, 1)) return false;
  (*text->handle)[text->length++] = char(byte);
  return true;
}

// Appends item index of list as text; *copied is the number of bytes it gave. memFullErr
// when the text could not be made room for, else the Apple Event Manager's status (an item
// that cannot be fetched or has no text form gives no text).
OSErr PutItemText(ResultText *text, const AEDescList *list, long index, Size *copied) {
  AEKeyword key;
  DescType type;
  Size size = 0;
  Size room = text->capacity - text->length;
  *copied = 0;
  OSErr err = AEGetNthPtr(list, index, typeChar, &key, &type, *text->handle + text->length, room, &size);
  if (err == noErr && size > room) {  // longer than the room left: grow, then fetch it whole
    if (!MakeRoom(text, size)) return memFullErr;
    err = AEGetNthPtr(list, index, typeChar, &key, &type, *text->handle + text->length, size, &size);
  }
  if (err != noErr) return err;
  *copied = size;
  text->length += SInt32(size);
  return noErr;
}

// The values of a repeating field, each non-empty one followed by the sub-item separator,
// up to the first that cannot be fetched. False only when memory runs out.
Boolean PutSubItems(ResultText *text, const AEDescList *list, long index, UInt8 subItemSeparator) {
  AEDescList subList;
  AEKeyword key;
  long count = 0;
  if (AEGetNthDesc(list, index, typeAEList, &key, &subList) != noErr) return true;
  Boolean fine = true;
  if (AECountItems(&subList, &count) != noErr) count = 0;
  for (long sub = 1; fine && sub <= count; sub++) {
    Size copied = 0;
    OSErr err = PutItemText(text, &subList, sub, &copied);
    if (err != noErr) {
      fine = err != memFullErr;
      break;
    }
    if (copied > 0) fine = PutByte(text, subItemSeparator);
  }
  AEDisposeDesc(&subList);
  return fine;
}

Boolean PutItems(ResultText *text, const AEDescList *list, long count, UInt8 itemSeparator,
                 UInt8 subItemSeparator) {
  for (long index = 1; index <= count; index++) {
    DescType type;
    Size size;
    Size copied;
    if (AESizeOfNthItem(list, index, &type, &size) == noErr) {
      if (type == typeAEList) {
        if (!PutSubItems(text, list, index, subItemSeparator)) return false;
      } else if (PutItemText(text, list, index, &copied) == memFullErr) {
        return false;
      }
    }
    if (!PutByte(text, itemSeparator)) return false;
  }
  return true;
}

// A result text made a C string: its last byte (the final separator) becomes the NUL, or
// the NUL is the only byte of an empty result; the handle is unlocked and shrunk to fit.
Handle TerminateResult(Handle result, SInt32 length) {
  if (result == nullptr) return nullptr;
  if (length == 0)
    (*result)[0] = 0;  // an empty list: the handle has room for its NUL
  else
    (*result)[length - 1] = 0;
  HUnlock(result);
  SetHandleSize(result, length == 0 ? 1 : length);
  return result;
}

Handle RequestText(AppleEvent *reply, UInt8 itemSeparator, UInt8 subItemSeparator) {
  SInt32 length = 0;
  Handle result = ResultListToHandle(reply, &length, itemSeparator, subItemSeparator);
  AEDisposeDesc(reply);
  return TerminateResult(result, length);
}

}  // namespace

Handle ResultListToHandle(const AppleEvent *reply, SInt32 *length, UInt8 itemSeparator,
                          UInt8 subItemSeparator) {
  DescType type;
  Size size = 0;
  AEDescList list;
  if (AESizeOfParam(reply, keyDirectObject, &type, &size) != noErr) return nullptr;
  if (AEGetParamDesc(reply, keyDirectObject, typeAEList, &list) != noErr) return nullptr;
  ResultText text = {MyNewHandle(size > 0 ? size : 1), size > 0 ? size : 1, 0};
  long count = 0;
  if (text.handle != nullptr) HLock(text.handle);
  if (text.handle != nullptr && (AECountItems(&list, &count) != noErr ||
                                 !PutItems(&text, &list, count, itemSeparator, subItemSeparator))) {
    MyDisposeHandle(text.handle);
    text.handle = nullptr;
  }
  AEDisposeDesc(&list);
  *length = text.length;
  return text.handle;
}

void GetAERecord(AppleEvent *reply, SInt32 index) {
  SendRequest(reply, [index](AEStreamRef stream) { return WriteRecordSpecifier(stream, index); });
}

Handle GetFieldNames() {
  AppleEvent reply;
  SendRequest(&reply, WriteFieldNamesSpecifier);
  return RequestText(&reply, kCR, ' ');
}

Handle RetrieveRecord(SInt32 index) {
  AppleEvent reply;
  GetAERecord(&reply, index);
  return RequestText(&reply, kFieldSeparator, kCR);
}

Boolean ReceiveRecords(SInt32 first, SInt32 count) {
  RecordStore *store = &globals.records;
  for (SInt32 done = 0; done < count; done++) {
    int64_t index = int64_t(first) + done;
    if (index > INT32_MAX) return false;
    AppleEvent reply;
    GetAERecord(&reply, SInt32(index));
    SInt32 length = 0;
    Handle result = ResultListToHandle(&reply, &length, kFieldSeparator, kCR);
    AEDisposeDesc(&reply);
    if (result == nullptr || !DictionaryAppend(store)) {
      MyDisposeHandle(result);
      return false;
    }
    SInt32 last = DictionaryItems(store) - 1;
    Boolean written = DictionaryWrite(store, last, *result, UInt32(length));
    MyDisposeHandle(result);
    if (!written) {
      DictionaryRemove(store, last);  // never leave an empty recipient behind
      return false;
    }
  }
  return true;
}

Boolean FindFileMaker() {
  Boolean found = false;
  for (OSType signature : kFileMakerSignatures) {
    if (FindApplicationProcess(signature, &globals.fileMakerProcess) == 0) {
      found = true;
      break;
    }
  }
  if (!found) return false;
  Handle names = GetFieldNames();
  MyDisposeHandle(names);
  return names != nullptr;
}
