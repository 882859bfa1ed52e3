// Window Manager: the windows of this process, front to back, and where a point falls.
//
// Windows are made by the Dialog Manager (GetNewDialog) and disposed of with their dialog.
// With an X display each window is a window of the display, placed at its bounds in global
// coordinates and titled; it keeps what was drawn into it (Quickdraw.h), so no update events
// are ever needed. Without a display a window has nowhere to show itself, but it is still
// kept, shown, hidden and ordered here, so that the code using it runs the same way.
#pragma once

#include "MacTypes.h"
#include "Quickdraw.h"

typedef struct OpaqueWindowPtr *WindowRef;
typedef WindowRef WindowPtr;
typedef SInt16 WindowPartCode;

// Where a call asks which window a new one goes behind: in front of them all.
inline const WindowRef kFirstWindowOfClass =
    reinterpret_cast<WindowRef>(intptr_t(-1));  // NOLINT(performance-no-int-to-ptr)

enum : WindowPartCode {
  inDesk = 0,
  inNoWindow = 0,
  inMenuBar = 1,
  inSysWindow = 2,
  inContent = 3,
  inDrag = 4,
  inGrow = 5,
  inGoAway = 6,
};

// The part of the screen at a global point: inContent and *window = the frontmost visible
// window whose content holds it, else inDesk and *window = null.
WindowPartCode FindWindow(Point thePoint, WindowRef *window);

WindowRef FrontWindow();  // the frontmost visible window, or null

// SelectWindow brings the window to the front and gives it the keyboard; BringToFront only
// brings it forward.
void SelectWindow(WindowRef window);
void BringToFront(WindowRef window);
void ShowWindow(WindowRef window);
void HideWindow(WindowRef window);
Boolean IsWindowVisible(WindowRef window);

CGrafPtr GetWindowPort(WindowRef window);  // the window's own; never null
void SetPortWindowPort(WindowRef window);
Rect *GetWindowPortBounds(WindowRef window, Rect *bounds);  // local; fills and returns bounds
