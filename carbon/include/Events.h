// Event Manager: ticks, Delay and the event queue.
//
// Ticks are sixtieths of a second of a monotonic clock, counted from an arbitrary start.
// This layer has a time scale for tests, CarbonTimeScale(), read from the environment
// variable QUILLCAST_TIME_SCALE (default 1.0; 0.1 makes every tick a tenth as long).
// TickCount, Delay, the sleeps of WaitNextEvent and every time-out given in ticks anywhere
// in the carbon layer honour it. The plug-in never touches it.
//
// Events come from the X display, when one answers (Quickdraw.h): clicks and keys in the
// windows of this process (MacWindows.h), and, while a modal dialog is in front, clicks
// anywhere on the display. Where is in global coordinates; a key's message holds its
// character (Mac OS Roman, charCodeMask) and its virtual key code (keyCodeMask): Return is
// 13 with code 0x24, Enter 3 with code 0x4C, Escape 27. Alt stands for the command key. No
// update or activate events are made: windows keep what is drawn in them. Without a display
// no one clicks or types: a dialog in front answers as its absent user would (Dialogs.h),
// and otherwise the calls report no event. They sleep for the time they are given, so that
// wait loops do not spin.
#pragma once

#include "MacTypes.h"

typedef UInt16 EventKind;
typedef UInt16 EventMask;
typedef UInt16 EventModifiers;

enum : EventKind {
  nullEvent = 0,
  mouseDown = 1,
  mouseUp = 2,
  keyDown = 3,
  keyUp = 4,
  autoKey = 5,
  updateEvt = 6,
  diskEvt = 7,
  activateEvt = 8,
  osEvt = 15,
  kHighLevelEvent = 23,
};

enum : EventMask {
  mDownMask = 0x0002,
  mUpMask = 0x0004,
  keyDownMask = 0x0008,
  keyUpMask = 0x0010,
  autoKeyMask = 0x0020,
  updateMask = 0x0040,
  diskMask = 0x0080,
  activMask = 0x0100,
  highLevelEventMask = 0x0400,
  osMask = 0x8000,
  everyEvent = 0xFFFF,
};

enum : EventModifiers {
  activeFlag = 0x0001,
  btnState = 0x0080,  // set while the mouse button is up
  cmdKey = 0x0100,
  shiftKey = 0x0200,
  alphaLock = 0x0400,
  optionKey = 0x0800,
  controlKey = 0x1000,
};

enum : UInt32 { charCodeMask = 0x000000FF, keyCodeMask = 0x0000FF00 };

struct EventRecord {
  EventKind what;
  UInt32 message;
  UInt32 when;
  Point where;
  EventModifiers modifiers;
};

typedef struct OpaqueRgnHandle *RgnHandle;

UInt32 TickCount();
void Delay(UInt32 numTicks, UInt32 *finalTicks);  // finalTicks may be null

// The next event of the mask, removed from the queue: true, or false with a null event.
// WaitNextEvent waits up to `sleep` ticks for one; GetNextEvent returns at once. Events
// outside the mask stay queued.
Boolean WaitNextEvent(EventMask eventMask, EventRecord *theEvent, UInt32 sleep, RgnHandle mouseRgn);
Boolean GetNextEvent(EventMask eventMask, EventRecord *theEvent);
Boolean EventAvail(EventMask eventMask, EventRecord *theEvent);  // the same, left queued
void FlushEvents(EventMask whichMask, EventMask stopMask);  // removes whichMask up to the first of stopMask
// The mouse button: Button whether it is down; StillDown whether it is still down since the
// last mouse-down (false once a mouse-up is queued), waiting up to a tick for a change so
// that tracking loops do not spin; WaitMouseUp the same, removing that mouse-up. Never down
// without a display.
Boolean Button();
Boolean StillDown();
Boolean WaitMouseUp();
void GetMouse(Point *mouseLoc);  // local to the current port; the origin without a display

// The time scale of this layer and conversions for every wait in ticks (never negative).
double CarbonTimeScale();
long CarbonTicksToMilliseconds(long ticks);

// Test controls of this layer: TickCount goes on from ticks (to see a wrap of the counter).
void CarbonSetTickCount(UInt32 ticks);
