// Internal to the carbon layer: the record behind a WindowRef, and the link between the
// window server's input and the Event Manager's queue.
#pragma once

#include <MacWindows.h>

#include "Ports.h"

#include <string>

struct OpaqueWindowPtr {
  carbon::ws::WindowID surface;  // 0 without a display
  GrafPtr port;                  // the window's own, disposed of with it
  Rect bounds;                   // content, global
  bool visible;
  bool modal;  // clicks anywhere come to this process while it is the front window
  // Set by the window's owner (the Dialog Manager), each may be null:
  // - answerAbsentUser: called while the application waits for events with this window in
  //   front and nobody can see it; it may queue the events a user would have made.
  // - closeRequested: the desktop asks for the window to be closed.
  void (*answerAbsentUser)(WindowRef window);
  void (*closeRequested)(WindowRef window);
  void *owner;
};

namespace carbon {

// A hidden window with this content rectangle (global) and title (Mac OS Roman), placed in
// front of all others. Never null. Caller disposes with DisposeWindowRecord.
WindowRef NewWindowRecord(const Rect &bounds, const std::string &title, bool modal);
void DisposeWindowRecord(WindowRef window);

// Waits up to waitMs for input from the display and queues it as events (EventQueue.h);
// returns once something has been queued or the time is up. A front window that nobody can
// see (no display, or the display refused it or went away) answers for the absent user.
void PumpWindowInput(long waitMs);

}  // namespace carbon
