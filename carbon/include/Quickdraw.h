// QuickDraw: rectangles, the screen devices, ports and drawing, text, and the cursor.
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
//
// Ports. Every window has a port (MacWindows.h); drawing goes to the current port (SetPort)
// in its local coordinates, (0, 0) at the top left of the window's content. What is drawn
// stays in the window: it is shown whenever the window is, and never has to be drawn again.
// Without a display nothing is drawn, texts are measured by an estimate, and a port keeps
// the texts drawn into it so that a dialog can still be written out (Dialogs.h). Drawing
// with no current port does nothing.
//
// Text is Mac OS Roman; the system font (systemFont, also the theme's) is a sans-serif face
// of the display, 12 points unless TextSize says otherwise, with bold as a heavier face (or
// drawn twice, one pixel apart) and underline as a line one pixel below the baseline. The
// other styles draw as plain.
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

// Points and rectangles.
void SetPt(Point *pt, SInt16 h, SInt16 v);
Boolean PtInRect(Point pt, const Rect *r);  // the bottom and right edges are outside
void OffsetRect(Rect *r, SInt16 dh, SInt16 dv);
void InsetRect(Rect *r, SInt16 dh, SInt16 dv);  // negative values grow it

// Ports and drawing.
typedef struct OpaqueGrafPtr *GrafPtr;
typedef GrafPtr CGrafPtr;

struct RGBColor {
  UInt16 red;
  UInt16 green;
  UInt16 blue;
};

// The eight colours of ForeColor and BackColor.
enum : SInt32 {
  whiteColor = 30,
  blackColor = 33,
  yellowColor = 69,
  magentaColor = 137,
  redColor = 205,
  cyanColor = 273,
  greenColor = 341,
  blueColor = 409,
};

typedef UInt8 Style;
typedef SInt16 StyleParameter;
enum : Style {
  normal = 0,
  bold = 1,
  italic = 2,
  underline = 4,
  outline = 8,
  shadow = 16,
  condense = 32,
  extend = 64
};

enum : SInt16 { systemFont = 0, applFont = 1 };

struct FontInfo {
  SInt16 ascent;
  SInt16 descent;
  SInt16 widMax;
  SInt16 leading;
};

void SetPort(GrafPtr port);
void GetPort(GrafPtr *port);
Rect *GetPortBounds(CGrafPtr port, Rect *rect);  // local: (0, 0) to the size; fills and returns rect

void GlobalToLocal(Point *pt);  // of the current port
void LocalToGlobal(Point *pt);

void MoveTo(SInt16 h, SInt16 v);
void Move(SInt16 dh, SInt16 dv);
void LineTo(SInt16 h, SInt16 v);
void GetPen(Point *pt);
void PenSize(SInt16 width, SInt16 height);  // lines are as thick as the larger of the two
void PenNormal();                           // size 1, the pen's only other state

void ForeColor(SInt32 color);
void BackColor(SInt32 color);
void RGBForeColor(const RGBColor *color);
void RGBBackColor(const RGBColor *color);
void GetForeColor(RGBColor *color);

void FrameRect(const Rect *r);  // in the pen's colour and size, inside r
void PaintRect(const Rect *r);  // in the foreground colour
void EraseRect(const Rect *r);  // in the background colour
void FrameRoundRect(const Rect *r, SInt16 ovalWidth, SInt16 ovalHeight);
void PaintRoundRect(const Rect *r, SInt16 ovalWidth, SInt16 ovalHeight);
void EraseRoundRect(const Rect *r, SInt16 ovalWidth, SInt16 ovalHeight);

// Text, at the pen (the baseline's left end), which moves on past what was drawn.
void TextFont(SInt16 font);
void TextSize(SInt16 size);  // 0: the font's usual size, 12
void TextFace(StyleParameter face);
void DrawString(ConstStr255Param s);
void DrawText(const void *textBuf, SInt16 firstByte, SInt16 byteCount);
SInt16 StringWidth(ConstStr255Param s);
SInt16 TextWidth(const void *textBuf, SInt16 firstByte, SInt16 byteCount);
void GetFontInfo(FontInfo *info);

// The Appearance Manager's theme fonts: the font, size and style of the current port.
typedef UInt16 ThemeFontID;
enum : ThemeFontID { kThemeSystemFont = 0, kThemeSmallSystemFont = 1, kThemeSmallEmphasizedSystemFont = 2 };
OSStatus UseThemeFont(ThemeFontID inFontID, ScriptCode inScript);

// The cursor. The display's own pointer is left as it is; these calls only keep the calling
// code's shape.
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
