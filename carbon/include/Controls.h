// Control Manager: the push buttons of dialogs (Dialogs.h makes them from button items and
// disposes of them with their dialog).
//
// A button is drawn as a rounded frame with its title centred in the system font; while
// highlighted it is filled black with a white title, while inactive its title is grey. The
// default button of a dialog wears a thick ring around it.
#pragma once

#include "MacTypes.h"
#include "Quickdraw.h"

typedef struct OpaqueControlRef *ControlRef;
typedef ControlRef ControlHandle;
typedef SInt16 ControlPartCode;

enum : ControlPartCode { kControlNoPart = 0, kControlButtonPart = 10, kControlInactivePart = 255 };

// Highlights the button (kControlButtonPart), makes it inactive (kControlInactivePart) or
// plain again (kControlNoPart), and draws it when it is visible.
void HiliteControl(ControlRef control, ControlPartCode hiliteState);
ControlPartCode GetControlHilite(ControlRef control);
void Draw1Control(ControlRef control);

typedef void (*ControlActionProcPtr)(ControlRef control, ControlPartCode partCode);
typedef ControlActionProcPtr ControlActionUPP;

// Follows the mouse from a click at startPoint (local to the control's window) until the
// button is released, highlighting the button while the pointer is over it. Returns
// kControlButtonPart when released over it, else kControlNoPart. actionProc is not called.
ControlPartCode TrackControl(ControlRef control, Point startPoint, ControlActionUPP actionProc);
