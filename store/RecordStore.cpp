// The record store: two handles, grown with slack and shrunk when the slack gets large.
#include "store/RecordStore.h"

#include <MacMemory.h>

#include "support/Conversions.h"

#include <cassert>
#include <cstdint>
#include <cstring>

namespace {

UInt32 *Offsets(const RecordStore *store) {
  return reinterpret_cast<UInt32 *>(*store->offsets);
}

// The byte size of n offsets entries, or -1 when the block could not be described by the
// signed 32-bit capacity.
SInt64 OffsetsBytes(SInt64 entries, SInt32 slack) {
  SInt64 bytes = 4 * entries + slack;
  return bytes <= INT32_MAX ? bytes : -1;
}

void ShiftOffsets(UInt32 *offsets, SInt32 from, SInt32 through, SInt64 delta) {
  for (SInt32 k = from; k <= through; k++) offsets[k] = UInt32(offsets[k] + delta);
}

void Shrink(RecordStore *store) {
  UInt32 total = Offsets(store)[store->items];
  if (SInt64(store->dataCapacity) > SInt64(total) + kShrinkThreshold) {
    SetHandleSize(store->data, Size(total));
    store->dataCapacity = SInt32(total);
  }
  if (SInt64(store->offsetsCapacity) > 4 * SInt64(store->items) + 4 + kShrinkThreshold) {
    SetHandleSize(store->offsets, 4 * Size(store->items) + 4);
    store->offsetsCapacity = 4 * store->items + 4;
  }
}

}  // namespace

Boolean InitDictionary(RecordStore *store) {
  store->data = MyNewHandle(kInitialDataSize);
  store->offsets = store->data ? MyNewHandle(kInitialOffsetsSize) : nullptr;
  if (store->offsets == nullptr) {
    MyDisposeHandle(store->data);
    store->data = nullptr;
    return false;
  }
  store->dataCapacity = kInitialDataSize;
  store->offsetsCapacity = kInitialOffsetsSize;
  store->items = 0;
  Offsets(store)[0] = 0;
  return true;
}

void KillDictionary(RecordStore *store) {
  MyDisposeHandle(store->data);
  store->data = nullptr;
  MyDisposeHandle(store->offsets);
  store->offsets = nullptr;
}

SInt32 DictionaryItems(const RecordStore *store) {
  return store->items;
}

Boolean DictionaryValidIndex(const RecordStore *store, SInt32 index) {
  return store->data != nullptr && store->offsets != nullptr && index >= 0 && index < store->items;
}

Boolean DictionaryWrite(RecordStore *store, SInt32 index, const void *src, UInt32 length) {
  if (!DictionaryValidIndex(store, index)) return false;
  UInt32 *offsets = Offsets(store);
  UInt32 total = offsets[store->items];
  UInt32 old = offsets[index + 1] - offsets[index];
  SInt64 newTotal = SInt64(total) + length - old;
  if (newTotal > store->dataCapacity) {
    if (newTotal + kDataSlack > INT32_MAX || !MySetHandleSize(store->data, Size(newTotal + kDataSlack))) {
      return false;
    }
    store->dataCapacity = SInt32(newTotal + kDataSlack);
  }
  Ptr data = *store->data;
  UInt32 next = offsets[index + 1];
  // A value of the same length moves nothing and shifts no offset.
  if (length != old) {
    if (next != total) BlockMove(data + next, data + next + length - old, Size(total - next));
    ShiftOffsets(offsets, index + 1, store->items, SInt64(length) - old);
  }
  if (length > 0) std::memcpy(data + offsets[index], src, length);
  assert(DictionaryCheck(store));
  return true;
}

Boolean DictionaryAppend(RecordStore *store) {
  if (store->data == nullptr || store->offsets == nullptr) return false;
  SInt32 n = store->items;
  if (4 * SInt64(n) + 8 > store->offsetsCapacity) {
    SInt64 bytes = OffsetsBytes(n, kOffsetsSlack + 8);
    if (bytes < 0 || !MySetHandleSize(store->offsets, Size(bytes))) return false;
    store->offsetsCapacity = SInt32(bytes);
  }
  UInt32 *offsets = Offsets(store);
  offsets[n + 1] = offsets[n];
  store->items = n + 1;
  assert(DictionaryCheck(store));
  return true;
}

void DictionaryRemove(RecordStore *store, SInt32 index) {
  if (!DictionaryValidIndex(store, index)) return;
  UInt32 *offsets = Offsets(store);
  UInt32 start = offsets[index];
  UInt32 next = offsets[index + 1];
  UInt32 gone = next - start;
  BlockMove(*store->data + next, *store->data + start, Size(offsets[store->items] - next));
  for (SInt32 k = index + 1; k < store->items; k++) offsets[k] = offsets[k + 1] - gone;
  store->items--;
  Shrink(store);
  assert(DictionaryCheck(store));
}

void DictionaryRemoveMultiple(RecordStore *store, SInt32 first, SInt32 count) {
  if (store->data == nullptr || store->offsets == nullptr || first < 0 || count < 0) return;
  if (SInt64(first) + count >= store->items) return;
  UInt32 *offsets = Offsets(store);
  UInt32 start = offsets[first];
  UInt32 next = offsets[first + count];
  UInt32 gone = next - start;
  BlockMove(*store->data + next, *store->data + start, Size(offsets[store->items] - next));
  store->items -= count;
  for (SInt32 k = first + 1; k <= store->items; k++) offsets[k] = offsets[k + count] - gone;
  Shrink(store);
  assert(DictionaryCheck(store));
}

Boolean DictionaryCheck(const RecordStore *store) {
  if (store->data == nullptr || store->offsets == nullptr || store->items < 0) return false;
  if (4 * (SInt64(store->items) + 1) > store->offsetsCapacity) return false;
  if (GetHandleSize(store->offsets) < store->offsetsCapacity ||
      GetHandleSize(store->data) < store->dataCapacity) {
    return false;
  }
  const UInt32 *offsets = Offsets(store);
  if (offsets[0] != 0 || offsets[store->items] > UInt32(store->dataCapacity)) return false;
  for (SInt32 k = 0; k < store->items; k++) {
    if (offsets[k + 1] < offsets[k]) return false;
  }
  return true;
}
