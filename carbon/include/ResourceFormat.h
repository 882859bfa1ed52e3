// The resource file format of this layer, shared by the reader (Resources.cpp) and the
// resource compiler: the names and sizes of every field. The layout is described in
// Resources.h. Every integer is big-endian and goes through Endian.h.
#pragma once

#include <MacTypes.h>

#include <cstddef>
#include <cstdint>

namespace carbon::rsrc {

constexpr uint32_t kMagic = FourCC("QRsf");
constexpr uint16_t kVersion = 1;

// File header.
constexpr size_t kHeaderSize = 16;
constexpr size_t kMagicAt = 0;
constexpr size_t kVersionAt = 4;
constexpr size_t kCountAt = 8;

// One entry of the resource table, which follows the header.
constexpr size_t kEntrySize = 16;
constexpr size_t kTypeAt = 0;
constexpr size_t kIDAt = 4;
constexpr size_t kAttributesAt = 6;
constexpr size_t kOffsetAt = 8;
constexpr size_t kLengthAt = 12;

// 'Err2': a 2-byte count, then entries of a code and two full Str255 fields.
constexpr size_t kErr2CountSize = 2;
constexpr size_t kErr2EntrySize = 514;
constexpr size_t kErr2CodeAt = 0;
constexpr size_t kErr2Message1At = 2;
constexpr size_t kErr2Message2At = 258;

// 'ALRT': bounds, item list ID, default item.
constexpr size_t kAlertSize = 12;
constexpr size_t kAlertItemsAt = 8;
constexpr size_t kAlertDefaultAt = 10;

// 'DLOG': bounds, window kind, visible, close box, refCon, item list ID, title.
constexpr size_t kDialogBoundsAt = 0;
constexpr size_t kDialogVisibleAt = 10;
constexpr size_t kDialogItemsAt = 16;
constexpr size_t kDialogTitleAt = 18;

// 'DITL': a 2-byte count, then items of a kind, bounds and a Pascal string.
constexpr size_t kItemHeaderSize = 10;
constexpr size_t kItemBoundsAt = 2;
constexpr size_t kItemTextAt = 10;

}  // namespace carbon::rsrc
