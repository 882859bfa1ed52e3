// Internal to the carbon layer: the record behind a GrafPtr, shared by QuickDraw, the
// Window Manager, controls and dialogs.
#pragma once

#include <Quickdraw.h>

#include "WindowServer.h"

#include <string>
#include <vector>

struct OpaqueGrafPtr {
  carbon::ws::WindowID surface;  // where drawing goes; 0 draws nowhere (no display)
  Rect bounds;                   // the window's content in global coordinates
  Point pen;
  SInt16 penSize;
  SInt16 font;
  SInt16 size;
  Style face;
  RGBColor fore;
  RGBColor back;
  // Without a display: the texts drawn (Mac OS Roman), one entry per call, while recording.
  bool recording;
  std::vector<std::string> drawnTexts;
};

namespace carbon {

// A port drawing into the window (which may be 0), plain black on white in the system font.
// Caller disposes with DisposePort.
GrafPtr NewPort(ws::WindowID surface, const Rect &globalBounds);
void DisposePort(GrafPtr port);  // no longer current either

}  // namespace carbon
