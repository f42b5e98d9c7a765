#pragma once

#include <cstddef>
#include <cstdint>

#include "digits.h"

namespace caplat {

// Reads the decimal numbers of a log (receive times, application times) into
// nanoseconds, eight digits at a time in the lanes of one word where it can.
// Inline, as the line rules call these once or twice a record.
namespace decimal {

using caplat::digits::digits_end;
using caplat::digits::digits_value;
using caplat::digits::eight_are_digits;
using caplat::digits::eight_digits;
using caplat::digits::is_digit;
using caplat::digits::non_digits;
using caplat::digits::powers_of_ten;

// True for the bytes 1 to 32, which the log counts as blanks.
inline bool is_blank(unsigned char c) {
  return c >= 1 && c <= 32;
}

// Bytes of a receive-time line of the common shape: ten digits, a point and nine digits.
inline constexpr size_t receive_time_size = 20;

// The receive time in the first receive_time_size bytes at line if they have
// the common shape, read in a few steps; false for any other.
inline bool common_receive_time(uint64_t* ns, const unsigned char* line) {
  if (!eight_are_digits(line) || !is_digit(line[8]) || !is_digit(line[9]) || line[10] != '.' ||
      !is_digit(line[11]) || !eight_are_digits(line + 12))
    return false;
  // Two words of eight digits, and three digits on their own.
  uint64_t whole = ((line[0] - '0') * 10 + (line[1] - '0')) * uint64_t{100000000};
  uint64_t fraction = (line[11] - '0') * uint64_t{100000000};
  *ns = (whole + eight_digits(line + 2)) * 1000000000 + fraction + eight_digits(line + 12);
  return true;
}

// Reads a non-negative decimal number, after any blanks, with at most
// max_digits integer digits into exact nanoseconds: unit is one integer unit,
// and the fraction counts to fraction_digits places, the rest being cut.
// Returns the end of the number, or null if there is none. Bytes before limit,
// if not null, may be read ahead.
inline const unsigned char* scan(uint64_t* ns, const unsigned char* p, const unsigned char* limit,
                                 unsigned max_digits, uint64_t unit, unsigned fraction_digits) {
  while (is_blank(*p)) ++p;
  const unsigned char* start = p;
  p = digits_end(p, limit);
  auto digits = static_cast<size_t>(p - start);
  if (digits == 0 || digits > max_digits) return nullptr;
  uint64_t value = digits_value(start, digits) * unit;
  if (*p == '.') {
    const unsigned char* fraction = ++p;
    p = digits_end(p, limit);
    auto counted = static_cast<size_t>(p - fraction);
    if (counted > fraction_digits) counted = fraction_digits;
    if (counted > 0)
      value += digits_value(fraction, counted) * powers_of_ten[fraction_digits - counted];
  }
  *ns = value;
  return p;
}

// Seconds with up to ten integer digits and nine decimals, as scan reads them.
inline const unsigned char* seconds(uint64_t* ns, const unsigned char* p,
                                    const unsigned char* limit) {
  return scan(ns, p, limit, 10, 1000000000, 9);
}

// Milliseconds with up to thirteen integer digits and six decimals, as scan reads them.
inline const unsigned char* milliseconds(uint64_t* ns, const unsigned char* p,
                                         const unsigned char* limit) {
  return scan(ns, p, limit, 13, 1000000, 6);
}

}  // namespace decimal

}  // namespace caplat
