// Ticks and the event queue. TickCount accumulates scaled time between calls rather than
// scaling the clock as a whole, so that it never runs backwards when the time scale changes
// while a process runs.
#include <Events.h>
#include <Quickdraw.h>

#include "EventQueue.h"
#include "WindowRecords.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::mutex tickLock;
bool tickStarted = false;
std::chrono::steady_clock::time_point lastReading;
double ticksSoFar = 0;

std::mutex queueLock;
std::deque<EventRecord> queue;
bool buttonDown = false;

EventMask MaskOf(const EventRecord &event) {
  return event.what == kHighLevelEvent ? EventMask(highLevelEventMask) : EventMask(1u << (event.what & 15));
}

// The first queued event of the mask, removed or not.
bool TakeEvent(EventMask mask, EventRecord *theEvent, bool remove) {
  std::lock_guard<std::mutex> guard(queueLock);
  for (auto at = queue.begin(); at != queue.end(); ++at) {
    if (!(MaskOf(*at) & mask)) continue;
    if (theEvent != nullptr) *theEvent = *at;
    if (remove) queue.erase(at);
    return true;
  }
  return false;
}

void SleepTicks(long ticks) {
  if (ticks > 0) std::this_thread::sleep_for(std::chrono::milliseconds(CarbonTicksToMilliseconds(ticks)));
}

void FillNullEvent(EventRecord *theEvent) {
  if (theEvent == nullptr) return;
  *theEvent = EventRecord{nullEvent, 0, TickCount(), {0, 0}, 0};
}

}  // namespace

double CarbonTimeScale() {
  const char *text = std::getenv("QUILLCAST_TIME_SCALE");
  if (text == nullptr || *text == 0) return 1.0;
  // Every tick count and time-out asks; the setting is parsed again only when it changes.
  thread_local std::string lastText;
  thread_local double lastScale = 1.0;
  if (lastText == text) return lastScale;
  char *end;
  double scale = std::strtod(text, &end);
  lastText = text;
  lastScale = *end == 0 && scale > 0 && scale <= 1000 ? scale : 1.0;
  return lastScale;
}

long CarbonTicksToMilliseconds(long ticks) {
  if (ticks <= 0) return 0;
  return std::lround(double(ticks) * 1000.0 / 60.0 * CarbonTimeScale());
}

UInt32 TickCount() {
  std::lock_guard<std::mutex> guard(tickLock);
  auto now = std::chrono::steady_clock::now();
  if (!tickStarted) {
    tickStarted = true;
    lastReading = now;
    ticksSoFar = double(std::chrono::duration<double>(now.time_since_epoch()).count() * 60.0);
  }
  double seconds = std::chrono::duration<double>(now - lastReading).count();
  ticksSoFar += seconds * 60.0 / CarbonTimeScale();
  lastReading = now;
  return UInt32(uint64_t(ticksSoFar));
}

void Delay(UInt32 numTicks, UInt32 *finalTicks) {
  UInt32 start = TickCount();
  SleepTicks(long(numTicks));
  // Sleeping may end a hair early on a coarse clock; the caller is promised the full wait.
  while (UInt32(TickCount() - start) < numTicks) std::this_thread::sleep_for(std::chrono::microseconds(200));
  if (finalTicks != nullptr) *finalTicks = TickCount();
}

namespace carbon {

void QueueEvent(const EventRecord &event) {
  std::lock_guard<std::mutex> guard(queueLock);
  if (event.what == mouseDown) buttonDown = true;
  if (event.what == mouseUp) buttonDown = false;
  queue.push_back(event);
}

bool EventQueued(EventMask mask) {
  return TakeEvent(mask, nullptr, false);
}

bool ButtonDownState() {
  std::lock_guard<std::mutex> guard(queueLock);
  return buttonDown;
}

}  // namespace carbon

Boolean WaitNextEvent(EventMask eventMask, EventRecord *theEvent, UInt32 sleep, RgnHandle) {
  carbon::PumpWindowInput(0);
  if (TakeEvent(eventMask, theEvent, true)) return true;
  carbon::PumpWindowInput(CarbonTicksToMilliseconds(long(sleep)));
  if (TakeEvent(eventMask, theEvent, true)) return true;
  FillNullEvent(theEvent);
  return false;
}

Boolean GetNextEvent(EventMask eventMask, EventRecord *theEvent) {
  carbon::PumpWindowInput(0);
  if (TakeEvent(eventMask, theEvent, true)) return true;
  FillNullEvent(theEvent);
  return false;
}

Boolean EventAvail(EventMask eventMask, EventRecord *theEvent) {
  carbon::PumpWindowInput(0);
  if (TakeEvent(eventMask, theEvent, false)) return true;
  FillNullEvent(theEvent);
  return false;
}

void FlushEvents(EventMask whichMask, EventMask stopMask) {
  std::lock_guard<std::mutex> guard(queueLock);
  for (auto at = queue.begin(); at != queue.end() && !(MaskOf(*at) & stopMask);) {
    at = MaskOf(*at) & whichMask ? queue.erase(at) : at + 1;
  }
}

Boolean Button() {
  carbon::PumpWindowInput(0);
  Point where;
  bool down = false;
  return carbon::ws::Pointer(&where, &down) && down;
}

Boolean StillDown() {
  if (carbon::EventQueued(mUpMask)) return false;
  carbon::PumpWindowInput(CarbonTicksToMilliseconds(1));
  return !carbon::EventQueued(mUpMask) && Button();
}

Boolean WaitMouseUp() {
  if (StillDown()) return true;
  TakeEvent(mUpMask, nullptr, true);
  return false;
}

void GetMouse(Point *mouseLoc) {
  bool down = false;
  if (!carbon::ws::Pointer(mouseLoc, &down)) {
    *mouseLoc = Point{0, 0};
    return;
  }
  GlobalToLocal(mouseLoc);
}

void CarbonSetTickCount(UInt32 ticks) {
  TickCount();  // starts the clock, which then goes on from here
  std::lock_guard<std::mutex> guard(tickLock);
  ticksSoFar = double(ticks);
}
