#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "hexline_run.h"

namespace caplat {

namespace hexline {

#if defined(__x86_64__)

namespace {

// Positions of a canonical line: 'h' a hex digit, ' ' a space.
constexpr char shape[] = "hhhh  hh hh hh hh hh hh hh hh hh hh hh hh hh hh hh hh";
static_assert(sizeof shape - 1 == canonical_size);

// The SSSE3 and AVX2 decoders take each byte's value as a hex digit, if it is
// one, as the lesser of two differences: from '0', saturated, and from 'a' less
// ten. Written back as a digit by one table lookup, the value gives the byte
// itself exactly when the byte is a lower-case hex digit: a byte below '0'
// writes back as '0', one from 0xd7 up writes back as nothing (the lookup gives
// zero for an index from 0x80 up), and any other gives a digit it is not.
// Where the shape expects a space the lookup is made to give zero and a space
// is put in its place, so that one comparison checks every byte of a load.
constexpr char hex_digits[] = "0123456789abcdef";

// The spaces of the shape in the load of width lanes at offset: a space where
// the shape has one, and in lookup_ends the index bit that makes the lookup
// give zero.
struct SpaceLanes {
  alignas(32) unsigned char spaces[32];
  alignas(32) unsigned char lookup_ends[32];
  constexpr SpaceLanes(size_t offset, size_t width) : spaces(), lookup_ends() {
    for (size_t lane = 0; lane < width; ++lane) {
      bool space = shape[offset + lane] == ' ';
      spaces[lane] = space ? ' ' : 0;
      lookup_ends[lane] = space ? 0x80 : 0;
    }
  }
};

// Byte i of the decoded line is the value of the digit pair at positions 6 + 3i
// and 7 + 3i. A shuffle puts the pairs' digits side by side, each taken from
// the first load that holds it, and a multiply-add joins each pair into its
// byte. Shuffles work within 16-byte lanes, so each lane of a load gathers the
// digits it holds into the places they take in their group of eight pairs.
struct Gather {
  // The load the digits come from.
  size_t load;
  alignas(32) signed char places[32];
  // Gathers the digits of pairs first to first + 7 that the load of width lanes
  // at offset holds from position from on.
  constexpr Gather(size_t load, size_t offset, size_t width, size_t first, size_t from = 0)
      : load(load), places() {
    std::fill(std::begin(places), std::end(places), -1);
    for (size_t digit = 0; digit < 16; ++digit) {
      size_t pos = 6 + 3 * (first + digit / 2) + digit % 2;
      if (pos < from || pos < offset || pos >= offset + width) continue;
      size_t lane = (pos - offset) / 16 * 16;
      places[lane + digit] = static_cast<signed char>(pos - offset - lane);
    }
  }
};

// The SSSE3 decoder's four loads; the last overlaps the third so that no byte
// past the line is read.
constexpr size_t load_at[4] = {0, 16, 32, 37};
constexpr SpaceLanes ssse3_spaces[4] = {
    {load_at[0], 16}, {load_at[1], 16}, {load_at[2], 16}, {load_at[3], 16}};
// Pairs 0 to 7 lie in the first two loads, pairs 8 to 15 in the last three.
constexpr Gather ssse3_gather[5] = {{0, load_at[0], 16, 0},
                                    {1, load_at[1], 16, 0},
                                    {1, load_at[1], 16, 8},
                                    {2, load_at[2], 16, 8},
                                    {3, load_at[3], 16, 8, load_at[2] + 16}};

inline __m128i load16(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

__attribute__((target("avx2"))) inline __m256i load32(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

// The digit values of a load, and in fits all ones in each lane whose byte is
// what the shape expects there.
__attribute__((target("ssse3"))) inline __m128i digit_values(__m128i c, const SpaceLanes& lanes,
                                                             __m128i* fits) {
  __m128i value =
      _mm_min_epu8(_mm_subs_epu8(c, _mm_set1_epi8('0')), _mm_sub_epi8(c, _mm_set1_epi8('a' - 10)));
  __m128i index = _mm_or_si128(value, load16(lanes.lookup_ends));
  __m128i written = _mm_or_si128(_mm_shuffle_epi8(load16(hex_digits), index), load16(lanes.spaces));
  *fits = _mm_cmpeq_epi8(written, c);
  return value;
}

// Joins sixteen digit values, high digit first, into eight bytes in 16-bit lanes.
__attribute__((target("ssse3"))) inline __m128i join_pairs(__m128i digits) {
  return _mm_maddubs_epi16(digits, _mm_set1_epi16(0x0110));
}

// Writes the 16 bytes of a line of the canonical shape to out, and sets fits to
// the lanes of its four loads that are what the shape expects.
__attribute__((target("ssse3"))) inline void decode_ssse3_loads(unsigned char* out,
                                                                const unsigned char* line,
                                                                __m128i* fits) {
  __m128i value[4];
  for (size_t v = 0; v < 4; ++v)
    value[v] = digit_values(load16(line + load_at[v]), ssse3_spaces[v], &fits[v]);
  __m128i gathered[5];
  for (size_t g = 0; g < 5; ++g)
    gathered[g] = _mm_shuffle_epi8(value[ssse3_gather[g].load], load16(ssse3_gather[g].places));
  __m128i first = _mm_or_si128(gathered[0], gathered[1]);
  __m128i second = _mm_or_si128(_mm_or_si128(gathered[2], gathered[3]), gathered[4]);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_packus_epi16(join_pairs(first), join_pairs(second)));
}

__attribute__((target("ssse3"))) inline bool decode_ssse3(unsigned char* out,
                                                          const unsigned char* line) {
  __m128i fits[4];
  decode_ssse3_loads(out, line, fits);
  __m128i all = _mm_and_si128(_mm_and_si128(fits[0], fits[1]), _mm_and_si128(fits[2], fits[3]));
  return _mm_movemask_epi8(all) == 0xffff;
}

// The positions of the line, one bit each, among the first size.
constexpr uint64_t first_positions(size_t size) {
  return (uint64_t{1} << size) - 1;
}

__attribute__((target("ssse3"))) bool decode_short_ssse3(unsigned char* out,
                                                         const unsigned char* line, size_t pairs) {
  __m128i fits[4];
  decode_ssse3_loads(out, line, fits);
  uint64_t fit = 0;
  for (size_t v = 0; v < 4; ++v)
    fit |= static_cast<uint64_t>(_mm_movemask_epi8(fits[v])) << load_at[v];
  uint64_t needed = first_positions(short_size(pairs));
  return (fit & needed) == needed;
}

// Two 32-byte loads, one at the start of the line and one ending at its last
// pair, cover it without touching a byte past it. Pairs 0 to 7 come from the
// first load's two lanes, pairs 8 to 15 from the second's.
constexpr size_t avx2_load_at[2] = {0, canonical_size - 32};
constexpr SpaceLanes avx2_spaces[2] = {{avx2_load_at[0], 32}, {avx2_load_at[1], 32}};
constexpr Gather avx2_gather[2] = {{0, avx2_load_at[0], 32, 0}, {1, avx2_load_at[1], 32, 8}};

__attribute__((target("avx2"))) inline __m256i broadcast(const void* table) {
  return _mm256_broadcastsi128_si256(load16(table));
}

// Writes the 16 bytes of a line of the canonical shape to out, and sets fits to
// the lanes of its two loads that are what the shape expects.
__attribute__((target("avx2"))) inline void decode_avx2_loads(unsigned char* out,
                                                              const unsigned char* line,
                                                              __m256i* fits) {
  const __m256i digits = broadcast(hex_digits);
  __m128i half[2];
  for (size_t v = 0; v < 2; ++v) {
    __m256i c = load32(line + avx2_load_at[v]);
    __m256i value = _mm256_min_epu8(_mm256_subs_epu8(c, _mm256_set1_epi8('0')),
                                    _mm256_sub_epi8(c, _mm256_set1_epi8('a' - 10)));
    __m256i index = _mm256_or_si256(value, load32(avx2_spaces[v].lookup_ends));
    __m256i written =
        _mm256_or_si256(_mm256_shuffle_epi8(digits, index), load32(avx2_spaces[v].spaces));
    fits[v] = _mm256_cmpeq_epi8(written, c);
    __m256i gathered = _mm256_shuffle_epi8(value, load32(avx2_gather[v].places));
    half[v] = _mm_or_si128(_mm256_castsi256_si128(gathered), _mm256_extracti128_si256(gathered, 1));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_packus_epi16(join_pairs(half[0]), join_pairs(half[1])));
}

__attribute__((target("avx2"))) inline bool decode_avx2(unsigned char* out,
                                                        const unsigned char* line) {
  __m256i fits[2];
  decode_avx2_loads(out, line, fits);
  return _mm256_movemask_epi8(_mm256_and_si256(fits[0], fits[1])) == -1;
}

__attribute__((target("avx2"))) bool decode_short_avx2(unsigned char* out,
                                                       const unsigned char* line, size_t pairs) {
  __m256i fits[2];
  decode_avx2_loads(out, line, fits);
  uint64_t fit = 0;
  for (size_t v = 0; v < 2; ++v) {
    fit |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(fits[v])))
           << avx2_load_at[v];
  }
  uint64_t needed = first_positions(short_size(pairs));
  return (fit & needed) == needed;
}

// One masked load takes the whole line, so nothing past it is touched; one
// byte permute lines up each pair's two digits, and a multiply-add joins them.
struct WideTables {
  alignas(64) unsigned char pairs[64];
  uint64_t hex_lanes = 0;
  uint64_t space_lanes = 0;
  constexpr WideTables() : pairs() {
    for (size_t pos = 0; pos < canonical_size; ++pos) {
      if (shape[pos] == 'h') hex_lanes |= uint64_t{1} << pos;
      if (shape[pos] == ' ') space_lanes |= uint64_t{1} << pos;
    }
    for (size_t i = 0; i < 16; ++i) {
      pairs[2 * i] = static_cast<unsigned char>(6 + 3 * i);
      pairs[2 * i + 1] = static_cast<unsigned char>(7 + 3 * i);
    }
  }
};
constexpr WideTables wide;

// Any number of pairs: the mask keeps the load and the checks within the line.
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) inline bool decode_avx512_pairs(
    unsigned char* out, const unsigned char* line, size_t pairs) {
  const __mmask64 within = first_positions(short_size(pairs));
  __m512i c = _mm512_maskz_loadu_epi8(within, line);
  __m512i digit = _mm512_sub_epi8(c, _mm512_set1_epi8('0'));
  __m512i letter = _mm512_sub_epi8(c, _mm512_set1_epi8('a'));
  __mmask64 is_hex = _mm512_cmple_epu8_mask(digit, _mm512_set1_epi8(9)) |
                     _mm512_cmple_epu8_mask(letter, _mm512_set1_epi8(5));
  __mmask64 space = _mm512_cmpeq_epi8_mask(c, _mm512_set1_epi8(' '));
  uint64_t hex_lanes = wide.hex_lanes & within;
  uint64_t space_lanes = wide.space_lanes & within;
  bool ok = (is_hex & hex_lanes) == hex_lanes && (space & space_lanes) == space_lanes;
  __m512i value = _mm512_min_epu8(digit, _mm512_sub_epi8(c, _mm512_set1_epi8('a' - 10)));
  // The zero-masking forms spare GCC's headers an undefined operand it warns about.
  __m512i digits =
      _mm512_maskz_permutexvar_epi8(~uint64_t{0}, _mm512_load_si512(wide.pairs), value);
  __m512i words = _mm512_maddubs_epi16(digits, _mm512_set1_epi16(0x0110));
  __m256i bytes = _mm512_maskz_cvtepi16_epi8(~uint32_t{0}, words);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
  return ok;
}

__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) bool decode_avx512(
    unsigned char* out, const unsigned char* line) {
  return decode_avx512_pairs(out, line, 16);
}

