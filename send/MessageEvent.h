// The events with which the senders hand a message to an email client, and the sending
// conventions they all follow:
// - an event is built with the AEStream builder, addressed by the client's process serial
//   number ('psn ', 8 bytes), return ID -1 and transaction ID 0;
// - it is sent at normal priority with a 1,200-tick time-out, in mode 0x43 when its reply is
//   read and 0x41 otherwise, and disposed right after sending;
// - the first failure of any step of building it (a write, a nested open or close) is kept
//   and answered, and an event with a failed step is never sent: a message never goes out
//   without a recipient, its body or its queue step while the sender reports success. When
//   every step succeeds, the event is exactly what the steps wrote;
// - when the reply is waited for, an error the client reports in it ends the message as a
//   failure to send would: a client that could not attach a file or create a recipient is
//   not then told to send the message.
//
// Ownership: a MessageEvent lives in the caller's frame. From MessageEvent_Start on it owns
// its stream; MessageEvent_Send and MessageEvent_Discard release it on every path, so a
// sender that gives up half way calls one of them and nothing leaks. Values written with
// MessageEvent_WriteAEDesc are copied; the caller keeps its own descriptor.
#pragma once

#include <AEDataModel.h>
#include <AppleEvents.h>
#include <MacTypes.h>
#include <Processes.h>

#include "aestream/AEStream.h"

enum : AESendMode {
  kSendNoReply = kAENoReply | kAECanSwitchLayer,      // 0x41
  kSendWaitReply = kAEWaitReply | kAECanSwitchLayer,  // 0x43
};
enum : long { kEmailClientTimeout = 1200 };  // ticks: 20 seconds

// The one place events leave the plug-in: AESend at normal priority with the email-client
// time-out. Tests and benchmarks may point emailClientSend at a stand-in of their own; it
// must fill *reply (the null descriptor for kSendNoReply) and return the send status.
typedef OSErr (*EmailClientSendProc)(const AppleEvent *event, AppleEvent *reply, AESendMode sendMode);
extern EmailClientSendProc emailClientSend;
OSErr SendEmailClientEventNow(const AppleEvent *event, AppleEvent *reply, AESendMode sendMode);

// An event under construction with the first failure of its steps.
struct MessageEvent {
  AEStream stream;
  SInt32 status;  // 0 while every step has succeeded
};

// Starts an event to the process. Returns (and keeps) the builder's status; on failure
// there is nothing to release.
SInt32 MessageEvent_Start(MessageEvent *event, AEEventClass eventClass, AEEventID eventID,
                          const ProcessSerialNumber *process);

// Keeps status as the event's failure unless an earlier one is kept already.
void MessageEvent_Keep(MessageEvent *event, SInt32 status);

// The AEStream operations, each skipped once a step has failed. Codes ('type', 'enum') go
// in native byte order, as the Apple Event Manager holds them.
void MessageEvent_WriteKey(MessageEvent *event, AEKeyword key);
void MessageEvent_WriteDesc(MessageEvent *event, DescType type, const void *data, Size size);
void MessageEvent_WriteKeyDesc(MessageEvent *event, AEKeyword key, DescType type, const void *data,
                               Size size);
void MessageEvent_WriteKeyText(MessageEvent *event, AEKeyword key, const char *text, UInt32 length);
void MessageEvent_WriteKeyCode(MessageEvent *event, AEKeyword key, DescType type, OSType code);
void MessageEvent_WriteAEDesc(MessageEvent *event, const AEDesc *desc);
void MessageEvent_OpenRecord(MessageEvent *event, DescType recordType);
void MessageEvent_CloseRecord(MessageEvent *event);
void MessageEvent_OpenList(MessageEvent *event);
void MessageEvent_CloseList(MessageEvent *event);

// Writes obj(form, want, seld, from) as the next value: a record of type 'obj ' with the
// keys in that order. from null: the application itself ('from' = a 'null' descriptor with
// no data); otherwise a copy of *from.
void MessageEvent_WriteObject(MessageEvent *event, DescType form, DescType want, DescType seldType,
                              const void *seld, Size seldSize, const AEDesc *from);

// Closes the event, sends it and disposes it; the kept failure, if any, instead releases it
// unsent and is returned. With kSendWaitReply the reply goes to *reply, which the caller
// disposes on success (on failure it is the null descriptor), and a non-zero error number
// in it is answered (errAEEventFailed for one an OSErr cannot hold); reply may be null.
SInt32 MessageEvent_Send(MessageEvent *event, AESendMode sendMode, AppleEvent *reply);

// The same, but the reply (not null) is handed over whatever it says: only a failure to
// build or deliver the event is answered. For questions whose answer may be an error.
SInt32 MessageEvent_Ask(MessageEvent *event, AESendMode sendMode, AppleEvent *reply);

// Sends the event waiting for the reply and takes the reply's direct parameter, as it comes,
// into *object (caller disposes on success): the object specifier of what the event made.
// A reply without one answers that error.
SInt32 MessageEvent_SendForObject(MessageEvent *event, AEDesc *object);

// Releases an event that will not be sent.
void MessageEvent_Discard(MessageEvent *event);

// Sends '----' = a copy of the object, and nothing else, with the given mode.
SInt32 SendObjectEvent(AEEventClass eventClass, AEEventID eventID, const AEDesc *object,
                       const ProcessSerialNumber *process, AESendMode mode);

// Sends the creation event waiting for the reply, then opens ('aevt'/'odoc', without a reply)
// the object the reply names, such as a message left for the user. A reply without a direct
// parameter answers that error and nothing more is sent.
SInt32 SendAndOpenObject(MessageEvent *event, const ProcessSerialNumber *process);

// An encoding code's name in a client's vocabulary: names[code], and for codes past the
// table its last entry. 0 means no encoding is named.
OSType EncodingName(UInt32 encoding, const OSType (&names)[7]);
