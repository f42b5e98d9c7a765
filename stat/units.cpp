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
