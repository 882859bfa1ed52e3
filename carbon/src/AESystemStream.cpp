// The system's AEStream calls: a stack of frames, one per value under construction, over the
// descriptor calls. Frames and the stream itself are Memory Manager blocks; closing a frame
// puts its finished value into the frame below and disposes it.
#include <AEHelpers.h>
#include <MacErrors.h>

#include "AEStorage.h"

#include <new>

namespace {

enum class FrameKind { Value, Event, Record, List };

struct Frame {
  Frame *next;
  FrameKind kind;
  AEDesc desc;
  DescType recordType;  // of a record frame, applied when it closes
  bool keyPending;
  AEKeyword key;
  bool hasValue;  // a value frame that has received its value
};

// A value about to be written: raw bytes or a descriptor to copy.
struct Value {
  DescType type;
  const void *data;
  Size length;
  const AEDesc *desc;
};

OSErr PushFrame(AEStreamRef ref, FrameKind kind, AEDesc *desc, DescType recordType);

}  // namespace

struct OpaqueAEStreamRef {
  Frame *top;
};

namespace {

AEStreamRef NewStream(FrameKind kind, AEDesc *desc) {
  Ptr block = NewPtr(sizeof(OpaqueAEStreamRef));
  if (block == nullptr) {
    AEDisposeDesc(desc);
    return nullptr;
  }
  auto *ref = new (block) OpaqueAEStreamRef{nullptr};
  if (PushFrame(ref, kind, desc, typeAERecord) != noErr) {
    DisposePtr(block);
    return nullptr;
  }
  return ref;
}

// Takes over *desc (left the null descriptor); on failure disposes it.
OSErr PushFrame(AEStreamRef ref, FrameKind kind, AEDesc *desc, DescType recordType) {
  Ptr block = NewPtr(sizeof(Frame));
  if (block == nullptr) {
    AEDisposeDesc(desc);
    return memFullErr;
  }
  ref->top = new (block) Frame{ref->top, kind, *desc, recordType, false, 0, false};
  AEInitializeDesc(desc);
  return noErr;
}

// Removes the top frame and hands its descriptor to *desc.
void PopFrame(AEStreamRef ref, AEDesc *desc) {
  Frame *frame = ref->top;
  *desc = frame->desc;
  ref->top = frame->next;
  DisposePtr(reinterpret_cast<Ptr>(frame));
}

// Whether the top frame takes a value now.
bool TakesValue(const Frame *frame) {
  if (frame == nullptr) return false;
  switch (frame->kind) {
    case FrameKind::Value:
      return !frame->hasValue;
    case FrameKind::List:
      return !frame->keyPending;
    default:
      return frame->keyPending;
  }
}

OSErr WriteValue(AEStreamRef ref, const Value &value) {
  if (ref == nullptr) return paramErr;
  Frame *frame = ref->top;
  if (!TakesValue(frame)) return errAEStreamBadNesting;
  OSErr err = noErr;
  switch (frame->kind) {
    case FrameKind::Value:
      err = value.desc ? AEDuplicateDesc(value.desc, &frame->desc)
                       : AECreateDesc(value.type, value.data, value.length, &frame->desc);
      frame->hasValue = err == noErr;
      break;
    case FrameKind::List:
      err = value.desc ? AEPutDesc(&frame->desc, 0, value.desc)
                       : AEPutPtr(&frame->desc, 0, value.type, value.data, value.length);
      break;
    default:
      err = value.desc ? AEPutKeyDesc(&frame->desc, frame->key, value.desc)
                       : AEPutKeyPtr(&frame->desc, frame->key, value.type, value.data, value.length);
      frame->keyPending = false;
      break;
  }
  return err;
}

OSErr OpenNested(AEStreamRef ref, FrameKind kind, DescType recordType) {
  if (ref == nullptr) return paramErr;
  if (!TakesValue(ref->top)) return errAEStreamBadNesting;
  AEDesc desc;
  OSErr err = AECreateList(nullptr, 0, kind == FrameKind::Record, &desc);
  return err != noErr ? err : PushFrame(ref, kind, &desc, recordType);
}

// Closes the top frame, which must be of `kind`, and writes its value into the frame below.
OSErr CloseNested(AEStreamRef ref, FrameKind kind) {
  if (ref == nullptr) return paramErr;
  if (ref->top == nullptr || ref->top->kind != kind || ref->top->next == nullptr)
    return errAEStreamBadNesting;
  DescType recordType = ref->top->recordType;
  AEDesc desc;
  PopFrame(ref, &desc);
  OSErr err = noErr;
  if (kind == FrameKind::Record && recordType != typeAERecord) {
    if (ae::IsRecordType(recordType)) {
      desc.descriptorType = recordType;  // a record keeps its items under any record type
    } else {
      AEDesc coerced;
      err = AECoerceDesc(&desc, recordType, &coerced);
      AEDisposeDesc(&desc);
      desc = coerced;
    }
  }
  if (err == noErr) err = WriteValue(ref, {0, nullptr, 0, &desc});
  AEDisposeDesc(&desc);
  return err;
}

void ReleaseFrames(AEStreamRef ref) {
  while (ref->top != nullptr) {
    AEDesc desc;
    PopFrame(ref, &desc);
    AEDisposeDesc(&desc);
  }
}

}  // namespace

