// The flattened form of a descriptor: the bytes in which a plain descriptor, a list, a record
// or a whole Apple event (attributes and parameters) travels between processes. Written by
// AEFlattenDesc, read by AEUnflattenDescSafe (AEDataModel.h). This file is the one description
// of the layout, for the writer and the reader alike.
//
// Every integer is big-endian (Endian.h). Nothing is padded.
//
//   flattened := magic 'aefl' (4) | version (4) = 1 | type (4) | length (4) | content[length]
//
//   content   := <nothing>                       length 0: a descriptor without data
//              | 'data' (4) | bytes[length - 4]  plain data, at least one byte
//              | 'list' (4) | items              a list; every key is '****'
//              | 'reco' (4) | items              a record, whatever its descriptor type
//              | 'aevt' (4) | items | items      an Apple event: its attributes, then its parameters
//
//   items     := count (4) | count x item
//   item      := key (4) | type (4) | length (4) | content[length]
//
// Plain data of the types 'shor' (2 bytes), 'long', 'magn', 'type', 'enum', 'keyw', 'prop',
// 'abso' (4 bytes) and 'psn ' (two 4-byte words) is big-endian here and in this machine's order
// inside a descriptor; data of any other type or size is carried byte for byte.
//
// The reader accepts exactly what the writer produces, so that flattening what it read gives
// back the same bytes. It refuses, with paramErr:
//   - a buffer shorter than the header, another magic or version, or a length that does not
//     end exactly at the end of the buffer;
//   - an item or count that runs past its enclosing content, or a list or record whose items
//     do not fill it exactly;
//   - a form other than the four above, or 'data' with no bytes (that is written as length 0);
//   - a 'list' key other than '****';
//   - the types 'list', 'reco' and 'aevt' with any form but their own, and the forms 'list'
//     and 'aevt' under any type but their own;
//   - lists, records and events nested deeper than kAEFlatMaxDepth.
//
// A descriptor's data handle holds its content in this very form, so flattening is one header
// and one copy, and unflattening is one check and one copy.
#pragma once

#include "MacTypes.h"

enum : uint32_t {
  kAEFlatMagic = FourCC("aefl"),
  kAEFlatVersion = 1,
  kAEFlatHeaderSize = 16,
  kAEFlatItemHeaderSize = 12,
  kAEFlatMaxDepth = 64,  // lists, records and events inside one another, the outermost counted
};

enum : uint32_t {
  kAEFlatFormData = FourCC("data"),
  kAEFlatFormList = FourCC("list"),
  kAEFlatFormRecord = FourCC("reco"),
  kAEFlatFormEvent = FourCC("aevt"),
};
