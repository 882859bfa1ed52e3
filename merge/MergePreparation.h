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
// What it prepares is the merge state (MergeState.h).
#pragma once

#include "merge/MergeState.h"

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

// Builds mergePlace, mergePlaces, mergeCell and mergeFields from the templates in
// mergeParam and the field list (may be null), with one count pass and one record pass.
// False when a table cannot be allocated (reported through TestMemError).
Boolean PrepareMergePlaces(const char *fieldList);

// Sets mergeEncoding, mergeStuffit and mergeHTML from templates 6, 7 and 9.
void ReadMergeOptions();
