// QuickDraw: rectangles, the screen devices, and the cursor.
//
// Screens. With an X display reachable (DISPLAY set and the display opens; libX11 and, when
// present, libXinerama are loaded at run time, so nothing is needed to build), the devices
// are the display's screens. Otherwise they come from the environment variable
// QUILLCAST_SCREENS, a comma-separated list of WIDTHxHEIGHT+X+Y (X and Y may be negative:
// "1440x900+0+0,1024x768-1024+0"); entries that do not parse are ignored. With neither,
// there is one 1440 x 900 screen at the origin. The main device is the screen whose top
// left corner is the origin, else the first one. Coordinates are global and clamped to
// 16 bits.
//
// The devices belong to this layer: they live for the whole process and are never
// disposed of. Their handles are not Memory Manager handles.
#pragma once

#include "MacTypes.h"

struct GDevice;
typedef GDevice *GDPtr;
typedef GDPtr *GDHandle;

struct GDevice {
  SInt16 gdRefNum;  // the screen's index, 0 for the first
  SInt16 gdID;
  SInt16 gdType;
  SInt16 gdFlags;
  Rect gdRect;        // the screen in global coordinates
  GDHandle gdNextGD;  // the next device, null after the last
};

GDHandle GetMainDevice();
GDHandle GetDeviceList();
GDHandle GetNextDevice(GDHandle curDevice);  // null after the last

void SetRect(Rect *r, SInt16 left, SInt16 top, SInt16 right, SInt16 bottom);
void UnionRect(const Rect *src1, const Rect *src2, Rect *dstRect);  // dstRect may alias a source
Boolean EmptyRect(const Rect *r);
Boolean EqualRect(const Rect *rect1, const Rect *rect2);

// The cursor. There is no pointer to draw here; these calls only keep the calling code's
// shape.
struct Cursor {
  UInt16 data[16];
  UInt16 mask[16];
  Point hotSpot;
};
typedef Cursor *CursPtr;
typedef UInt32 ThemeCursor;
enum : ThemeCursor { kThemeArrowCursor = 0, kThemeWatchCursor = 7 };

void InitCursor();
void SetCursor(const Cursor *crsr);
Cursor *GetQDGlobalsArrow(Cursor *arrow);  // fills and returns arrow
OSStatus SetThemeCursor(ThemeCursor inCursor);

// Test controls of this layer: forget the devices, so that the next call reads the display
// or the environment again. Handles from before become invalid.
void CarbonResetScreens();
