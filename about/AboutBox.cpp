// The About box and its two modal loops.
#include "about/AboutBox.h"

#include <Events.h>
#include <MacWindows.h>
#include <Quickdraw.h>
#include <Resources.h>

#include "support/ApplicationLookup.h"
#include "support/ErrorReporting.h"

DialogRef aboutDialog = nullptr;
UInt32 aboutStartTicks = 0;
UserItemUPP PascalAboutVersionDrawUPP = nullptr;

namespace {

constexpr SInt16 kAboutDialogID = 32761;
constexpr SInt16 kNamesList = 32766;
constexpr SInt16 kVersionString = 2;
constexpr SInt16 kAboutList = 32767;
constexpr SInt16 kLinkLineString = 7;
constexpr SInt16 kLinkURLString = 12;

constexpr DialogItemIndex kOKItem = 1;
constexpr DialogItemIndex kVersionItem = 8;
constexpr DialogItemIndex kHiddenItems[] = {1, 2, 5, 6, 7, 9};

constexpr EventMask kAboutEvents = 0xFBFF;  // all but high-level events, which stay queued
constexpr UInt32 kClickSleep = 5;
constexpr UInt32 kWaitSleep = 15;
constexpr UInt32 kFlashTicks = 8;
constexpr SInt16 kLineHeight = 12;
constexpr SInt16 kTextSize = 9;

// Ticks since the box was drawn. Unsigned, so that a wrap of the tick counter between the
// two readings still gives the true difference.
UInt32 TicksSinceStart() {
  return TickCount() - aboutStartTicks;
}

Boolean TimeIsUp(SInt32 ticks) {
  return ticks > 0 && TicksSinceStart() > UInt32(ticks);
}

void UseArrowCursor() {
  Cursor arrow;
  SetCursor(GetQDGlobalsArrow(&arrow));
}

Rect ItemRect(DialogRef dialog, DialogItemIndex item) {
  DialogItemType type;
  Handle handle;
  Rect box;
  GetDialogItem(dialog, item, &type, &handle, &box);
  return box;
}

// The top (line 0) or bottom (line 1) 12-pixel line of the version item.
Rect LineRect(DialogRef dialog, int line) {
  Rect box = ItemRect(dialog, kVersionItem);
  if (line == 0) box.bottom = SInt16(box.top + kLineHeight);
  if (line == 1) box.top = SInt16(box.bottom - kLineHeight);
  return box;
}

// One line of the item, with its baseline high enough that descenders and an underline stay
// inside the line.
void DrawItemLine(const Rect &line, SInt16 listID, SInt16 index, StyleParameter face, SInt32 colour) {
  Str255 text;
  GetIndString(text, listID, index);
  UseThemeFont(kThemeSystemFont, smSystemScript);
  TextSize(kTextSize);
  TextFace(face);
  ForeColor(colour);
  FontInfo info;
  GetFontInfo(&info);
  MoveTo(line.left, SInt16(line.bottom - info.descent - 1));
  DrawString(text);
  TextFace(normal);
  ForeColor(blackColor);
}

void DrawLink(DialogRef dialog, SInt32 colour) {
  Rect line = LineRect(dialog, 1);
  EraseRect(&line);
  DrawItemLine(line, kAboutList, kLinkLineString, underline, colour);
}

// Follows a click on the version item: red while the pointer is over the link line, blue
// elsewhere. True when the button came up over the link and its URL was opened.
Boolean TrackLink(const EventRecord &click) {
  SetPortDialogPort(aboutDialog);
  Rect line = LineRect(aboutDialog, 1);
  Point where = click.where;
  GlobalToLocal(&where);
  if (!PtInRect(where, &line)) return false;
  Boolean inside = true;
  DrawLink(aboutDialog, redColor);
  while (StillDown()) {
    GetMouse(&where);
    if (PtInRect(where, &line) != inside) {
      inside = !inside;
      DrawLink(aboutDialog, inside ? redColor : blueColor);
    }
  }
  EventRecord up;
  if (GetNextEvent(mUpMask, &up)) {
    where = up.where;
    GlobalToLocal(&where);
    inside = PtInRect(where, &line);
  }
  DrawLink(aboutDialog, blueColor);
  if (!inside) return false;
  Str255 url;
  GetIndString(url, kAboutList, kLinkURLString);
  return OpenURL(url + 1, url[0]) == noErr;
}

void FlashOKButton() {
  ControlRef button;
  if (GetDialogItemAsControl(aboutDialog, kOKItem, &button) != noErr) return;
  HiliteControl(button, kControlButtonPart);
  Delay(kFlashTicks, nullptr);
  HiliteControl(button, kControlNoPart);
}

}  // namespace

