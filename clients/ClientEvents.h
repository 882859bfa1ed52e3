// Building blocks shared by the connection and the queries for the events they send to an
// email client: the event addressed to the client's process, an object specifier whose
// container is the application itself, and sending with the clients' time-out.
//
// Ownership: the stream helpers write into the caller's stream; SendClientEvent disposes
// the event in every case and leaves the reply (null descriptor on failure) to the caller.
#pragma once

#include <AppleEvents.h>
#include <MacTypes.h>
#include <Processes.h>

#include "aestream/AEStream.h"

// Every event to an email client is waited for at most 20 seconds; kNoWaitTimeout hands an
// event over without waiting for the client to take it (AESend then answers errAETimeout
// unless the client was quick).
inline constexpr long kClientEventTimeout = 1200;
inline constexpr long kNoWaitTimeout = 0;
inline constexpr AESendMode kClientWaitReplyMode = kAEWaitReply + kAECanSwitchLayer;  // 0x43
inline constexpr AESendMode kClientNoReplyMode = kAENoReply + kAECanSwitchLayer;      // 0x41

// Keeps the first failure of a sequence of stream writes, so that an event with a value
// missing is never sent.
inline void KeepFirstError(SInt32 &first, SInt32 err) {
  if (first == 0) first = err;
}

// Starts a stream on an event addressed to the process ('psn ', 8 bytes, return ID -1,
// transaction ID 0).
SInt32 CreateClientEvent(AEStream *stream, const ProcessSerialNumber *process, AEEventClass eventClass,
                         AEEventID eventID);

// Writes, under the pending key, an object specifier ('obj ') with the keys form, want,
// seld and from in that order: form = enumerated `form`, want = type `desiredClass`, seld =
// the given selector, from = the null descriptor. Returns the first failure.
SInt32 WriteApplicationObject(AEStream *stream, DescType form, DescType desiredClass, DescType selectorType,
                              const void *selectorData, Size selectorSize);

// Closes the stream into an event; on failure nothing is left allocated and *event is the
// null descriptor. `pending` is the first failure of the writes (0 if none).
SInt32 CloseClientEvent(AEStream *stream, SInt32 pending, AppleEvent *event);

// Sends the event with the given mode, normal priority and the clients' time-out, and
// disposes it. *reply receives the reply (caller disposes) or the null descriptor.
SInt32 SendClientEvent(AppleEvent *event, AppleEvent *reply, AESendMode mode);
// The same with another time-out, in ticks.
SInt32 SendClientEventWithin(AppleEvent *event, AppleEvent *reply, AESendMode mode, long ticks);
