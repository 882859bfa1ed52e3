// Merged message creation ("Merg") and the end of a merge ("Fnsh"). Each "Merg" copies one
// record of the store, splits it into the fields the templates use, splices the values and
// the record number into the ten templates at the places "Strt" recorded, and hands the one
// resulting message to the send dispatcher. From the fifth "Merg" on the client is hidden,
// so that it does not redraw a window for every message; "Fnsh" shows it again.
//
// Ownership: the record copy and the merged text are allocated and released inside each
// call; the message handed to the dispatcher points into the merged text and lives only
// for the send. The merge state is MergeState.h's.
#pragma once

#include <MacTypes.h>

// "Merg": index is the zero-based record index. False without a connection, for an index
// outside the record store (nothing is read), when memory for the record or the merged text
// cannot be had (reported), or when the client fails the message. A record whose To, Cc and
// Bcc all merge to nothing is skipped: true, nothing sent.
// A send that times out is reported (errAETimeout: the client may still queue that message)
// and breaks the connection: every later "Merg" answers false at once, sending nothing,
// until "Fnsh" or "Strt". A message too large to hand to the client is reported too
// (errAEBufferTooSmall); any other refusal only answers false.
Boolean CreateMergedEmailMessage(SInt32 index);

// "Fnsh": releases the templates and tables, shows the client again if it was hidden, and
// closes the connection. Harmless when no merge is prepared.
void FinishEmailClientConnection();
