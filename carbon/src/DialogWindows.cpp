// Dialogs: windows laid out from 'DLOG' and 'DITL' resources, their items, and how they take
// clicks and keys, or answer for a user who cannot see them.
#include "ControlRecords.h"
#include "DialogResources.h"
#include "EventQueue.h"
#include "WindowRecords.h"

#include <Dialogs.h>
#include <Endian.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <ResourceFormat.h>
#include <Resources.h>

#include <span>
#include <string>
#include <vector>

namespace {

struct DialogItem {
  DialogItemType kind;  // with kItemDisableMask
  Rect bounds;
  std::string text;
  bool hidden;
  Handle handle;       // a user item's drawing procedure
  ControlRef control;  // a button's control
};

constexpr UInt8 kReturn = 13;
constexpr UInt8 kEnter = 3;
constexpr UInt8 kEscape = 27;
constexpr UInt32 kReturnKeyCode = 0x24;
constexpr UInt32 kFlashTicks = 8;

}  // namespace

struct OpaqueDialogPtr {
  WindowRef window;
  SInt16 id;
  std::vector<DialogItem> items;
  DialogItemIndex defaultItem;
  DialogItemIndex cancelItem;
  bool announced;  // written on standard error for want of a display
};

namespace {

DialogItem *ItemOf(DialogRef dialog, DialogItemIndex itemNo) {
  if (dialog == nullptr || itemNo < 1 || size_t(itemNo) > dialog->items.size()) return nullptr;
  return &dialog->items[size_t(itemNo) - 1];
}

DialogItemType BaseKind(const DialogItem &item) {
  return DialogItemType(item.kind & ~kItemDisableMask);
}

bool Enabled(const DialogItem &item) {
  return (item.kind & kItemDisableMask) == 0;
}

// A button that a key may press: shown, enabled and active.
ControlRef PressableButton(DialogRef dialog, DialogItemIndex itemNo) {
  DialogItem *item = ItemOf(dialog, itemNo);
  if (item == nullptr || item->hidden || !Enabled(*item) || item->control == nullptr) return nullptr;
  return GetControlHilite(item->control) != kControlInactivePart ? item->control : nullptr;
}

// Draws in the dialog's port, and puts the current port back afterwards.
class DialogPort {
 public:
  explicit DialogPort(DialogRef dialog) {
    GetPort(&previous_);
    SetPort(dialog->window->port);
  }
  ~DialogPort() { SetPort(previous_); }
  DialogPort(const DialogPort &) = delete;
  DialogPort &operator=(const DialogPort &) = delete;

