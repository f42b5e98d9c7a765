#pragma once

#include <cstdint>
#include <string>

#include "latency_limits.h"

namespace caplat::stat {

// Units of time in which latencies are printed and durations given.
struct Unit {
  // The unit's name as printed: "ns", "us", "ms" or "s".
  const char* name;
  // Nanoseconds in one unit.
  int64_t ns;
  // Decimals that show a value in this unit to the nanosecond.
  int decimals;
};

// Nanoseconds in one hour: the largest latency the histogram holds.
inline constexpr int64_t hour_ns = 3600000000000;

// Latencies from stale_ns on are counted apart as stale or replayed data.

// v / 10^decimals as text, with exactly decimals digits after the point.
std::string fixed_text(int64_t v, int decimals);
std::string fixed_text(uint64_t v, int decimals);

// The unit named name, or null.
const Unit* find_unit(const char* name);

// The millisecond, the default unit.
const Unit& default_unit();

// Reads a duration such as "100ms", "1.5s" or "1m" (units ns, us, ms, s, m, h)
// into ns; false unless it is a positive whole number of nanoseconds.
bool parse_duration(const char* text, int64_t* ns);

}  // namespace caplat::stat
