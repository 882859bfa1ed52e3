// Apple Event helpers of the system: the AEStream calls that build an event or descriptor
// step by step, and AEPrint, which renders a descriptor as text.
#pragma once

#include "AppleEvents.h"

typedef struct OpaqueAEStreamRef *AEStreamRef;

// Streams build one descriptor (AEStreamOpen) or one event (AEStreamCreateEvent); null on
// failure. A record or event takes AEStreamWriteKey before each value; a list takes values
// only; a plain stream takes exactly one value. AEStreamOpenRecord(type) makes a record that
// is coerced to `type` when it is closed ('obj ', 'insl', ...). Misuse answers
// errAEStreamBadNesting and writes nothing; a value whose put fails is left out. Values given
// to AEStreamWriteAEDesc are copied: the caller keeps its own. AEStreamClose hands the
// finished descriptor to desc (may be null to discard it) and releases the stream in every
// case; with a record or list still open, or a key without its value, it answers
// errAEStreamBadNesting and desc receives the null descriptor.
AEStreamRef AEStreamOpen();
AEStreamRef AEStreamCreateEvent(AEEventClass clazz, AEEventID id, DescType targetType, const void *targetData,
                                Size targetLength, AEReturnID returnID, AETransactionID transactionID);
OSStatus AEStreamClose(AEStreamRef ref, AEDesc *desc);
OSStatus AEStreamWriteKey(AEStreamRef ref, AEKeyword key);
OSStatus AEStreamWriteDesc(AEStreamRef ref, DescType newType, const void *data, Size length);
OSStatus AEStreamWriteAEDesc(AEStreamRef ref, const AEDesc *desc);
OSStatus AEStreamWriteKeyDesc(AEStreamRef ref, AEKeyword key, DescType newType, const void *data,
                              Size length);
OSStatus AEStreamOpenRecord(AEStreamRef ref, DescType newType);
OSStatus AEStreamCloseRecord(AEStreamRef ref);
OSStatus AEStreamOpenList(AEStreamRef ref);
OSStatus AEStreamCloseList(AEStreamRef ref);

// AEPrint: the descriptor in AEPrint syntax, on one line, e.g.
//   'core'\'crel'{ 'kocl':type('bcke'), 'prdt':{ 'subj':"Hello" } }
// *result is a new handle holding the text with no terminator; the caller disposes it.
//
//   codes             always quoted: 'abcd'
//   'TEXT'            "text"            'utf8' 'utf8'("text")      'utxt' 'utxt'("text")
//   'long', 'shor'    42, -5            'magn' 'magn'(42)          'bool' true, false
//   'enum'            'abcd'            'type' type('abcd')        'keyw', 'prop', 'abso' 'prop'('abcd')
//   no data           null(), 'true'(), 'fals'(), 'abcd'()
//   other data        'abcd'($0123ABCD$) (the stored bytes, big-endian for native-order types;
//                     so 'psn ' is 'psn '($0000000000001234$))
//   list              [ a, b ]           empty: [ ]
//   record            { 'key':value, 'key':value }, with the type in front when it is not
//                     'reco': 'obj '{ ... }; empty: { }
//   Apple event       'evcl'\'evid'{ parameters, then &'attr':value for each attribute that
//                     is not a standard one (addr evcl evid rtid tran timo inte esrc from optk
//                     miss repq actm) }; 'errn' of a reply is a parameter like any other
// Inside quotes, the quote character and the backslash are written \" (or \') and \\, and every
// byte outside printable ASCII (below 0x20, 0x7F and above) as \xHH with two upper-case hex
// digits; 'utf8' and 'utxt' text is written as its UTF-8 bytes, escaped the same way.
OSStatus AEPrintDescToHandle(const AEDesc *desc, Handle *result);
