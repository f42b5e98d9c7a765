#pragma once

#include <time.h>

#include <cstdint>

namespace caplat::stat {

// Nanoseconds in a second and in a millisecond, as the clock counts them.
inline constexpr int64_t clock_ns_per_s = 1000000000;
inline constexpr int64_t clock_ns_per_ms = 1000000;

// The monotonic clock in ns; a coarse read costs less, and is good to the few
// milliseconds of a timer tick.
inline int64_t monotonic_ns(bool coarse = false) {
  timespec now{};
  clock_gettime(coarse ? CLOCK_MONOTONIC_COARSE : CLOCK_MONOTONIC, &now);
  return now.tv_sec * clock_ns_per_s + now.tv_nsec;
}

}  // namespace caplat::stat
