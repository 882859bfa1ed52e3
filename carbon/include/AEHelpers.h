// Apple Event helpers of the system: the AEStream calls that build an event or descriptor
// step by step, and AEPrint, which renders a descriptor as text.
#pragma once

#include "AppleEvents.h"

typedef struct OpaqueAEStreamRef *AEStreamRef;

// Streams: null on failure. AEStreamClose hands the finished descriptor to desc (may be
// null to discard it) and releases the stream in every case.
AEStreamRef AEStreamOpen();
AEStreamRef AEStreamCreateEvent(AEEventClass clazz, AEEventID id, DescType targetType, const void *targetData,
                                Size targetLength, AEReturnID returnID, AETransactionID transactionID);
OSStatus AEStreamClose(AEStreamRef ref, AEDesc *desc);
OSStatus AEStreamWriteKey(AEStreamRef ref, AEKeyword key);
OSStatus AEStreamWriteDesc(AEStreamRef ref, DescType newType, const void *data, Size length);
OSStatus AEStreamWriteAEDesc(AEStreamRef ref, const AEDesc *desc);
OSStatus AEStreamWriteKeyDesc(AEStreamRef ref, AEKeyword key, DescType newType, const void *data, Size length);
OSStatus AEStreamOpenRecord(AEStreamRef ref, DescType newType);
OSStatus AEStreamCloseRecord(AEStreamRef ref);
OSStatus AEStreamOpenList(AEStreamRef ref);
OSStatus AEStreamCloseList(AEStreamRef ref);

// AEPrint: the descriptor in AEPrint syntax, e.g.
//   'core'\'crel'{ 'kocl':type('bcke'), 'prdt':{ 'subj':"Hello" } }
// *result is a new handle holding the text with no terminator; the caller disposes it.
OSStatus AEPrintDescToHandle(const AEDesc *desc, Handle *result);
