// Internal to the carbon layer: the Event Manager's queue, filled by the window server's
// input (WindowRecords.h) and by windows answering for an absent user.
#pragma once

#include <Events.h>

namespace carbon {

void QueueEvent(const EventRecord &event);
// Whether an event of the mask waits in the queue.
bool EventQueued(EventMask mask);
// The state of the main mouse button as the queued input left it: down after a mouse-down,
// up after a mouse-up.
bool ButtonDownState();

}  // namespace carbon
