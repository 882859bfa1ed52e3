// The record store: an ordered list of byte strings (records) addressed by a zero-based
// index. All records lie back to back in one handle, `data`; a second handle, `offsets`,
// holds items + 1 native-order 32-bit offsets: entry i is where record i starts, entry
// `items` is the total of record bytes. Nothing is allocated per record.
//
// Invariants of a created store: entry 0 is 0, entries never decrease, entry `items` <=
// dataCapacity, 4 * (items + 1) <= offsetsCapacity. A store whose `data` is null is absent
// (never created, or killed). The store owns both handles; KillDictionary releases them.
// Records are opaque bytes of any value, NUL and 0xFF included.
#pragma once

#include <MacTypes.h>

#include <cstring>

struct RecordStore {
  Handle data;             // the bytes of all records, record 0 first
  Handle offsets;          // items + 1 UInt32 offsets into data
  SInt32 dataCapacity;     // allocated size of data
  SInt32 offsetsCapacity;  // allocated size of offsets
  SInt32 items;            // number of records
};

constexpr SInt32 kInitialDataSize = 1024;
constexpr SInt32 kInitialOffsetsSize = 256;  // 64 offsets: 63 records before the first growth
constexpr SInt32 kDataSlack = 1024;
constexpr SInt32 kOffsetsSlack = 256;
constexpr SInt32 kShrinkThreshold = 1024;  // shrink when either block has more slack than this

// Makes store a new, empty store; false (and no blocks held) when memory is short. Whatever
// the store held before is forgotten, not released.
Boolean InitDictionary(RecordStore *store);
void KillDictionary(RecordStore *store);  // releases both blocks; the counts stay

SInt32 DictionaryItems(const RecordStore *store);
// True when the store exists and 0 <= index < items: the guard that callers of the three
// unchecked calls below use.
Boolean DictionaryValidIndex(const RecordStore *store, SInt32 index);
// The unchecked calls: they require a created store and a valid index (and count <= the
// record's length). A pointer from DictionaryData lives until the store next changes.
// They are inline because every read of a record goes through them.
inline UInt32 DictionaryLength(const RecordStore *store, SInt32 index) {
  const auto *offsets = reinterpret_cast<const UInt32 *>(*store->offsets);
  return offsets[index + 1] - offsets[index];
}
inline Ptr DictionaryData(const RecordStore *store, SInt32 index) {
  return *store->data + reinterpret_cast<const UInt32 *>(*store->offsets)[index];
}
inline void DictionaryRead(const RecordStore *store, SInt32 index, void *dest, UInt32 count) {
  if (count > 0) std::memcpy(dest, DictionaryData(store, index), count);
}

// False, with the store unchanged, on an absent store, a bad index or short memory.
Boolean DictionaryWrite(RecordStore *store, SInt32 index, const void *src, UInt32 length);
Boolean DictionaryAppend(RecordStore *store);  // a new empty record at the end
// Do nothing on an absent store or a range outside it. RemoveMultiple also does nothing when
// the range reaches the last record ("Cler" empties a store instead).
void DictionaryRemove(RecordStore *store, SInt32 index);
void DictionaryRemoveMultiple(RecordStore *store, SInt32 first, SInt32 count);

// True when a created store's offsets and capacities keep the invariants above.
Boolean DictionaryCheck(const RecordStore *store);