 private:
  GrafPtr previous_ = nullptr;
};

SInt16 Width(const std::string &text) {
  return TextWidth(text.data(), 0, SInt16(text.size()));
}

// Static and edit text: wrapped at spaces to the item's width (CR always breaks), line by
// line while the lines fit in the item.
void DrawWrapped(const std::string &text, const Rect &box) {
  UseThemeFont(kThemeSystemFont, smSystemScript);
  ForeColor(blackColor);
  FontInfo info;
  GetFontInfo(&info);
  int lineHeight = info.ascent + info.descent + info.leading;
  int top = box.top;
  size_t at = 0;
  while (at < text.size() && top + lineHeight <= box.bottom) {
    size_t end = at;
    size_t lineEnd = at;
    while (end < text.size() && text[end] != '\r') {
      size_t next = text.find_first_of(" \r", end + 1);
      if (next == std::string::npos) next = text.size();
      if (lineEnd > at && Width(text.substr(at, next - at)) > box.right - box.left) break;
      lineEnd = end = next;
    }
    std::string line = text.substr(at, lineEnd - at);
    MoveTo(box.left, SInt16(top + info.ascent));
    DrawText(line.data(), 0, SInt16(line.size()));
    top += lineHeight;
    at = lineEnd < text.size() ? lineEnd + 1 : lineEnd;
  }
}

void DrawItem(DialogRef dialog, DialogItemIndex itemNo) {
  DialogItem *item = ItemOf(dialog, itemNo);
  if (item == nullptr || item->hidden) return;
  switch (BaseKind(*item)) {
    case kButtonDialogItem:
      Draw1Control(item->control);
      break;
    case kStaticTextDialogItem:
      DrawWrapped(item->text, item->bounds);
      break;
    case kEditTextDialogItem: {
      Rect frame = item->bounds;
      InsetRect(&frame, -3, -3);
      ForeColor(blackColor);
      FrameRect(&frame);
      DrawWrapped(item->text, item->bounds);
      break;
    }
    case kUserDialogItem:
      if (item->handle != nullptr) reinterpret_cast<UserItemUPP>(item->handle)(dialog, itemNo);
      break;
    default:
      break;
  }
}

void EraseItem(DialogRef dialog, DialogItemIndex itemNo) {
  DialogItem *item = ItemOf(dialog, itemNo);
  if (item == nullptr) return;
  if (item->control != nullptr) {
    carbon::EraseControl(item->control);
  } else {
    DialogPort port(dialog);
    EraseRect(&item->bounds);
  }
}

void PressDefaultButton(DialogRef dialog) {
  if (PressableButton(dialog, dialog->defaultItem) == nullptr || carbon::EventQueued(keyDownMask)) return;
  carbon::QueueEvent(EventRecord{keyDown, (kReturnKeyCode << 8) | kReturn, TickCount(), {0, 0}, btnState});
}

void AnswerAbsentUser(WindowRef window) {
  auto *dialog = static_cast<DialogRef>(window->owner);
  if (!dialog->announced) {
    std::string text;
    for (const std::string &drawn : window->port->drawnTexts) text += (text.empty() ? "" : " ") + drawn;
    ControlRef button = PressableButton(dialog, dialog->defaultItem);
    carbon::WriteDialogLine("dialog", dialog->id, text, button != nullptr ? button->title : std::string());
    dialog->announced = true;
  }
  PressDefaultButton(dialog);
}

void CloseRequested(WindowRef window) {
  PressDefaultButton(static_cast<DialogRef>(window->owner));
}

Boolean StandardFilter(DialogRef dialog, EventRecord *event, DialogItemIndex *itemHit) {
  if (event->what != keyDown && event->what != autoKey) return false;
  auto character = UInt8(event->message & charCodeMask);
  DialogItemIndex target = 0;
  if (character == kReturn || character == kEnter) target = dialog->defaultItem;
  if (character == kEscape || (character == '.' && (event->modifiers & cmdKey))) target = dialog->cancelItem;
  ControlRef button = PressableButton(dialog, target);
  if (button == nullptr) return false;
  HiliteControl(button, kControlButtonPart);
  Delay(kFlashTicks, nullptr);
  HiliteControl(button, kControlNoPart);
  *itemHit = target;
  return true;
}

// A copy of a resource's data, read through the Resource Manager (which sets ResError) and
// released again: a dialog keeps nothing of its templates.
bool TakeResource(ResType type, SInt16 id, std::vector<uint8_t> *data) {
  Handle resource = GetResource(type, id);
  if (resource == nullptr) return false;
  data->assign(*resource, *resource + GetHandleSize(resource));
  ReleaseResource(resource);
  return true;
}

}  // namespace

