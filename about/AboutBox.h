// About box: the plug-in's About window, raised by "AbTo" and "WaAb". It shows the version
// text and a link line that opens the plug-in's web page, and runs its own short event loop
// until it is dismissed or its time is up. One box at a time; it lives within one call.
//
// Resources: dialog 32761; string list 32766 (2: the version text); string list 32767 (7:
// the link line; 12: the link's URL). Items: 1 the OK button (the default), 8 the user item
// drawn by PascalAboutVersionDraw: the version in its top 12-pixel line, the link in the
// bottom one.
#pragma once

#include <Dialogs.h>
#include <MacTypes.h>

extern DialogRef aboutDialog;   // null when no box is open; disposed of by DisposeAboutDialog
extern UInt32 aboutStartTicks;  // TickCount when the box was first drawn
extern UserItemUPP PascalAboutVersionDrawUPP;

// Opens the box in front of all windows and draws it, or brings an open box forward. A
// dialog that cannot be loaded is reported (TestResError) and leaves no box open.
void ShowAboutDialog();

// Waits until the first click in the box, or until more than ticks (> 0) ticks have passed
// since the box was drawn; a click elsewhere beeps. Then closes the box.
void WaitForAboutDialogJustClick(SInt32 ticks);

// Waits with the OK button shown until OK (or Return, Enter) or the link closes the box;
// after more than ticks (>= 1) ticks without a click or key in the box, it closes by itself
// (ticks <= 0: never). A click outside the box beeps.
void WaitForAboutDialog(SInt32 ticks);

void DisposeAboutDialog();  // does nothing when no box is open

// Draws the version in bold and the link underlined in blue, in the system font at 9 points.
void PascalAboutVersionDraw(DialogRef dialog, DialogItemIndex item);
