// FileMaker record retrieval: the names of the fields and records by position, asked of a
// running FileMaker Pro with 'core'/'getd' events and turned into text. One record becomes
// one line of field values separated by 0xFF, as a record in the record store; the values of
// a repeating field stay together in one field, separated by CR.
//
// The FileMaker Pro asked is the process that FindFileMaker stored in
// globals.fileMakerProcess; the requests are built with the system's AEStream calls and sent
// waiting for the reply (the default time-out). Every event and reply lives only within the
// call that made it.
#pragma once

#include <AppleEvents.h>
#include <MacTypes.h>

// "FMPx": looks for a running FileMaker Pro by creator 'FMP3', then 'FMP5', then 'FMP7',
// stores the first found in globals.fileMakerProcess, and asks it for the field names as a
// test. True when one was found and the request gave a result (an empty list included).
Boolean FindFileMaker();

// The field names, one per line (CR between them, no separator after the last), as a
// NUL-terminated text in a new handle; null on failure. Caller disposes.
Handle GetFieldNames();

// Record number index (1 = the first): its field values separated by 0xFF (no separator after
// the last), as a NUL-terminated text in a new handle; null on failure. Caller disposes.
Handle RetrieveRecord(SInt32 index);

// Fetches records first ... first + count - 1 in order and appends each to the record store,
// ending with its 0xFF. True when all of them were stored; false at the first that could not
// be fetched or stored, keeping those stored before (but never an empty entry for it).
Boolean ReceiveRecords(SInt32 first, SInt32 count);

// Sends the request for record number index; FileMaker's reply goes to *reply, which is the
// null descriptor when the request could not be built or sent. Caller disposes *reply.
void GetAERecord(AppleEvent *reply, SInt32 index);

// The result text of a reply: the text of every item of its direct parameter, each followed
// by itemSeparator; an item that is a list gives the text of each of its non-empty
// sub-items, each followed by subItemSeparator, before its itemSeparator. A locked handle
// holding *length bytes (it may be larger), or null when the reply has no direct parameter
// that is a list or memory runs out. Caller disposes.
Handle ResultListToHandle(const AppleEvent *reply, SInt32 *length, UInt8 itemSeparator,
                          UInt8 subItemSeparator);
