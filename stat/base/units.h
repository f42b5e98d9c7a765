#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// Nanoseconds in a microsecond, a millisecond, a second and a minute.
inline constexpr int64_t ns_per_us = 1000;
inline constexpr int64_t ns_per_ms = 1000 * ns_per_us;
inline constexpr int64_t ns_per_s = 1000 * ns_per_ms;
inline constexpr int64_t ns_per_minute = 60 * ns_per_s;

// Nanoseconds in one hour: the largest latency the histogram holds.
inline constexpr int64_t hour_ns = 60 * ns_per_minute;

// Every unit a duration may be given in, smallest first; latencies are
// printed in the first printable_units of them.
inline constexpr Unit units[] = {{"ns", 1, 0},         {"us", ns_per_us, 3}, {"ms", ns_per_ms, 6},
                                 {"s", ns_per_s, 9},   {"m", ns_per_minute, 0}, {"h", hour_ns, 0}};
inline constexpr size_t printable_units = 4;

// The second, in which receive times are printed.
inline constexpr const Unit& second = units[3];

// The latencies that the figures describe, from low to high ns inclusive,
// 0 <= low < high <= hour_ns: by default from 0 to 1 hour.
struct LatencyRange {
  int64_t low = 0;
  int64_t high = hour_ns;

  // True if latency lies in the range.
  bool contains(int64_t latency) const { return latency >= low && latency <= high; }

  // The range as the summary names it: "0 to 1 h", "5 ms to 10 s".
  std::string label() const;
};

// Reads a range, "MIN..MAX" as durations; what is wrong with it, or empty.
std::string parse_range(const char* text, LatencyRange* range);

// A duration as a person writes it: in the largest unit that holds it whole,
// "1 h", "10 s", "1500 ms", or "0".
std::string duration_text(int64_t ns);

// v / 10^decimals as text, with exactly decimals digits after the point.
std::string fixed_text(int64_t v, int decimals);
std::string fixed_text(uint64_t v, int decimals);

// The printable unit named name, or null.
const Unit* find_unit(const char* name);

// What reading a duration found wrong, if anything.
enum class DurationFault { None, Number, NoUnit, Unit, Range, Fraction };

// Reads a duration such as "100ms", "1.5s", "1m" or "0" (units ns, us, ms,
// s, m, h; zero needs none) into ns, a whole number from 0 to INT64_MAX.
DurationFault read_duration(std::string_view text, int64_t* ns);

// What is wrong with a duration, for a message: "expected a duration, as in
// 50ms", "unknown unit (ns, us, ms, s, m or h)", ...
const char* duration_fault_text(DurationFault fault);

// Reads a duration as read_duration does into ns; false unless it is one and
// above zero.
bool parse_duration(const char* text, int64_t* ns);

}  // namespace caplat::stat
