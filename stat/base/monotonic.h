#pragma once

#include <time.h>

#include <algorithm>
#include <cstdint>

#include "units.h"

namespace caplat::stat {

// The monotonic clock in ns.
inline int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * ns_per_s + now.tv_nsec;
}

// The monotonic clock in ns, read at less cost: good to the few milliseconds
// of a timer tick, as the reader's periods need.
inline int64_t coarse_monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return now.tv_sec * ns_per_s + now.tv_nsec;
}

// A wait of ns, none if negative, in the whole milliseconds that poll(2)
// takes, rounded up so that it never ends early.
inline int wait_ms(int64_t ns) {
  return static_cast<int>((std::max<int64_t>(ns, 0) + ns_per_ms - 1) / ns_per_ms);
}

}  // namespace caplat::stat
