#include "units.h"

#include <cstring>
#include <iterator>
#include <span>
#include <utility>

namespace caplat::stat {

namespace {

std::string decimal_text(bool negative, uint64_t magnitude, int decimals) {
  char digits[48];
  char* end = digits + sizeof digits;
  char* p = end;
  for (int i = 0; i < decimals; ++i) {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  }
  if (decimals != 0) *--p = '.';
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--p = '-';
  return std::string(p, static_cast<size_t>(end - p));
}

}  // namespace

std::string fixed_text(int64_t v, int decimals) {
  // Negated as unsigned, so that the most negative value has its digits too.
  uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  return decimal_text(v < 0, magnitude, decimals);
}

std::string fixed_text(uint64_t v, int decimals) {
  return decimal_text(false, v, decimals);
}

const Unit* find_unit(const char* name) {
  for (const Unit& unit : std::span(units, printable_units)) {
    if (strcmp(unit.name, name) == 0) return &unit;
  }
  return nullptr;
}

DurationFault read_duration(std::string_view text, int64_t* ns) {
  // Whole part and fraction as one integer with a count of decimals, so that
  // "1.5s" is read exactly.
  int64_t digits = 0;
  int decimals = 0;
  bool point = false, any = false, overflow = false;
  size_t i = 0;
  for (; i < text.size() && ((text[i] >= '0' && text[i] <= '9') || (text[i] == '.' && !point));
       ++i) {
    if (text[i] == '.') {
      point = true;
      continue;
    }
    overflow = overflow || __builtin_mul_overflow(digits, 10, &digits) ||
               __builtin_add_overflow(digits, text[i] - '0', &digits);
    any = true;
    if (point) ++decimals;
  }
  if (!any) return DurationFault::Number;
  std::string_view unit = text.substr(i);
  // Zero is zero in any unit, and needs none.
  if (digits == 0 && !overflow && unit.empty()) {
    *ns = 0;
    return DurationFault::None;
  }
  if (unit.empty()) return DurationFault::NoUnit;
  for (const Unit& suffix : units) {
    if (unit != suffix.name) continue;
    int64_t scaled;
    if (overflow || __builtin_mul_overflow(digits, suffix.ns, &scaled)) return DurationFault::Range;
    for (int d = 0; d < decimals; ++d) {
      if (scaled % 10 != 0) return DurationFault::Fraction;
      scaled /= 10;
    }
    *ns = scaled;
    return DurationFault::None;
  }
  return DurationFault::Unit;
}

const char* duration_fault_text(DurationFault fault) {
  switch (fault) {
    case DurationFault::None:
      break;
    case DurationFault::Number:
      return "expected a duration, as in 50ms";
    case DurationFault::NoUnit:
      return "a duration needs a unit; units are ns, us, ms, s, m and h";
    case DurationFault::Unit:
      return "unknown unit; units are ns, us, ms, s, m and h";
    case DurationFault::Range:
      return "duration out of range";
    case DurationFault::Fraction:
      return "a duration is a whole number of ns";
  }
  return "";
}

std::string duration_text(int64_t ns) {
  if (ns == 0) return "0";
  // The units from the largest down, minutes spelled out.
  for (size_t i = std::size(units); i-- > 0;) {
    if (ns % units[i].ns != 0) continue;
    std::string name = units[i].ns == ns_per_minute ? "min" : units[i].name;
    return std::to_string(ns / units[i].ns) + " " + name;
  }
  return std::to_string(ns) + " ns";
}

std::string LatencyRange::label() const {
  return duration_text(low) + " to " + duration_text(high);
}

std::string parse_range(const char* text, LatencyRange* range) {
  std::string_view s = text;
  size_t dots = s.find("..");
  if (dots == std::string_view::npos) return "expected MIN..MAX, as in 0..10s";
  LatencyRange r;
  for (auto [part, into] : {std::pair{s.substr(0, dots), &r.low}, {s.substr(dots + 2), &r.high}}) {
    DurationFault fault = read_duration(part, into);
    if (fault != DurationFault::None) return duration_fault_text(fault);
  }
  if (r.high > hour_ns) return "the histogram holds latencies up to 1 h";
  if (r.low >= r.high) return "MIN must be below MAX";
  *range = r;
  return "";
}

bool parse_duration(const char* text, int64_t* ns) {
  int64_t v;
  if (read_duration(text, &v) != DurationFault::None || v == 0) return false;
  *ns = v;
  return true;
}

}  // namespace caplat::stat