AEStreamRef AEStreamOpen() {
  AEDesc none{typeNull, nullptr};
  return NewStream(FrameKind::Value, &none);
}

AEStreamRef AEStreamCreateEvent(AEEventClass clazz, AEEventID id, DescType targetType, const void *targetData,
                                Size targetLength, AEReturnID returnID, AETransactionID transactionID) {
  AEDesc target;
  if (AECreateDesc(targetType, targetData, targetLength, &target) != noErr) return nullptr;
  AppleEvent event;
  OSErr err = AECreateAppleEvent(clazz, id, &target, returnID, transactionID, &event);
  AEDisposeDesc(&target);
  return err == noErr ? NewStream(FrameKind::Event, &event) : nullptr;
}

OSStatus AEStreamClose(AEStreamRef ref, AEDesc *desc) {
  AEInitializeDesc(desc);
  if (ref == nullptr) return paramErr;
  Frame *top = ref->top;
  bool balanced = top != nullptr && top->next == nullptr && !top->keyPending &&
                  (top->kind == FrameKind::Value || top->kind == FrameKind::Event);
  OSStatus status = errAEStreamBadNesting;
  if (balanced) {
    AEDesc result;
    PopFrame(ref, &result);
    if (desc != nullptr)
      *desc = result;
    else
      AEDisposeDesc(&result);
    status = noErr;
  }
  ReleaseFrames(ref);
  DisposePtr(reinterpret_cast<Ptr>(ref));
  return status;
}

OSStatus AEStreamWriteKey(AEStreamRef ref, AEKeyword key) {
  if (ref == nullptr) return paramErr;
  Frame *frame = ref->top;
  if (frame == nullptr || frame->keyPending ||
      (frame->kind != FrameKind::Record && frame->kind != FrameKind::Event))
    return errAEStreamBadNesting;
  frame->keyPending = true;
  frame->key = key;
  return noErr;
}

OSStatus AEStreamWriteDesc(AEStreamRef ref, DescType newType, const void *data, Size length) {
  return WriteValue(ref, {newType, data, length, nullptr});
}

OSStatus AEStreamWriteAEDesc(AEStreamRef ref, const AEDesc *desc) {
  if (desc == nullptr) return paramErr;
  return WriteValue(ref, {0, nullptr, 0, desc});
}

OSStatus AEStreamWriteKeyDesc(AEStreamRef ref, AEKeyword key, DescType newType, const void *data,
                              Size length) {
  OSStatus err = AEStreamWriteKey(ref, key);
  return err != noErr ? err : AEStreamWriteDesc(ref, newType, data, length);
}

OSStatus AEStreamOpenRecord(AEStreamRef ref, DescType newType) {
  return OpenNested(ref, FrameKind::Record, newType);
}

OSStatus AEStreamCloseRecord(AEStreamRef ref) {
  return CloseNested(ref, FrameKind::Record);
}

OSStatus AEStreamOpenList(AEStreamRef ref) {
  return OpenNested(ref, FrameKind::List, typeAEList);
}

OSStatus AEStreamCloseList(AEStreamRef ref) {
  return CloseNested(ref, FrameKind::List);
}
