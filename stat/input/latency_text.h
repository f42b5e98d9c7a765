#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstddef>
#include <cstdint>

#include "digits.h"

namespace caplat::stat {

// Reads the fields of caplat's output lines: times in ns, latencies in ms, as
// caplat prints them. The readers may load up to lookahead bytes past where
// they start, which the caller keeps readable.
namespace latency_text {

namespace digits = caplat::digits;

// Bytes the readers may load from where they start: a line's first 48, or
// the words of a digit run of up to max_run bytes.
inline constexpr size_t lookahead = 64;
inline constexpr size_t max_run = 24;

// Digits of a time in ns up to 2^64 - 1, which caplat prints unsigned, and
// of the usual time, from 2001 to 2286.
constexpr size_t max_time_digits = 20;
constexpr int common_time_digits = 19;
// Digits of a latency in ms whose nanoseconds fit in 64 bits; decimals read,
// and those kept, down to the nanosecond.
constexpr size_t max_ms_digits = 13;
constexpr size_t max_ms_decimals = 9;
constexpr int ns_decimals = 6;

// Reads the run of digits at p, at most max_digits (up to 20) long, into
// value; returns the byte after it, or null if there is no digit, too many, or
// the value passes 64 bits. The run is found a word at a time.
inline __attribute__((always_inline)) const char* read_number(const char* p, size_t max_digits,
                                                              uint64_t* value) {
  auto* start = reinterpret_cast<const unsigned char*>(p);
  size_t n = static_cast<size_t>(digits::digits_end(start, start + max_run) - start);
  if (n == 0 || n > max_digits) return nullptr;
  if (n <= 8) {
    *value = digits::digits_value_ahead(start, n);
  } else if (!digits::digits_value_checked(start, n, value)) {
    return nullptr;
  }
  return p + n;
}

#if defined(__SSE2__)
// The value of a time of nineteen digits (those of 2001 to 2286) at p: the
// first three one by one, the last sixteen in one vector, in pairs, fours and
// eights, each step weighing the first of two by a power of ten.
inline __attribute__((always_inline)) uint64_t nineteen_digits(const char* p) {
  __m128i d =
      _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3)), _mm_set1_epi8('0'));
  __m128i low = _mm_and_si128(d, _mm_set1_epi16(0xff));
  __m128i pairs = _mm_add_epi16(_mm_mullo_epi16(low, _mm_set1_epi16(10)), _mm_srli_epi16(d, 8));
  __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(100 | (1 << 16)));
  __m128i eights = _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(10000 | (1 << 16)));
  auto both = static_cast<uint64_t>(_mm_cvtsi128_si64(eights));
  uint64_t last16 = (both & 0xffffffff) * digits::powers_of_ten[8] + (both >> 32);
  uint64_t first3 = static_cast<uint64_t>(p[0] - '0') * 100 +
                    static_cast<uint64_t>(p[1] - '0') * 10 + static_cast<uint64_t>(p[2] - '0');
  return first3 * (digits::powers_of_ten[8] * digits::powers_of_ten[8]) + last16;
}
#endif

// Reads the two times of the usual line of caplat's output, nineteen digits
// and a space each, into first and second, and returns the byte after the
// second time; null if the line at p has another shape, which read_time reads.
inline __attribute__((always_inline)) const char* common_times(const char* p, uint64_t* first,
                                                               uint64_t* second) {
#if defined(__SSE2__)
  auto bytes = [](__m128i v, char c) {
    return static_cast<uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
  };
  auto digits = [](__m128i v) {
    __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    return static_cast<uint64_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d)));
  };
  __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
  uint64_t digit = digits(a) | digits(b) << 16 | digits(c) << 32;
  uint64_t space = bytes(a, ' ') | bytes(b, ' ') << 16 | bytes(c, ' ') << 32;
  constexpr uint64_t time_digits = (uint64_t{1} << common_time_digits) - 1;
  constexpr uint64_t want_digits = time_digits | time_digits << (common_time_digits + 1);
  constexpr uint64_t want_spaces =
      uint64_t{1} << common_time_digits | uint64_t{1} << (2 * common_time_digits + 1);
  if ((digit & (want_digits | want_spaces)) != want_digits || (space & want_spaces) != want_spaces)
    return nullptr;
  *first = nineteen_digits(p);
  *second = nineteen_digits(p + common_time_digits + 1);
  return p + 2 * common_time_digits + 1;
#else
  (void)p, (void)first, (void)second;
  return nullptr;
#endif
}

// Reads a time in ns, unsigned as caplat prints it.
inline __attribute__((always_inline)) const char* read_time(const char* p, uint64_t* ns) {
  return read_number(p, max_time_digits, ns);
}

// Reads a latency in ms into exact ns: the whole milliseconds and the
// decimals are read as integers, and decimals past the nanosecond are cut.
// Every latency caplat prints fits, from -2^63 to 2^63 - 1 ns.
inline __attribute__((always_inline)) const char* read_ms(const char* p, int64_t* ns) {
  bool negative = *p == '-';
  if (negative) ++p;
  uint64_t whole, fraction = 0;
  p = read_number(p, max_ms_digits, &whole);
  if (p == nullptr) return nullptr;
  int decimals = 0;
  if (*p == '.') {
    const char* start = p + 1;
    p = read_number(start, max_ms_decimals, &fraction);
    if (p == nullptr) return nullptr;
    decimals = static_cast<int>(p - start);
    if (decimals > ns_decimals) {
      fraction /= digits::powers_of_ten[decimals - ns_decimals];
      decimals = ns_decimals;
    }
  }
  // At most 13 digits of ms: the ns fit in 64 bits unsigned, if not signed.
  uint64_t v = whole * 1000000 + fraction * digits::powers_of_ten[ns_decimals - decimals];
  if (v > static_cast<uint64_t>(INT64_MAX) + (negative ? 1 : 0)) return nullptr;
  *ns = static_cast<int64_t>(negative ? 0 - v : v);
  return p;
}

// Steps over a latency in ms as caplat prints it, with six decimals, and
// returns the newline after it, or null if the text is not of that form.
inline __attribute__((always_inline)) const char* skip_ms(const char* p) {
#if defined(__SSE2__)
  // All sixteen bytes at once: where the newline is, which bytes are digits.
  __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  auto newlines =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(text, _mm_set1_epi8('\n'))));
  if (newlines != 0) {
    int size = __builtin_ctz(newlines);
    int point = size - 1 - ns_decimals;
    int first = *p == '-' ? 1 : 0;
    if (point <= first || p[point] != '.') return nullptr;
    __m128i offset = _mm_sub_epi8(text, _mm_set1_epi8('0'));
    auto digits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset)));
    unsigned wanted = ((1u << size) - 1) & ~(1u << point) & ~((1u << first) - 1);
    return (digits & wanted) == wanted ? p + size : nullptr;
  }
#endif
  if (*p == '-') ++p;
  const char* start = p;
  while (*p >= '0' && *p <= '9') ++p;
  if (p == start || *p != '.') return nullptr;
  for (int i = 0; i < ns_decimals; ++i) {
    if (*++p < '0' || *p > '9') return nullptr;
  }
  return *++p == '\n' ? p : nullptr;
}

}  // namespace latency_text

}  // namespace caplat::stat
