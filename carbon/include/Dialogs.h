// Dialog Manager: alerts and their parameters, and the system beep.
//
// There is never anyone to click here (no display, no terminal to answer). An alert is
// written as one readable line on standard error, with ^0 .. ^3 replaced by the texts of
// ParamText, and dismissed at once as if its default button had been pressed; nothing
// blocks. The line reads
//     quillcast: stop alert 32766: <the alert's texts> [OK]
// (the program's name, the kind of alert, its ID, its static texts joined by a space with
// line ends shown as spaces, and the default button's title), in UTF-8. Alerts read 'ALRT' and its 'DITL'
// from the current resource chain (Resources.h); a missing alert shows nothing and
// returns -1.
//
// Dialog item kinds, as stored in 'DITL' resources: kUserDialogItem, kButtonDialogItem,
// kCheckBoxDialogItem, kRadioButtonDialogItem, kStaticTextDialogItem, kEditTextDialogItem,
// kIconDialogItem, kPictureDialogItem (plus kItemDisableMask).
#pragma once

#include "Events.h"
#include "MacTypes.h"
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

void SysBeep(SInt16 duration);  // counts the beep; never blocks, makes no sound

// Test controls of this layer: what the last alert said (its texts with the parameters in
// place, Mac OS Roman, no kind, ID or button), how many alerts and beeps there have been,
// and a reset of all three.
const char *CarbonLastAlertText();  // valid until the next alert
long CarbonAlertCount();
long CarbonBeepCount();
void CarbonResetAlerts();
