#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Reads the decimal numbers of a log (receive times, application times) into
// nanoseconds, eight digits at a time in the lanes of one word where it can.
// Inline, as the line rules call these once or twice a record.
namespace decimal {

// Bytes of a receive-time line of the common shape: ten digits, a point and nine digits.
inline constexpr size_t receive_time_size = 20;

inline bool is_blank(unsigned char c) {
  return c >= 1 && c <= 32;
}

inline bool is_digit(unsigned char c) {
  return c >= '0' && c <= '9';
}

// The value of eight digit values, one a byte, the first in the lowest byte,
// all at once in the lanes of one word.
inline uint64_t eight_values(uint64_t v) {
  v = v * 10 + (v >> 8);  // pairs of digits in every other byte
  return ((v & 0x000000ff000000ff) * (100 + (uint64_t{1000000} << 32)) +
          ((v >> 16) & 0x000000ff000000ff) * (1 + (uint64_t{10000} << 32))) >>
         32;
}

// The eight bytes at p as a word, the first in the lowest byte.
inline uint64_t load_word(const unsigned char* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// The value of eight ASCII digits.
inline uint64_t eight_digits(const unsigned char* p) {
  return eight_values(load_word(p) - 0x3030303030303030);
}

// Bits set in the high half of each byte of the word at p that is no ASCII
// digit, the first in the lowest byte. A digit's byte becomes 0 to 9; any other
// keeps a bit of its high half, or gains one when 6 is added. A carry out of a
// byte only reaches bytes after the first that is no digit.
inline uint64_t non_digits(const unsigned char* p) {
  uint64_t v = load_word(p) ^ 0x3030303030303030;
  return (v | (v + 0x0606060606060606)) & 0xf0f0f0f0f0f0f0f0;
}

inline bool eight_are_digits(const unsigned char* p) {
  return non_digits(p) == 0;
}

// The value of the n digits at p, n at most 16. From 8 digits on, the head is
// read from the word at p, with zeros shifted in ahead of it, side by side with
// the last eight.
inline uint64_t digits_value(const unsigned char* p, size_t n) {
  if (n < 8) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = v * 10 + (p[i] - '0');
    return v;
  }
  // A shift by the word's full width is undefined, so eight digits have no head.
  uint64_t head = n == 8 ? 0 : eight_values((load_word(p) - 0x3030303030303030) << (8 * (16 - n)));
  return head * 100000000 + eight_digits(p + n - 8);
}

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

// The end of the run of digits at p. Bytes before limit, if it is not null,
// may be read eight at a time.
inline const unsigned char* digits_end(const unsigned char* p, const unsigned char* limit) {
  if (limit != nullptr) {
    for (; limit - p >= 8; p += 8) {
      if (uint64_t other = non_digits(p)) return p + std::countr_zero(other) / 8;
    }
  }
  while (is_digit(*p)) ++p;
  return p;
}

// Place values of the first nine fraction digits of a second in nanoseconds.
inline constexpr uint64_t place[9] = {1,      10,      100,      1000,     10000,
                                      100000, 1000000, 10000000, 100000000};

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
    if (counted > 0) value += digits_value(fraction, counted) * place[fraction_digits - counted];
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
