#include "ProcTime.h"

#include <Events.h>

#include <ctime>

namespace carbon {

int64_t MonotonicNanos() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double TimeScale() {
  return CarbonTimeScale();
}

int64_t DeadlineAfterSeconds(double seconds) {
  if (seconds < 0) seconds = 0;
  return MonotonicNanos() + int64_t(seconds * 1e9);
}

int64_t DeadlineAfterTicks(long ticks) {
  return DeadlineAfterSeconds(double(ticks < 0 ? 0 : ticks) / 60.0 * TimeScale());
}

int MillisecondsUntil(int64_t deadline) {
  if (deadline == kNoDeadline) return -1;
  int64_t left = deadline - MonotonicNanos();
  if (left <= 0) return 0;
  int64_t millis = (left + 999999) / 1000000;
  return millis > 1000000 ? 1000000 : int(millis);
}

}  // namespace carbon
