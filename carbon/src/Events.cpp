// Ticks and the quiet event queue. TickCount accumulates scaled time between calls rather
// than scaling the clock as a whole, so that it never runs backwards when the time scale
// changes while a process runs.
#include <Events.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

std::mutex tickLock;
bool tickStarted = false;
std::chrono::steady_clock::time_point lastReading;
double ticksSoFar = 0;

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
  char *end;
  double scale = std::strtod(text, &end);
  return *end == 0 && scale > 0 && scale <= 1000 ? scale : 1.0;
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

Boolean WaitNextEvent(EventMask, EventRecord *theEvent, UInt32 sleep, RgnHandle) {
  SleepTicks(long(sleep));
  FillNullEvent(theEvent);
  return false;
}

Boolean GetNextEvent(EventMask, EventRecord *theEvent) {
  FillNullEvent(theEvent);
  return false;
}

Boolean EventAvail(EventMask, EventRecord *theEvent) {
  FillNullEvent(theEvent);
  return false;
}

void FlushEvents(EventMask, EventMask) {}
Boolean Button() {
  return false;
}
Boolean StillDown() {
  return false;
}

void GetMouse(Point *mouseLoc) {
  if (mouseLoc != nullptr) *mouseLoc = Point{0, 0};
}
