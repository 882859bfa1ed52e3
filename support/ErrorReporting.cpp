// Final allocation, error reporting with contexts and hiding, and the linked lists they use.
#include "support/ErrorReporting.h"

#include <Dialogs.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <Quickdraw.h>
#include <Resources.h>
#include <TextUtils.h>

#include <cstring>

namespace {

struct ErrorContext {
  ErrorContext *next;
  Str255 text;
};

struct ErrorHiding {
  ErrorHiding *next;
  OSErr *status;
};

ErrorContext *firstContext = nullptr;
ErrorHiding *firstHiding = nullptr;

Boolean HeapHasRoom(Size need) {
  return MaxBlock() >= need;
}

// Pushes `item` at the front of a list of any item type that starts with its next pointer.
template <typename Item>
void PushItem(Item **head, Item *item) {
  AddToLinkedList(reinterpret_cast<LinkedListItem **>(head), reinterpret_cast<LinkedListItem *>(item),
                  reinterpret_cast<LinkedListItem *>(*head));
}

template <typename Item>
void PopItem(Item **head) {
  Item *item = *head;
  if (item == nullptr) return;
  RemoveFromLinkedList(reinterpret_cast<LinkedListItem **>(head), reinterpret_cast<LinkedListItem *>(item));
  DestroyPtrFinal(reinterpret_cast<Ptr>(item));
}

// Looks the status up in one 'Err2' resource: a 16-bit count, then entries of a 16-bit code
// and two Str255 fields, the integers in host byte order once loaded. Entries are walked
// within the resource's size, so a damaged resource never reads past its end.
Boolean FindInMessageResource(Handle resource, OSErr status, Str255 message1, Str255 message2) {
  constexpr Size kEntrySize = 2 + 2 * sizeof(Str255);
  Size size = GetHandleSize(resource);
  if (size < 2) return false;
  SInt16 entries;
  BlockMoveData(*resource, &entries, 2);
  for (Size i = 0; i < entries && 2 + (i + 1) * kEntrySize <= size; i++) {
    const auto *entry = reinterpret_cast<const UInt8 *>(*resource) + 2 + i * kEntrySize;
    OSErr code;
    BlockMoveData(entry, &code, 2);
    if (code == status) {
      BlockMoveData(entry + 2, message1, sizeof(Str255));
      BlockMoveData(entry + 2 + sizeof(Str255), message2, sizeof(Str255));
      return true;
    }
  }
  return false;
}

// Every 'Err2' resource in index order; the first matching entry wins, resources that
// cannot be loaded are skipped.
void FindErrorMessages(OSErr status, Str255 message1, Str255 message2) {
  SInt16 count = CountResources(kErrorMessageType);
  for (SInt16 index = 1; index <= count; index++) {
    Handle resource = GetIndResource(kErrorMessageType, index);
    if (resource != nullptr && FindInMessageResource(resource, status, message1, message2)) return;
  }
}

void ConcatenateContexts(Str255 out) {
  out[0] = 0;
  for (ErrorContext *context = firstContext; context != nullptr; context = context->next) {
    UInt8 room = UInt8(255 - out[0]);
    UInt8 count = context->text[0] < room ? context->text[0] : room;
    BlockMoveData(context->text + 1, out + 1 + out[0], count);
    out[0] = UInt8(out[0] + count);
  }
}

void ShowErrorAlert(OSErr status) {
  Str255 context, number, message1 = {0}, message2 = {0};
  NumToString(status, number);
  FindErrorMessages(status, message1, message2);
  if (message1[0] == 0) GetIndString(message1, kErrorFallbackStrings, 1);
  if (message2[0] == 0) GetIndString(message2, kErrorFallbackStrings, 1);
  ConcatenateContexts(context);
  ParamText(context, number, message1, message2);
  InitCursor();
  Alert(kErrorAlert, nullptr);
}

}  // namespace

void MyFreeUpMemory(Size) {}

OSErr CreateHeapSpace(Size byteCount) {
  Size need = byteCount + kHeapMargin;
  OSErr status = noErr;
  if (!HeapHasRoom(need)) {
    PurgeMem(need);
    if (!HeapHasRoom(need)) {
      MyFreeUpMemory(need);
      if (!HeapHasRoom(need)) status = memFullErr;
    }
  }
  TestError(status);
  return status;
}

Ptr AllocPtrFinal(OSErr *status, Size byteCount) {
  *status = CreateHeapSpace(byteCount);
  if (*status != noErr) return nullptr;
  Ptr p = NewPtr(byteCount);
  *status = TestMemError(p);
  return *status == noErr ? p : nullptr;
}

Handle AllocHandleFinal(OSErr *status, Size byteCount) {
  *status = CreateHeapSpace(byteCount);
  if (*status != noErr) return nullptr;
  Handle h = NewHandle(byteCount);
  *status = TestMemError(h);
  if (*status != noErr) {
    DisposeHandle(h);  // a handle with a Memory Manager error is not the caller's
    return nullptr;
  }
  return h;
}

void DestroyPtrFinal(Ptr p) {
  DisposePtr(p);
}
void DestroyHandleFinal(Handle h) {
  DisposeHandle(h);
}

void TestError(OSErr status) {
  if (status == noErr) return;
  if (firstHiding != nullptr) {
    for (ErrorHiding *hiding = firstHiding; hiding != nullptr; hiding = hiding->next)
      *hiding->status = status;
    SysBeep(1);
    return;
  }
  ShowErrorAlert(status);
}

OSErr TestMemError(const void *result) {
  OSErr status = MemError();
  if (status == noErr && result == nullptr) status = kNullMemoryResult;
  TestError(status);
  return status;
}

OSErr TestResError(const void *result) {
  OSErr status = ResError();
  if (status == noErr && result == nullptr) status = kNullResourceResult;
  TestError(status);
  return status;
}

Boolean AddErrorContext(ConstStr255Param context) {
  OSErr status;
  auto *entry = reinterpret_cast<ErrorContext *>(AllocPtrFinal(&status, sizeof(ErrorContext)));
  if (entry == nullptr) return false;
  BlockMoveData(context, entry->text, Size(context[0]) + 1);
  PushItem(&firstContext, entry);
  return true;
}

void RemoveErrorContext() {
  PopItem(&firstContext);
}

Boolean HideErrors(OSErr *status) {
  OSErr allocStatus;
  auto *entry = reinterpret_cast<ErrorHiding *>(AllocPtrFinal(&allocStatus, sizeof(ErrorHiding)));
  if (entry == nullptr) return false;
  entry->status = status;
  *status = noErr;
  PushItem(&firstHiding, entry);
  return true;
}

void ShowErrors() {
  PopItem(&firstHiding);
}

void AddToLinkedList(LinkedListItem **head, LinkedListItem *item, LinkedListItem *before) {
  for (LinkedListItem **link = head;; link = &(*link)->next) {
    if (*link == before) {
      item->next = before;
      *link = item;
      return;
    }
    if (*link == nullptr) return;
  }
}

LinkedListItem *RemoveFromLinkedList(LinkedListItem **head, LinkedListItem *item) {
  for (LinkedListItem **link = head; *link != nullptr; link = &(*link)->next) {
    if (*link == item) {
      *link = item->next;
      return item->next;
    }
  }
  return nullptr;
}

LinkedListItem *GetLinkedListItem(LinkedListItem *first, SInt32 index) {
  if (index < 0) return nullptr;
  for (; first != nullptr && index > 0; index--) first = first->next;
  return first;
}

SInt32 CountLinkedListItems(LinkedListItem *first) {
  SInt32 count = 0;
  for (; first != nullptr; first = first->next) count++;
  return count;
}