__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) bool decode_short_avx512(
    unsigned char* out, const unsigned char* line, size_t pairs) {
  return decode_avx512_pairs(out, line, pairs);
}

__attribute__((target("ssse3"))) size_t lines_ssse3(unsigned char* out, size_t max_lines,
                                                    const unsigned char* data, size_t size,
                                                    size_t* used) {
  return run<decode_ssse3>(out, max_lines, data, size, used);
}

__attribute__((target("avx2"))) size_t lines_avx2(unsigned char* out, size_t max_lines,
                                                  const unsigned char* data, size_t size,
                                                  size_t* used) {
  return run<decode_avx2>(out, max_lines, data, size, used);
}

__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) size_t lines_avx512(
    unsigned char* out, size_t max_lines, const unsigned char* data, size_t size, size_t* used) {
  return run<decode_avx512>(out, max_lines, data, size, used);
}

}  // namespace

bool vector_decoders(Level level, Decoders* decoders) {
  if (level == Level::Avx512) {
    *decoders = {decode_avx512, decode_short_avx512, lines_avx512};
  } else if (level == Level::Avx2) {
    *decoders = {decode_avx2, decode_short_avx2, lines_avx2};
  } else {
    *decoders = {decode_ssse3, decode_short_ssse3, lines_ssse3};
  }
  return true;
}

#else

bool vector_decoders(Level, Decoders*) {
  return false;
}

#endif

}  // namespace hexline

}  // namespace caplat
