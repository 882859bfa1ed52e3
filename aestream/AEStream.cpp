// AEStream: a stack of open frames over the Apple Event Manager's descriptor calls. Every
// public operation is a few checks around four internal steps: opening a frame, closing
// one, and writing raw bytes or a descriptor into the top frame.
#include "aestream/AEStream.h"

#include <MacErrors.h>
#include <MacMemory.h>

namespace {

// Pushes a new frame of `kind`. A descriptor passed in moves into the frame (the caller's
// copy becomes the null descriptor); if the frame cannot be allocated it is disposed, so
// nothing leaks and the stream is unchanged.
SInt32 OpenStreamFrame(AEStream *stream, UInt32 kind, AEDesc *desc, const DescType *recordType) {
  auto *frame = reinterpret_cast<StreamFrame *>(NewPtr(sizeof(StreamFrame)));
  if (frame == nullptr) {
    OSErr err = MemError();
    if (desc != nullptr) AEDisposeDesc(desc);
    return err != noErr ? SInt32(err) : SInt32(memFullErr);
  }
  frame->next = *stream;
  *stream = frame;
  frame->keyPending = false;
  frame->key = 0;
  frame->failure = noErr;
  frame->kind = kind;
  frame->recordType = typeAERecord;
  AEInitializeDesc(&frame->desc);
  if (desc != nullptr) {
    frame->desc = *desc;
    AEInitializeDesc(desc);
  }
  if (recordType != nullptr) frame->recordType = *recordType;
  return noErr;
}

// Pops the top frame, moving its descriptor to *desc (which then belongs to the caller). A
// frame that lost a value answers that failure, with *desc disposed.
SInt32 CloseStreamFrame(AEStream *stream, UInt32 *kind, AEDesc *desc, DescType *recordType) {
  StreamFrame *frame = *stream;
  if (frame == nullptr) return streamNestingErr;
  if (kind != nullptr) *kind = frame->kind;
  *desc = frame->desc;
  if (recordType != nullptr) *recordType = frame->recordType;
  SInt32 failure = frame->failure;
  *stream = frame->next;
  DisposePtr(reinterpret_cast<Ptr>(frame));
  if (failure != noErr) AEDisposeDesc(desc);
  return failure;
}

// Keeps the first failure of a value meant for the top frame (misuse is not kept: the call
// that made it has answered it). Returns err.
SInt32 Remember(AEStream *stream, SInt32 err) {
  if (err != noErr && err != streamNestingErr && *stream != nullptr && (*stream)->failure == noErr) {
    (*stream)->failure = err;
  }
  return err;
}

// Whether the top frame takes a value now: an empty frame always, a list only without a
// pending key, a record or event only with one.
SInt32 CheckFrameAcceptsValue(const StreamFrame *top) {
  if (top == nullptr) return streamNestingErr;
  switch (top->kind) {
    case kStreamFrameEmpty:
      return noErr;
    case kStreamFrameList:
      return top->keyPending ? streamNestingErr : SInt32(noErr);
    case kStreamFrameRecord:
    case kStreamFrameEvent:
      return top->keyPending ? SInt32(noErr) : streamNestingErr;
    default:
      return streamNestingErr;
  }
}

SInt32 PutPtr(StreamFrame *top, DescType type, const void *data, Size size) {
  switch (top->kind) {
    case kStreamFrameEmpty: {
      SInt32 err = AECreateDesc(type, data, size, &top->desc);
      if (err == noErr) top->kind = kStreamFrameDesc;
      return err;
    }
    case kStreamFrameList:
      return AEPutPtr(&top->desc, 0, type, data, size);
    default:
      top->keyPending = false;  // used up even when the put fails
      return AEPutParamPtr(&top->desc, top->key, type, data, size);
  }
}

SInt32 PutDesc(StreamFrame *top, const AEDesc *desc) {
  switch (top->kind) {
    case kStreamFrameEmpty: {
      SInt32 err = AEDuplicateDesc(desc, &top->desc);
      if (err == noErr) top->kind = kStreamFrameDesc;
      return err;
    }
    case kStreamFrameList:
      return AEPutDesc(&top->desc, 0, desc);
    default:
      top->keyPending = false;
      return AEPutParamDesc(&top->desc, top->key, desc);
  }
}

SInt32 AddPtrToCurrentFrame(AEStream *stream, DescType type, const void *data, Size size) {
  SInt32 err = CheckFrameAcceptsValue(*stream);
  return err != noErr ? err : Remember(stream, PutPtr(*stream, type, data, size));
}

SInt32 AddDescToCurrentFrame(AEStream *stream, const AEDesc *desc) {
  SInt32 err = CheckFrameAcceptsValue(*stream);
  return err != noErr ? err : Remember(stream, PutDesc(*stream, desc));
}

// Writes a closed nested value into the new top frame and disposes it in every case.
SInt32 WriteClosedValue(AEStream *stream, AEDesc *value) {
  SInt32 err = AddDescToCurrentFrame(stream, value);
  AEDisposeDesc(value);
  return err;
}

}  // namespace

