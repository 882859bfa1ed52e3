// Dialog Manager: alerts and their parameters, dialogs from 'DLOG' resources, and the
// system beep.
//
// Alerts never wait for anyone. An alert is written as one readable line on standard error,
// with ^0 .. ^3 replaced by the texts of ParamText, and dismissed at once as if its default
// button had been pressed; nothing blocks. The line reads
//     quillcast: stop alert 32766: <the alert's texts> [OK]
// (the program's name, the kind of alert, its ID, its static texts joined by a space with
// line ends shown as spaces, and the default button's title), in UTF-8. Alerts read 'ALRT'
// and its 'DITL' from the current resource chain (Resources.h); a missing alert shows
// nothing and returns -1.
//
// Dialogs are real windows (MacWindows.h) with an X display: the items of their 'DITL' are
// drawn by DrawDialog (buttons as controls, Controls.h; static text wrapped at word breaks;
// user items by the procedure SetDialogItem gave them), clicks and keys arrive as events
// (Events.h), and a dialog in front holds every click on the display, so that a click outside
// it comes to its application as a mouse-down outside any window. Without a display (none
// answers, it refuses the window, or it goes away while the dialog is up) there is nobody to
// see a dialog, so it answers for its absent user: the first time the application waits for
// events with the dialog in front, it is written on standard error as one line,
//     quillcast: dialog 32761: <the texts drawn in it> [OK]
// (the texts of its last DrawDialog, static and drawn by user items, joined by a space, then
// the default button's title while that button is shown and enabled), and while such a
// default button is there, the dialog's default button is pressed: a Return key-down is
// queued. A request from the desktop to close a dialog presses its default button the same
// way.
//
// A program that must act on what its user was told (a host that runs a merge unattended)
// sets QUILLCAST_ALERT_LOG to a file: each alert also appends one line there, its ID and the
// four ParamText texts as they were shown, separated by tabs (tabs and line ends inside a
// text become spaces), in UTF-8:
//     32766<TAB>^0<TAB>^1<TAB>^2<TAB>^3
//
// Dialog item kinds, as stored in 'DITL' resources: kUserDialogItem, kButtonDialogItem,
// kCheckBoxDialogItem, kRadioButtonDialogItem, kStaticTextDialogItem, kEditTextDialogItem,
// kIconDialogItem, kPictureDialogItem (plus kItemDisableMask). Check boxes, radio buttons,
// icons and pictures are not drawn.
#pragma once

#include "Controls.h"
#include "Events.h"
#include "MacTypes.h"
#include "MacWindows.h"
#include "Quickdraw.h"

typedef SInt16 DialogItemIndex;
typedef SInt16 DialogItemType;
typedef struct OpaqueDialogPtr *DialogRef;
typedef DialogRef DialogPtr;

typedef Boolean (*ModalFilterProcPtr)(DialogRef theDialog, EventRecord *theEvent, DialogItemIndex *itemHit);
typedef ModalFilterProcPtr ModalFilterUPP;

enum : DialogItemType {
  kUserDialogItem = 0,
  kButtonDialogItem = 4,
  kCheckBoxDialogItem = 5,
  kRadioButtonDialogItem = 6,
  kStaticTextDialogItem = 8,
  kEditTextDialogItem = 16,
  kIconDialogItem = 32,
  kPictureDialogItem = 64,
  kItemDisableMask = 128,
};

enum : OSErr { errItemNotControl = -30599 };

enum { kAlertStopAlert = 0, kAlertNoteAlert = 1, kAlertCautionAlert = 2, kAlertPlainAlert = 3 };

// The texts for ^0 .. ^3, copied; a null parameter leaves its text as it was.
void ParamText(ConstStr255Param param0, ConstStr255Param param1, ConstStr255Param param2,
               ConstStr255Param param3);