DialogRef GetNewDialog(SInt16 dialogID, void *, WindowRef) {
  using namespace carbon::rsrc;
  std::vector<uint8_t> bytes;
  if (!TakeResource(kDialogResType, dialogID, &bytes)) return nullptr;
  static_assert(kDialogBoundsAt == 0 && kDialogVisibleAt >= sizeof(Rect) &&
                kDialogItemsAt > kDialogVisibleAt && kDialogTitleAt >= kDialogItemsAt + 2);
  ByteReader dlog = ByteReaderOver(bytes.data(), bytes.size());
  Rect bounds{};
  uint8_t visibleByte = 0, titleLength = 0;
  uint16_t itemsID = 0;
  std::span<const uint8_t> titleBytes;
  if (!carbon::ReadRect(&dlog, &bounds) || !ReadByteRun(&dlog, kDialogVisibleAt - sizeof(Rect), nullptr) ||
      !ReadByte(&dlog, &visibleByte) || !ReadByteRun(&dlog, kDialogItemsAt - kDialogVisibleAt - 1, nullptr) ||
      !ReadBigEndian16(&dlog, &itemsID) ||
      !ReadByteRun(&dlog, kDialogTitleAt - kDialogItemsAt - 2, nullptr) || !ReadByte(&dlog, &titleLength) ||
      !ReadByteRun(&dlog, titleLength, &titleBytes)) {
    return nullptr;
  }
  bool visible = visibleByte != 0;
  std::string title(titleBytes.begin(), titleBytes.end());
  std::vector<uint8_t> itemList;
  std::vector<carbon::ItemTemplate> templates;
  if (!TakeResource(kDialogItemListResType, SInt16(itemsID), &itemList) ||
      !carbon::ParseItemList(itemList.data(), itemList.size(), &templates)) {
    return nullptr;
  }
  WindowRef window = carbon::NewWindowRecord(bounds, title, true);
  auto *dialog = new OpaqueDialogPtr{window, dialogID, {}, 0, 0, false};
  for (const carbon::ItemTemplate &item : templates) {
    bool button = (item.kind & ~kItemDisableMask) == kButtonDialogItem;
    ControlRef control = button ? carbon::NewPushButton(window, item.bounds, item.text) : nullptr;
    dialog->items.push_back(DialogItem{item.kind, item.bounds, item.text, false, nullptr, control});
  }
  window->owner = dialog;
  window->answerAbsentUser = AnswerAbsentUser;
  window->closeRequested = CloseRequested;
  if (visible) {
    ShowWindow(window);
    DrawDialog(dialog);
  }
  return dialog;
}

void DisposeDialog(DialogRef theDialog) {
  if (theDialog == nullptr) return;
  for (DialogItem &item : theDialog->items) delete item.control;
  carbon::DisposeWindowRecord(theDialog->window);
  delete theDialog;
}

WindowRef GetDialogWindow(DialogRef dialog) {
  return dialog != nullptr ? dialog->window : nullptr;
}

CGrafPtr GetDialogPort(DialogRef dialog) {
  return dialog != nullptr ? dialog->window->port : nullptr;
}

void SetPortDialogPort(DialogRef dialog) {
  if (dialog != nullptr) SetPort(dialog->window->port);
}

DialogRef GetDialogFromWindow(WindowRef window) {
  return window != nullptr && window->answerAbsentUser == AnswerAbsentUser
             ? static_cast<DialogRef>(window->owner)
             : nullptr;
}

UserItemUPP NewUserItemUPP(UserItemProcPtr userRoutine) {
  return userRoutine;
}

void DisposeUserItemUPP(UserItemUPP) {}

void GetDialogItem(DialogRef theDialog, DialogItemIndex itemNo, DialogItemType *itemType, Handle *item,
                   Rect *box) {
  DialogItem *found = ItemOf(theDialog, itemNo);
  *itemType = found != nullptr ? found->kind : 0;
  *item = found == nullptr            ? nullptr
          : found->control != nullptr ? reinterpret_cast<Handle>(found->control)
                                      : found->handle;
  *box = found != nullptr ? found->bounds : Rect{0, 0, 0, 0};
}

void SetDialogItem(DialogRef theDialog, DialogItemIndex itemNo, DialogItemType itemType, Handle item,
                   const Rect *box) {
  DialogItem *found = ItemOf(theDialog, itemNo);
  if (found == nullptr) return;
  found->kind = itemType;
  found->bounds = *box;
  if (found->control == nullptr) found->handle = item;
}

