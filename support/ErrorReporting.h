// Heap allocation with a safety margin, and the one place where failures are reported.
//
// Final allocation: a block of n bytes is allocated only while the largest free block holds
// n + kHeapMargin bytes, so that the reporting of a failure always finds memory to work in.
// Every failure is reported where it is detected and the status travels up unchanged.
//
// TestError shows a non-zero status as alert 32766, its texts looked up by status in the
// 'Err2' resources of the current resource file, prefixed by the pushed contexts. While
// someone hides errors, the status is stored in the hider's variable instead (and a beep
// sounds). Contexts and hiders are pushed and popped in nested pairs by their users.
#pragma once

#include <MacTypes.h>

constexpr Size kHeapMargin = 16384;

// Own statuses for null results of Memory Manager and Resource Manager calls.
constexpr OSErr kNullMemoryResult = -108;
constexpr OSErr kNullResourceResult = -192;

// Resources that the reporting reads from the plug-in's resource file.
constexpr ResType kErrorMessageType = FourCC("Err2");
constexpr SInt16 kErrorFallbackStrings = 32765;  // 'STR#': string 1 is the fallback message
constexpr SInt16 kErrorAlert = 32766;            // 'ALRT': ^0 context, ^1 status, ^2 and ^3 messages

// 0 when n bytes plus the margin fit in the largest free block (after a purge if need be),
// else -108, reported.
OSErr CreateHeapSpace(Size byteCount);

// Null on failure with *status set (and reported); caller disposes with the Destroy calls.
Ptr AllocPtrFinal(OSErr *status, Size byteCount);
Handle AllocHandleFinal(OSErr *status, Size byteCount);
void DestroyPtrFinal(Ptr p);        // null is accepted
void DestroyHandleFinal(Handle h);  // null is accepted

// The application's hook for freeing memory when the heap is short; this plug-in has none.
void MyFreeUpMemory(Size byteCount);

void TestError(OSErr status);
// The Memory Manager's last error, or -108 for a null result, reported; 0 when all is well.
OSErr TestMemError(const void *result);
// The Resource Manager's last error, or -192 for a null result, reported.
OSErr TestResError(const void *result);

// Contexts prefix every alert's first text, most recent first. False when no memory.
Boolean AddErrorContext(ConstStr255Param context);
void RemoveErrorContext();

// While hidden, reported statuses land in *status (cleared here) instead of an alert.
// `status` must outlive the matching ShowErrors. False when no memory.
Boolean HideErrors(OSErr *status);
void ShowErrors();

// Singly linked lists whose items begin with their next pointer; a list is named by the
// address of its head. The lists own nothing: callers allocate and dispose the items.
struct LinkedListItem {
  LinkedListItem *next;
};

// Inserts item before `before` (null: at the end); nothing happens if `before` is not found.
void AddToLinkedList(LinkedListItem **head, LinkedListItem *item, LinkedListItem *before);
// Unlinks item; returns the item that followed it, or null when it was not in the list.
LinkedListItem *RemoveFromLinkedList(LinkedListItem **head, LinkedListItem *item);
LinkedListItem *GetLinkedListItem(LinkedListItem *first, SInt32 index);  // null past the end
SInt32 CountLinkedListItems(LinkedListItem *first);