// Show alert alertID and return the number of the item that dismissed it (the default
// item), or -1 when the alert or its item list cannot be read. filterProc is never called:
// no event ever arrives.
DialogItemIndex Alert(SInt16 alertID, ModalFilterUPP filterProc);
DialogItemIndex StopAlert(SInt16 alertID, ModalFilterUPP filterProc);
DialogItemIndex NoteAlert(SInt16 alertID, ModalFilterUPP filterProc);
DialogItemIndex CautionAlert(SInt16 alertID, ModalFilterUPP filterProc);

void SysBeep(SInt16 duration);  // rings the display's bell when there is one; never blocks

// Dialogs. GetNewDialog makes dialog dialogID from its 'DLOG' and 'DITL' in the resource
// chain, in front of all windows (behind is not used) and shown at once when the 'DLOG'
// says visible; null when either resource is missing or damaged, with ResError() set where
// the Resource Manager had an error. Caller disposes with DisposeDialog, which disposes of
// its window and controls too.
DialogRef GetNewDialog(SInt16 dialogID, void *dStorage, WindowRef behind);
void DisposeDialog(DialogRef theDialog);
WindowRef GetDialogWindow(DialogRef dialog);
CGrafPtr GetDialogPort(DialogRef dialog);
void SetPortDialogPort(DialogRef dialog);
DialogRef GetDialogFromWindow(WindowRef window);  // null when the window is not a dialog's

typedef void (*UserItemProcPtr)(DialogRef theDialog, DialogItemIndex itemNo);
typedef UserItemProcPtr UserItemUPP;
UserItemUPP NewUserItemUPP(UserItemProcPtr userRoutine);  // caller disposes
void DisposeUserItemUPP(UserItemUPP userUPP);

// An item's kind, handle and rectangle (local). The handle of a button is its ControlRef; of
// a user item, the drawing procedure set with SetDialogItem (a UserItemUPP), else null.
// Outside the item list: kind 0, null, an empty rectangle.
void GetDialogItem(DialogRef theDialog, DialogItemIndex itemNo, DialogItemType *itemType, Handle *item,
                   Rect *box);
// Sets them; a button keeps its control whatever handle is given.
void SetDialogItem(DialogRef theDialog, DialogItemIndex itemNo, DialogItemType itemType, Handle item,
                   const Rect *box);
OSErr GetDialogItemAsControl(DialogRef inDialog, SInt16 inItemNo, ControlRef *outControl);
// A hidden item is neither drawn nor hit; both redraw the item in a visible dialog.
void HideDialogItem(DialogRef theDialog, DialogItemIndex itemNo);
void ShowDialogItem(DialogRef theDialog, DialogItemIndex itemNo);
// The button that Return and Enter press (with its ring), and the one Escape and command-.
// press.
OSErr SetDialogDefaultItem(DialogRef theDialog, DialogItemIndex newItem);
OSErr SetDialogCancelItem(DialogRef theDialog, DialogItemIndex newItem);
void DrawDialog(DialogRef theDialog);

// Whether the event is for a dialog: a mouse-down in a dialog's window, or a null or key
// event while a dialog is the front window.
Boolean IsDialogEvent(const EventRecord *theEvent);
// Handles an event for a dialog: a click on an enabled item hits it (a button only when the
// mouse comes up over it). True with *theDialog and *itemHit set when an item was hit.
Boolean DialogSelect(const EventRecord *theEvent, DialogRef *theDialog, DialogItemIndex *itemHit);
// The system's standard filter: Return and Enter press the default button, Escape and
// command-. the cancel button, each flashing the button first; any other event is left to
// DialogSelect (false).
OSErr GetStdFilterProc(ModalFilterUPP *theProc);

// Test controls of this layer: what the last alert said (its texts with the parameters in
// place, Mac OS Roman, no kind, ID or button), how many alerts and beeps there have been,
// and a reset of all three.
const char *CarbonLastAlertText();  // valid until the next alert
long CarbonAlertCount();
long CarbonBeepCount();
void CarbonResetAlerts();
