// Internal to the carbon layer: the monotonic clock and the deadlines of the Process
// Manager, AESend and Launch Services, in ticks (sixtieths of a second) stretched or
// shortened by the layer's time scale (CarbonTimeScale in Events.h).
#pragma once

#include <cstdint>

namespace carbon {

constexpr int64_t kNoDeadline = INT64_MAX;

int64_t MonotonicNanos();
double TimeScale();

// A deadline `ticks` from now on the monotonic clock; negative ticks are taken as zero.
int64_t DeadlineAfterTicks(long ticks);
int64_t DeadlineAfterSeconds(double seconds);  // unscaled

// Milliseconds left until the deadline, for poll(): -1 for no deadline, 0 once it has passed.
int MillisecondsUntil(int64_t deadline);

}  // namespace carbon
