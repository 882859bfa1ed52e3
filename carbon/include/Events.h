// Event Manager: ticks, Delay and a quiet event queue.
//
// Ticks are sixtieths of a second of a monotonic clock, counted from an arbitrary start.
// This layer has a time scale for tests, CarbonTimeScale(), read from the environment
// variable QUILLCAST_TIME_SCALE (default 1.0; 0.1 makes every tick a tenth as long).
// TickCount, Delay, the sleeps of WaitNextEvent and every time-out given in ticks anywhere
// in the carbon layer honour it. The plug-in never touches it.
//
// There is never anyone to click or type here: the event calls report no event. They sleep
// for the time they are given, so that wait loops do not spin.
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

// Both report no event (false) and fill theEvent with a null event. WaitNextEvent sleeps
// `sleep` ticks first; GetNextEvent returns at once.
Boolean WaitNextEvent(EventMask eventMask, EventRecord *theEvent, UInt32 sleep, RgnHandle mouseRgn);
Boolean GetNextEvent(EventMask eventMask, EventRecord *theEvent);
Boolean EventAvail(EventMask eventMask, EventRecord *theEvent);  // false
void FlushEvents(EventMask whichMask, EventMask stopMask);
Boolean Button();                // false: no mouse button is ever down
Boolean StillDown();             // false
void GetMouse(Point *mouseLoc);  // the origin

// The time scale of this layer and conversions for every wait in ticks (never negative).
double CarbonTimeScale();
long CarbonTicksToMilliseconds(long ticks);
