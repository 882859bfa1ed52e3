// The merge state: what "Strt" prepares once and every "Merg" reads, from "Strt" to "Fnsh".
// This module owns it. Merge preparation (MergePreparation.h) fills it; merged message
// creation (MergedMessage.h) reads it; ReleaseMergeState empties it. The template handles,
// the place and cell tables and the connection are the merge's; nobody else disposes them.
#pragma once

#include <MacTypes.h>

struct EmailClientConnection;

// Template indexes into mergeParam, with the code of the host global each is read from.
enum : UInt16 {
  kTemplateSubject = 0,      // 'Subj'
  kTemplateMessage = 1,      // 'Mesg'
  kTemplateTo = 2,           // 'To  '
  kTemplateCc = 3,           // 'Cc  '
  kTemplateBcc = 4,          // 'Bcc '
  kTemplateAttachments = 5,  // 'Atch'
  kTemplateEncoding = 6,     // 'Encd' option
  kTemplateStuffit = 7,      // 'Stuf' option
  kTemplateAccount = 8,      // 'Acnt'
  kTemplateHTML = 9,         // 'HTML' option
  kMergeTemplates = 10,
};

// MergePlace.field of the record-number placeholder «§∆».
enum : UInt16 { kRecordNumberField = 0xFFFE };

// One recognised placeholder.
struct MergePlace {
  UInt16 param;   // template index 0-9
  UInt16 field;   // zero-based field index (line of the field list - 1), or kRecordNumberField
  UInt32 offset;  // byte offset of its « in the template text
  UInt32 length;  // bytes of the whole placeholder, both marks included
};

// Where one field's value lies in the record being merged.
struct MergeCell {
  UInt32 offset;
  UInt32 length;
};

extern Handle mergeParam[kMergeTemplates];  // NUL-terminated, CR line ends; null: no value
extern MergePlace *mergePlace;              // in template order, then by position; NewPtr
extern UInt32 mergePlaces;                  // entries in mergePlace
extern MergeCell *mergeCell;                // one per field the templates use; NewPtr
extern SInt16 mergeFields;                  // highest field line any placeholder names; 0: none
extern UInt32 mergeEncoding;                // attachment encoding code 0-6
extern Boolean mergeStuffit;                // compress attachments
extern Boolean mergeHTML;                   // the body is HTML
extern EmailClientConnection *connection;   // the merge's open connection, or null
extern SInt32 connectionMessages;           // "Merg" calls on this connection

// The client is hidden when this many messages have been merged on one connection.
enum : SInt32 { kHideClientAtMessage = 5 };

// Length of template i's text: up to its NUL, within its handle; 0 when it is missing.
UInt32 MergeTemplateLength(UInt16 index);

// Releases the place and cell tables and sets their counts to 0.
void ReleaseMergePlaces();

// Releases the templates and tables, shows the client again if it was hidden, and closes
// the connection. Harmless when no merge is prepared.
void ReleaseMergeState();
