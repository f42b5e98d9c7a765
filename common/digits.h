#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Decimal digits read eight at a time in the lanes of one word, and the powers
// of ten, as both programs read and print numbers.
namespace caplat::digits {

// 10^0 to 10^19, every power of ten that 64 bits hold.
inline constexpr uint64_t powers_of_ten[20] = {1,
                                               10,
                                               100,
                                               1000,
                                               10000,
                                               100000,
                                               1000000,
                                               10000000,
                                               100000000,
                                               1000000000,
                                               10000000000,
                                               100000000000,
                                               1000000000000,
                                               10000000000000,
                                               100000000000000,
                                               1000000000000000,
                                               10000000000000000,
                                               100000000000000000,
                                               1000000000000000000,
                                               10000000000000000000u};

// True for the ASCII digits.
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

// The value of the n digits at p, n from 1 to 8, where the eight bytes at p
// may all be read: the digits are moved to the top of the word, behind zeros.
inline uint64_t digits_value_ahead(const unsigned char* p, size_t n) {
  return eight_values((load_word(p) - 0x3030303030303030) << (8 * (8 - n)));
}

// The value of the n digits at p, n at most 20, in value; false if it passes
// 64 bits.
inline bool digits_value_checked(const unsigned char* p, size_t n, uint64_t* value) {
  if (n <= 16) {
    *value = digits_value(p, n);
    return true;
  }
  uint64_t head = digits_value(p, n - 16);
  return !__builtin_mul_overflow(head, powers_of_ten[16], value) &&
         !__builtin_add_overflow(*value, digits_value(p + n - 16, 16), value);
}

}  // namespace caplat::digits
