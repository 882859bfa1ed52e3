// Internal to the carbon layer: the record behind a ControlRef, made and disposed of by the
// Dialog Manager.
#pragma once

#include <Controls.h>
#include <MacWindows.h>

#include <string>

struct OpaqueControlRef {
  WindowRef owner;
  Rect bounds;        // local to the owner's port
  std::string title;  // Mac OS Roman
  ControlPartCode hilite;
  bool visible;
  bool isDefault;  // drawn with the default button's ring
};

namespace carbon {

// Caller disposes with delete.
ControlRef NewPushButton(WindowRef owner, const Rect &bounds, const std::string &title);
// Erases the button and its ring from the window.
void EraseControl(ControlRef control);

}  // namespace carbon
