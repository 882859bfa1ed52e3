// AEStream: the plug-in's builder of Apple Events and of nested records and lists.
//
// A stream is one caller-owned variable (AEStream) holding the top of a stack of open
// frames, one per value under construction; null when no frame is open. Every operation
// takes the address of that variable first and returns an OSErr-style status widened to 32
// bits: 0, streamNestingErr for misuse, or the Memory Manager's or Apple Event Manager's own
// error passed through unchanged.
//
// A value that cannot be written (short memory, or an Apple Event Manager failure) is not
// simply left out: the failure stays with the record, list or event it was meant for.
// Closing that record or list answers the failure and passes it on to what encloses it, and
// AEStream_Close answers it and hands back nothing, so that an event missing one of its
// values is never sent. Misuse (streamNestingErr) is answered only by the call that made it.
//
// Ownership:
// - Each frame is a Memory Manager pointer owned by the stream; the stream owns the
//   descriptor of every open frame.
// - A descriptor handed to AEStream_OpenEvent belongs to the stream from then on (the
//   caller's copy becomes the null descriptor).
// - Values written with AEStream_WriteAEDesc are copied; the caller keeps and disposes its
//   own descriptor.
// - AEStream_Close hands the bottom frame's descriptor to the caller, who disposes it. Any
//   frames still open after an unbalanced close are released there, so after AEStream_Close
//   the stream is always null. A caller that abandons a stream without closing it calls
//   AEStream_Dispose, which releases every frame and descriptor.
#pragma once

#include <AEDataModel.h>
#include <AppleEvents.h>
#include <MacTypes.h>

// One open value under construction; allocated with NewPtr, released when it is closed.
struct StreamFrame {
  StreamFrame *next;    // the enclosing frame; null for the bottom frame
  UInt32 kind;          // kStreamFrameEmpty ... kStreamFrameEvent
  AEDesc desc;          // the descriptor being built, owned by the frame
  DescType recordType;  // type given to a record frame's value when it is closed
  Boolean keyPending;   // a key has been given and not yet used
  AEKeyword key;        // the pending key
  SInt32 failure;       // the first failure of a value meant for this frame; 0: none
};

typedef StreamFrame *AEStream;

enum : UInt32 {
  kStreamFrameEmpty = 0,   // AEStream_Open: the first value written becomes the descriptor
  kStreamFrameDesc = 1,    // an empty frame after its one value: accepts nothing more
  kStreamFrameList = 2,    // AEStream_OpenList: values are appended, no key allowed
  kStreamFrameRecord = 3,  // AEStream_OpenRecord: values go under the pending key
  kStreamFrameEvent = 4,   // AEStream_CreateEvent / AEStream_OpenEvent: values become parameters
};

// The builder's one error of its own: a value in the wrong place, a second pending key,
// unbalanced opens and closes, or an operation on a stream with no open frame.
inline constexpr SInt32 streamNestingErr = 13579;

// Starting a stream. Each sets *stream to null first, so an uninitialised variable may be
// passed. AEStream_CreateEvent builds a new event addressed to (targetType, targetData,
// targetSize); AEStream_OpenEvent takes over *event (set to the null descriptor whatever
// the outcome); AEStream_Open starts an empty frame for building one bare value.
SInt32 AEStream_CreateEvent(AEStream *stream, AEEventClass eventClass, AEEventID eventID, DescType targetType,
                            const void *targetData, Size targetSize, AEReturnID returnID,
                            AETransactionID transactionID);
SInt32 AEStream_OpenEvent(AEStream *stream, AppleEvent *event);
SInt32 AEStream_Open(AEStream *stream);

// Nesting. A record closes as a descriptor of its record type ('reco' for a plain record,
// 'obj ' for an object specifier, 'insl' for an insertion location, ...), coerced from the
// plain record. A closed record or list is written into the enclosing frame like any value.
SInt32 AEStream_OpenRecord(AEStream *stream, DescType recordType);
SInt32 AEStream_SetRecordType(AEStream *stream, DescType recordType);
SInt32 AEStream_OpenList(AEStream *stream);
SInt32 AEStream_CloseRecord(AEStream *stream);
SInt32 AEStream_CloseList(AEStream *stream);

// Writing values into the top frame. Records and events need a pending key; lists refuse
// one. A failed put into a record or event still uses up the pending key.
SInt32 AEStream_WriteKey(AEStream *stream, AEKeyword key);
SInt32 AEStream_WriteDesc(AEStream *stream, DescType type, const void *data, Size size);
SInt32 AEStream_WriteKeyDesc(AEStream *stream, AEKeyword key, DescType type, const void *data, Size size);
SInt32 AEStream_WriteAEDesc(AEStream *stream, const AEDesc *desc);

// Pops the bottom frame into *result (caller disposes). On an empty stream: streamNestingErr
// and *result untouched. When a value could not be written: that failure, with every frame
// released and *result the null descriptor. With frames still open above the bottom one:
// streamNestingErr, and *result receives the top frame's descriptor; the rest are released.
SInt32 AEStream_Close(AEStream *stream, AEDesc *result);

// Releases every frame still open and its descriptor; the stream becomes null. Safe on an
// empty stream.
void AEStream_Dispose(AEStream *stream);
