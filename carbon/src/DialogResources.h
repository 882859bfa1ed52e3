// Internal to the carbon layer: what alerts and dialogs share, the item lists of 'DITL'
// resources and the line that stands for a dialog nobody can see.
#pragma once

#include <Dialogs.h>
#include <Endian.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace carbon {

struct ItemTemplate {
  DialogItemType kind;  // with kItemDisableMask
  Rect bounds;
  std::string text;  // Mac OS Roman
};

// A rectangle as resources hold it: top, left, bottom, right.
bool ReadRect(ByteReader *reader, Rect *rect);

// The items of a 'DITL' resource's bytes; false when they are damaged.
bool ParseItemList(const uint8_t *data, size_t size, std::vector<ItemTemplate> *items);

// Writes "<program>: <kind> <id>: <text>[ [<button>]]" as one line of UTF-8 on standard
// error, line ends in the text shown as spaces; no button part when button is empty.
void WriteDialogLine(const char *kind, SInt16 id, const std::string &text, const std::string &button);

}  // namespace carbon
