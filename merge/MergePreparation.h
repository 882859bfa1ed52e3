// Merge preparation ("Strt"): picks the client by product name, reads the ten message
// templates and the field list from host globals, finds every placeholder once, sizes the
// per-record cell table, reads the three options and opens the connection. Each "Merg"
// then only splits one record and splices the values in at the recorded places.
//
// Placeholders are names between the Mac OS Roman guillemets « (0xC7) and » (0xC8). The
// name «§∆» (the two bytes 0xA4 0xC6) stands for the record number; any other name stands
// for the field whose line of the field list equals it, compared without regard to case.
// A name that matches no line stays in the text as written.
//
// This module owns the merge state below, which lives from "Strt" to "Fnsh"
// (FinishEmailClientConnection in MergedMessage.h releases it). The template handles, the
// place and cell tables and the connection are the merge's; nobody else disposes them.
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

// "Strt". Any merge still prepared is finished first (its state released, its connection
// closed). False for an unknown or unavailable client, an allocation failure (reported) or
// a connection that cannot be opened; the state then left is released by "Fnsh".
Boolean StartEmailClientConnection(const char *clientName);

// The 1-based number of the first line of the CR-separated, NUL-terminated list that equals
// the length bytes at name, without regard to case; 0 when none does or length is 0. Only
// the list's bytes up to its NUL are read. Lines past 32,767 cannot be named.
SInt16 SearchLine(const char *name, UInt32 length, const char *list);

// Scans one template (textLength bytes, no NUL needed) for placeholders of the field list
// (NUL-terminated; null recognises nothing, not even «§∆»). Returns how many it recognised
// and raises *highestField to the highest field line named. With places not null, fills
// places[0 ...] with param as the template index.
UInt32 ScanTemplate(const char *text, UInt32 textLength, const char *fieldList, UInt16 param,
                    MergePlace *places, SInt16 *highestField);

// Length of template i's text: up to its NUL, within its handle; 0 when it is missing.
UInt32 MergeTemplateLength(UInt16 index);

// Builds mergePlace, mergePlaces, mergeCell and mergeFields from the templates in
// mergeParam and the field list (may be null), with one count pass and one record pass.
// False when a table cannot be allocated (reported through TestMemError).
Boolean PrepareMergePlaces(const char *fieldList);

// Releases the place and cell tables and sets their counts to 0.
void ReleaseMergePlaces();

// Sets mergeEncoding, mergeStuffit and mergeHTML from templates 6, 7 and 9.
void ReadMergeOptions();