OSErr GetDialogItemAsControl(DialogRef inDialog, SInt16 inItemNo, ControlRef *outControl) {
  DialogItem *found = ItemOf(inDialog, inItemNo);
  *outControl = found != nullptr ? found->control : nullptr;
  return *outControl != nullptr ? OSErr(noErr) : OSErr(errItemNotControl);
}

void HideDialogItem(DialogRef theDialog, DialogItemIndex itemNo) {
  DialogItem *item = ItemOf(theDialog, itemNo);
  if (item == nullptr || item->hidden) return;
  item->hidden = true;
  if (IsWindowVisible(theDialog->window)) EraseItem(theDialog, itemNo);
  if (item->control != nullptr) item->control->visible = false;
}

void ShowDialogItem(DialogRef theDialog, DialogItemIndex itemNo) {
  DialogItem *item = ItemOf(theDialog, itemNo);
  if (item == nullptr || !item->hidden) return;
  item->hidden = false;
  if (item->control != nullptr) item->control->visible = true;
  if (!IsWindowVisible(theDialog->window)) return;
  DialogPort port(theDialog);
  DrawItem(theDialog, itemNo);
}

OSErr SetDialogDefaultItem(DialogRef theDialog, DialogItemIndex newItem) {
  if (theDialog == nullptr) return paramErr;
  if (DialogItem *old = ItemOf(theDialog, theDialog->defaultItem);
      old != nullptr && old->control != nullptr) {
    old->control->isDefault = false;
    if (IsWindowVisible(theDialog->window) && !old->hidden) {
      EraseItem(theDialog, theDialog->defaultItem);
      Draw1Control(old->control);
    }
  }
  theDialog->defaultItem = newItem;
  if (DialogItem *item = ItemOf(theDialog, newItem); item != nullptr && item->control != nullptr) {
    item->control->isDefault = true;
    if (IsWindowVisible(theDialog->window)) Draw1Control(item->control);
  }
  return noErr;
}

OSErr SetDialogCancelItem(DialogRef theDialog, DialogItemIndex newItem) {
  if (theDialog == nullptr) return paramErr;
  theDialog->cancelItem = newItem;
  return noErr;
}

void DrawDialog(DialogRef theDialog) {
  if (theDialog == nullptr) return;
  DialogPort port(theDialog);
  theDialog->window->port->drawnTexts.clear();
  Rect all;
  GetPortBounds(theDialog->window->port, &all);
  EraseRect(&all);
  for (size_t i = 1; i <= theDialog->items.size(); i++) DrawItem(theDialog, DialogItemIndex(i));
}

Boolean IsDialogEvent(const EventRecord *theEvent) {
  WindowRef window = nullptr;
  switch (theEvent->what) {
    case mouseDown:
      return FindWindow(theEvent->where, &window) == inContent && GetDialogFromWindow(window);
    case nullEvent:
    case keyDown:
    case keyUp:
    case autoKey:
      return GetDialogFromWindow(FrontWindow()) != nullptr;
    default:
      return false;
  }
}

Boolean DialogSelect(const EventRecord *theEvent, DialogRef *theDialog, DialogItemIndex *itemHit) {
  *itemHit = 0;
  WindowRef window = nullptr;
  if (theEvent->what != mouseDown || FindWindow(theEvent->where, &window) != inContent) return false;
  DialogRef dialog = GetDialogFromWindow(window);
  if (dialog == nullptr) return false;
  *theDialog = dialog;
  DialogPort port(dialog);
  Point where = theEvent->where;
  GlobalToLocal(&where);
  for (size_t i = 1; i <= dialog->items.size(); i++) {
    const DialogItem &item = dialog->items[i - 1];
    if (item.hidden || !PtInRect(where, &item.bounds)) continue;
    if (!Enabled(item)) return false;
    if (item.control != nullptr && TrackControl(item.control, where, nullptr) != kControlButtonPart)
      return false;
    *itemHit = DialogItemIndex(i);
    return true;
  }
  return false;
}

OSErr GetStdFilterProc(ModalFilterUPP *theProc) {
  *theProc = StandardFilter;
  return noErr;
}