void ShowAboutDialog() {
  if (aboutDialog != nullptr) {
    SelectWindow(GetDialogWindow(aboutDialog));
    return;
  }
  DialogRef dialog = GetNewDialog(kAboutDialogID, nullptr, kFirstWindowOfClass);
  if (TestResError(dialog) != noErr) return;
  aboutDialog = dialog;
  for (DialogItemIndex item : kHiddenItems) HideDialogItem(dialog, item);
  PascalAboutVersionDrawUPP = NewUserItemUPP(PascalAboutVersionDraw);
  DialogItemType type;
  Handle handle;
  Rect box;
  GetDialogItem(dialog, kVersionItem, &type, &handle, &box);
  SetDialogItem(dialog, kVersionItem, type, reinterpret_cast<Handle>(PascalAboutVersionDrawUPP), &box);
  SetDialogDefaultItem(dialog, kOKItem);
  ShowWindow(GetDialogWindow(dialog));
  SetPortDialogPort(dialog);
  DrawDialog(dialog);
  aboutStartTicks = TickCount();
}

void WaitForAboutDialogJustClick(SInt32 ticks) {
  if (aboutDialog == nullptr) return;
  SelectWindow(GetDialogWindow(aboutDialog));
  UseArrowCursor();
  for (;;) {
    EventRecord event;
    WaitNextEvent(kAboutEvents, &event, kClickSleep, nullptr);
    if (event.what == mouseDown) {
      if (IsDialogEvent(&event)) break;
      SysBeep(1);
    }
    if (TimeIsUp(ticks)) break;
  }
  DisposeAboutDialog();
}

void WaitForAboutDialog(SInt32 ticks) {
  if (aboutDialog == nullptr) return;
  ShowDialogItem(aboutDialog, kOKItem);
  SelectWindow(GetDialogWindow(aboutDialog));
  UseArrowCursor();
  ModalFilterUPP standardFilter = nullptr;
  GetStdFilterProc(&standardFilter);
  Boolean timing = ticks >= 1;
  for (;;) {
    EventRecord event;
    WaitNextEvent(kAboutEvents, &event, kWaitSleep, nullptr);
    if (!IsDialogEvent(&event)) {
      if (event.what == mouseDown) SysBeep(1);
    } else {
      if (event.what == mouseDown || event.what == keyDown) timing = false;
      DialogRef hitDialog = aboutDialog;
      DialogItemIndex item = 0;
      Boolean hit = (standardFilter != nullptr && standardFilter(aboutDialog, &event, &item)) ||
                    DialogSelect(&event, &hitDialog, &item);
      if ((hit && item == kOKItem) || (hit && item == kVersionItem && TrackLink(event))) break;
    }
    if (timing && TimeIsUp(ticks)) {
      FlashOKButton();
      break;
    }
  }
  DisposeAboutDialog();
}

void DisposeAboutDialog() {
  if (aboutDialog == nullptr) return;
  DisposeDialog(aboutDialog);
  DisposeUserItemUPP(PascalAboutVersionDrawUPP);
  PascalAboutVersionDrawUPP = nullptr;
  aboutDialog = nullptr;
}

void PascalAboutVersionDraw(DialogRef dialog, DialogItemIndex) {
  DrawItemLine(LineRect(dialog, 0), kNamesList, kVersionString, bold, blackColor);
  DrawItemLine(LineRect(dialog, 1), kAboutList, kLinkLineString, underline, blueColor);
}