SInt32 AEStream_CreateEvent(AEStream *stream, AEEventClass eventClass, AEEventID eventID, DescType targetType,
                            const void *targetData, Size targetSize, AEReturnID returnID,
                            AETransactionID transactionID) {
  // Cleared before anything can fail, so that a caller who closes or disposes the stream
  // after a failed start never follows an uninitialised pointer.
  *stream = nullptr;
  AEAddressDesc address;
  OSErr err = AECreateDesc(targetType, targetData, targetSize, &address);
  if (err != noErr) return err;
  AppleEvent event;
  AEInitializeDesc(&event);
  err = AECreateAppleEvent(eventClass, eventID, &address, returnID, transactionID, &event);
  AEDisposeDesc(&address);
  if (err != noErr) return err;
  return OpenStreamFrame(stream, kStreamFrameEvent, &event, nullptr);
}

SInt32 AEStream_OpenEvent(AEStream *stream, AppleEvent *event) {
  *stream = nullptr;
  SInt32 err = OpenStreamFrame(stream, kStreamFrameEvent, event, nullptr);
  AEInitializeDesc(event);
  return err;
}

SInt32 AEStream_Open(AEStream *stream) {
  *stream = nullptr;
  return OpenStreamFrame(stream, kStreamFrameEmpty, nullptr, nullptr);
}

SInt32 AEStream_OpenRecord(AEStream *stream, DescType recordType) {
  AERecord record;
  OSErr err = AECreateList(nullptr, 0, true, &record);
  if (err != noErr) return Remember(stream, err);
  return Remember(stream, OpenStreamFrame(stream, kStreamFrameRecord, &record, &recordType));
}

SInt32 AEStream_SetRecordType(AEStream *stream, DescType recordType) {
  StreamFrame *top = *stream;
  if (top == nullptr || top->kind != kStreamFrameRecord) return streamNestingErr;
  top->recordType = recordType;
  return noErr;
}

SInt32 AEStream_OpenList(AEStream *stream) {
  AEDescList list;
  OSErr err = AECreateList(nullptr, 0, false, &list);
  if (err != noErr) return Remember(stream, err);
  return Remember(stream, OpenStreamFrame(stream, kStreamFrameList, &list, nullptr));
}

SInt32 AEStream_CloseRecord(AEStream *stream) {
  UInt32 kind = kStreamFrameEmpty;
  DescType recordType = typeAERecord;
  AEDesc record;
  SInt32 err = CloseStreamFrame(stream, &kind, &record, &recordType);
  if (err != noErr) return Remember(stream, err);
  if (kind != kStreamFrameRecord) {
    AEDisposeDesc(&record);
    return streamNestingErr;
  }
  if (recordType != typeAERecord) {
    AEDesc coerced;
    AEInitializeDesc(&coerced);
    err = AECoerceDesc(&record, recordType, &coerced);
    AEDisposeDesc(&record);
    if (err != noErr) {
      AEDisposeDesc(&coerced);
      return Remember(stream, err);
    }
    record = coerced;
  }
  return WriteClosedValue(stream, &record);
}

SInt32 AEStream_CloseList(AEStream *stream) {
  UInt32 kind = kStreamFrameEmpty;
  AEDesc list;
  SInt32 err = CloseStreamFrame(stream, &kind, &list, nullptr);
  if (err != noErr) return Remember(stream, err);
  if (kind != kStreamFrameList) {
    AEDisposeDesc(&list);
    return streamNestingErr;
  }
  return WriteClosedValue(stream, &list);
}

SInt32 AEStream_WriteKey(AEStream *stream, AEKeyword key) {
  StreamFrame *top = *stream;
  if (top == nullptr || top->keyPending) return streamNestingErr;
  // The frame's kind is not examined: the next write decides whether a key belongs there.
  top->keyPending = true;
  top->key = key;
  return noErr;
}

SInt32 AEStream_WriteDesc(AEStream *stream, DescType type, const void *data, Size size) {
  return AddPtrToCurrentFrame(stream, type, data, size);
}

SInt32 AEStream_WriteKeyDesc(AEStream *stream, AEKeyword key, DescType type, const void *data, Size size) {
  SInt32 err = AEStream_WriteKey(stream, key);
  if (err != noErr) return err;
  return AddPtrToCurrentFrame(stream, type, data, size);
}

SInt32 AEStream_WriteAEDesc(AEStream *stream, const AEDesc *desc) {
  return AddDescToCurrentFrame(stream, desc);
}

SInt32 AEStream_Close(AEStream *stream, AEDesc *result) {
  if (*stream == nullptr) return streamNestingErr;
  SInt32 failure = noErr;
  for (const StreamFrame *frame = *stream; frame != nullptr && failure == noErr; frame = frame->next) {
    failure = frame->failure;
  }
  SInt32 err = CloseStreamFrame(stream, nullptr, result, nullptr);
  if (failure != noErr) {
    if (err == noErr) AEDisposeDesc(result);
    AEStream_Dispose(stream);
    return failure;
  }
  if (*stream == nullptr) return noErr;
  // Unbalanced: the caller has the top frame's descriptor; nobody can use the rest again.
  AEStream_Dispose(stream);
  return streamNestingErr;
}

void AEStream_Dispose(AEStream *stream) {
  while (*stream != nullptr) {
    AEDesc desc;
    CloseStreamFrame(stream, nullptr, &desc, nullptr);
    AEDisposeDesc(&desc);
  }
}
