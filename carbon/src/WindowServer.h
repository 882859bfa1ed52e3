// Internal to the carbon layer: the window server under QuickDraw, the Window Manager and
// the Event Manager, which is the X display when one answers.
//
// libX11 is loaded at run time (dlopen), never linked, so that everything built on this
// layer loads and runs on a machine without it; only its headers are needed to build, and
// only WindowServer.cpp includes them (their names clash with the Mac OS ones). The process
// has at most one connection, opened on first use and kept to the end: there is a display
// when DISPLAY is set, libX11 loads and the display answers. Without one, Available() is
// false, windows are never created (NewWindow returns 0), drawing does nothing, text is
// measured by an estimate and no input ever comes. A display that goes away (its server
// ends) leaves the process running without one from then on.
//
// A window keeps its whole picture in an image of its own, which the server shows whenever
// any part of the window comes into view: everything drawn stays drawn, shown or hidden,
// without the application being asked to draw again.
//
// Coordinates: windows are placed in global coordinates; drawing is local to the window,
// with (0, 0) its top left corner. Texts are Latin-1.
#pragma once

#include <MacTypes.h>

#include <cstdint>
#include <string>
#include <vector>

namespace carbon::ws {

typedef uint64_t WindowID;  // 0 is no window

struct Colour {
  uint16_t red, green, blue;
};

struct Font {
  int size;  // in points, which are pixels here
  bool bold;
};

struct FontMetrics {
  int ascent, descent, widest, leading;
};

bool Available();

// Screens of the display, in global coordinates; empty without a display.
std::vector<Rect> Screens();

// A new window with the given content rectangle (global) and title (UTF-8), filled white,
// not shown. 0 without a display or when the server refuses. DisposeWindow takes it away.
WindowID NewWindow(const Rect &bounds, const std::string &title);
void DisposeWindow(WindowID window);
void ShowWindow(WindowID window);
void HideWindow(WindowID window);
// Puts the window in front of the others; with focus, it also takes the keyboard as soon as
// it is on screen.
void RaiseWindow(WindowID window, bool focus);
// While a window is modal, every click anywhere on the display comes to this process (the
// pointer is held as soon as the window is on screen), so that a click outside it can be
// answered. 0 ends it.
void SetModalWindow(WindowID window);

// Drawing, local to the window; pen is the line width.
void FillRect(WindowID window, const Rect &rect, Colour colour);
void FrameRect(WindowID window, const Rect &rect, Colour colour, int pen);
void FillRoundRect(WindowID window, const Rect &rect, int ovalWidth, int ovalHeight, Colour colour);
void FrameRoundRect(WindowID window, const Rect &rect, int ovalWidth, int ovalHeight, Colour colour, int pen);
void DrawLine(WindowID window, Point from, Point to, Colour colour, int pen);
void DrawText(WindowID window, Point baseline, const std::string &latin1, Font font, Colour colour);
int TextWidth(const std::string &latin1, Font font);
FontMetrics Metrics(Font font);

// Input, in global coordinates.
enum class InputKind { kNone, kButtonDown, kButtonUp, kKeyDown, kKeyUp, kCloseRequest };

enum : uint16_t {  // modifiers, as the Event Manager has them
  kShift = 0x0200,
  kCapsLock = 0x0400,
  kOption = 0x0800,
  kControl = 0x1000,
  kCommand = 0x0100,
};

struct Input {
  InputKind kind;
  WindowID window;  // the window it was aimed at, 0 for none of this process's windows
  Point where;      // the pointer
  uint16_t modifiers;
  char32_t character;  // for keys: the character typed, 0 for none
  uint8_t keyCode;     // for keys: the Mac OS virtual key code where there is one, else 0
};

// The next input, waiting up to waitMs for one (0: only what has arrived). False when none
// came; without a display it only waits.
bool NextInput(long waitMs, Input *input);

// Where the pointer is and whether its main button is down; false without a display.
bool Pointer(Point *where, bool *buttonDown);

void Bell();

}  // namespace carbon::ws
