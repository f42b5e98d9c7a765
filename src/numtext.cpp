#include "numtext.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "digits.h"

namespace caplat {

namespace numtext {
namespace {

__extension__ typedef unsigned __int128 u128;

constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void put_pair(char* out, uint32_t v) {
  memcpy(out, digit_pairs + size_t{2} * v, 2);
}

// Writes exactly width digits of v, zero-padded, right to left from end.
void put_digits(char* end, uint32_t v, int width) {
  for (; width >= 2; width -= 2, v /= 100) {
    end -= 2;
    put_pair(end, v % 100);
  }
  if (width) *--end = static_cast<char>('0' + v % 10);
}

// Writes the eight digits of v < 10^8, zero-padded. Its four pairs come from
// two short chains of multiplications, so they are ready side by side. Kept
// inline: as a call, twice a line, its speed hung on where the code was laid.
[[gnu::always_inline]] inline void put_eight(char* out, uint32_t v) {
  uint32_t high = v / 10000;
  uint32_t low = v % 10000;
  put_pair(out, high / 100);
  put_pair(out + 2, high % 100);
  put_pair(out + 4, low / 100);
  put_pair(out + 6, low % 100);
}

// Writes the sixteen digits of v < 10^16, zero-padded: the tail of a time in
// nanoseconds since the epoch, printed twice a line.
#if defined(__SSE2__)
// The halves are split into groups of four digits, pairs and digits in the
// lanes of one register: the same steps as put_eight, all groups at once.
void put_sixteen(char* out, uint64_t v) {
  __m128i halves =
      _mm_set_epi64x(static_cast<long long>(v % 100000000), static_cast<long long>(v / 100000000));
  // x / 10^4 is x * 0xd1b71759 >> 45 for every x < 10^8.
  __m128i high = _mm_srli_epi64(_mm_mul_epu32(halves, _mm_set1_epi64x(0xd1b71759)), 45);
  __m128i low = _mm_sub_epi32(halves, _mm_mul_epu32(high, _mm_set1_epi64x(10000)));
  __m128i fours = _mm_or_si128(high, _mm_slli_epi64(low, 32));
  // x / 100 is x * 5243 >> 19 for every x < 10^4.
  high = _mm_srli_epi16(_mm_mulhi_epu16(fours, _mm_set1_epi16(5243)), 3);
  low = _mm_sub_epi16(fours, _mm_mullo_epi16(high, _mm_set1_epi16(100)));
  __m128i twos = _mm_or_si128(high, _mm_slli_epi32(low, 16));
  // x / 10 is x * 6554 >> 16 for every x < 100.
  high = _mm_mulhi_epu16(twos, _mm_set1_epi16(6554));
  low = _mm_sub_epi16(twos, _mm_mullo_epi16(high, _mm_set1_epi16(10)));
  __m128i digits = _mm_or_si128(high, _mm_slli_epi16(low, 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_add_epi8(digits, _mm_set1_epi8('0')));
}
#else
void put_sixteen(char* out, uint64_t v) {
  put_eight(out, static_cast<uint32_t>(v / 100000000));
  put_eight(out + 8, static_cast<uint32_t>(v % 100000000));
}
#endif

using caplat::digits::powers_of_ten;

int digit_count(uint64_t v) {
  // 1233 / 4096 is just above log10(2): a guess from the bit length, then one correction.
  int guess = static_cast<int>(std::bit_width(v | 1) * 1233 >> 12);
  return (v | 1) >= powers_of_ten[guess] ? guess + 1 : guess;
}

// Writes v < 10^8 without leading zeros.
char* put_short(char* out, uint32_t v) {
  int n = digit_count(v);
  put_digits(out + n, v, n);
  return out + n;
}

}  // namespace

char* u64(char* out, uint64_t v) {
  if (v < 100000000) return put_short(out, static_cast<uint32_t>(v));
  if (v < 10000000000000000) {
    out = put_short(out, static_cast<uint32_t>(v / 100000000));
    put_eight(out, static_cast<uint32_t>(v % 100000000));
    return out + 8;
  }
  auto top = static_cast<uint32_t>(v / 10000000000000000);
  // Times in nanoseconds lead with three digits from late 2001 and with four
  // from 2286, so these are spared the general writer's count and loop.
  if (top >= 1000) {
    put_pair(out, top / 100);
    put_pair(out + 2, top % 100);
    out += 4;
  } else if (top >= 100) {
    *out = static_cast<char>('0' + top / 100);
    put_pair(out + 1, top % 100);
    out += 3;
  } else {
    out = put_short(out, top);
  }
  put_sixteen(out, v - uint64_t{top} * 10000000000000000);
  return out + 16;
}

char* TimeText::write(char* out, uint64_t v) {
  // The last eight digits are v less its tenths of a second, which give the
  // seconds too; so the digits need not wait for the seconds to be worked out.
  constexpr uint64_t tenth = 100000000;
  uint64_t tenths = v / tenth;
  uint64_t seconds = tenths / 10;
  // Below a second the text has no digits of seconds to keep.
  if (seconds == 0) return u64(out, v);
  if (seconds != seconds_) return start_second(out, v, seconds);
  // The seconds take at most 11 digits, so all 16 bytes fit among the 20.
  memcpy(out, text_, sizeof text_);
  out += size_;
  *out = static_cast<char>('0' + (tenths - seconds * 10));
  put_eight(out + 1, static_cast<uint32_t>(v - tenths * tenth));
  return out + 9;
}

char* TimeText::start_second(char* out, uint64_t v, uint64_t seconds) {
  seconds_ = seconds;
  size_ = u64(text_, seconds) - text_;
  return write(out, v);
}

char* latency(char* out, int64_t d) {
  uint64_t micros;
  auto magnitude = static_cast<uint64_t>(d);
  if (d < 0) magnitude = ~magnitude + 1;
  if (magnitude < uint64_t{1} << 49) {
    // Below 2^49 the double d * 1e-6 is within 0.125 of d microseconds (two
    // roundings of at most 2^-53 each), so it prints as d itself.
    if (d < 0) *out++ = '-';
    micros = magnitude;
  } else {
    // The double is m * 2^-shift exactly; its value in microseconds is rounded
    // to nearest, ties to even, as printf rounds the exact binary value.
    // For these d, |d| * 1e-6 lies in [5e8, 1e13], so shift is in [9, 23].
    uint64_t bits = std::bit_cast<uint64_t>(static_cast<double>(d) * 1e-6);
    if (bits >> 63) *out++ = '-';
    unsigned exponent = (bits >> 52) & 0x7ff;
    uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    int shift = 1075 - static_cast<int>(exponent);
    u128 n = static_cast<u128>(m) * 1000000;
    u128 q = n >> shift;
    u128 rest = n - (q << shift);
    u128 half = static_cast<u128>(1) << (shift - 1);
    if (rest > half || (rest == half && (q & 1))) ++q;
    micros = static_cast<uint64_t>(q);
  }
  if (micros < 100000000) {
    // Under 100 ms, as nearly every latency is: one or two whole digits,
    // chosen without a branch, and the fraction's pairs side by side.
    // Each pair is worked out from micros itself, so none waits for another.
    auto m = static_cast<uint32_t>(micros);
    uint32_t whole = m / 1000000;
    put_pair(out, whole);
    size_t digits = whole < 10 ? 1 : 2;
    out[0] = out[2 - digits];  // a single digit takes the place of its zero
    out += digits;
    *out = '.';
    put_pair(out + 1, m / 10000 % 100);
    put_pair(out + 3, m / 100 % 100);
    put_pair(out + 5, m % 100);
    return out + 7;
  }
  out = u64(out, micros / 1000000);
  *out = '.';
  put_digits(out + 7, static_cast<uint32_t>(micros % 1000000), 6);
  return out + 7;
}

}  // namespace numtext

}  // namespace caplat
