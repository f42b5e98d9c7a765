#include "units.h"

#include <cstring>

namespace caplat::stat {

namespace {

const Unit units[] = {{"ns", 1, 0}, {"us", 1000, 3}, {"ms", 1000000, 6}, {"s", 1000000000, 9}};

// Duration suffixes: the printable units and minutes and hours.
struct Suffix {
  const char* name;
  int64_t ns;
};
const Suffix suffixes[] = {{"ns", 1},         {"us", 1000},       {"ms", 1000000},
                           {"s", 1000000000}, {"m", 60000000000}, {"h", hour_ns}};

}  // namespace

const Unit* find_unit(const char* name) {
  for (const Unit& unit : units) {
    if (strcmp(unit.name, name) == 0) return &unit;
  }
  return nullptr;
}

const Unit& default_unit() {
  return units[2];
}

bool parse_duration(const char* text, int64_t* ns) {
  // Whole part and fraction as one integer with a count of decimals, so that
  // "1.5s" is read exactly.
  int64_t digits = 0;
  int decimals = 0;
  bool point = false, any = false;
  const char* p = text;
  for (; (*p >= '0' && *p <= '9') || (*p == '.' && !point); ++p) {
    if (*p == '.') {
      point = true;
      continue;
    }
    if (__builtin_mul_overflow(digits, 10, &digits) ||
        __builtin_add_overflow(digits, *p - '0', &digits))
      return false;
    any = true;
    if (point) ++decimals;
  }
  if (!any) return false;
  for (const Suffix& suffix : suffixes) {
    if (strcmp(p, suffix.name) != 0) continue;
    int64_t scaled;
    if (__builtin_mul_overflow(digits, suffix.ns, &scaled)) return false;
    for (int i = 0; i < decimals; ++i) {
      if (scaled % 10 != 0) return false;
      scaled /= 10;
    }
    *ns = scaled;
    return scaled > 0;
  }
  return false;
}

}  // namespace caplat::stat
