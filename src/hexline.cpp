#include "hexline.h"

#include <cstdint>

#include "newline.h"
#include "prefetch.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace hexline {
namespace {

// Value of each byte as a lower-case hex digit, or 0xff.
struct HexTable {
  unsigned char value[256];
  constexpr HexTable() : value() {
    for (int c = 0; c < 256; ++c) value[c] = 0xff;
    for (int c = '0'; c <= '9'; ++c) value[c] = static_cast<unsigned char>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) value[c] = static_cast<unsigned char>(c - 'a' + 10);
  }
};
constexpr HexTable hex;

bool decode_pairs(unsigned char* out, const unsigned char* line, size_t pairs) {
  // Invalid digits have the high bits of their table value set.
  unsigned digits =
      hex.value[line[0]] | hex.value[line[1]] | hex.value[line[2]] | hex.value[line[3]];
  unsigned spaces = (line[4] ^ ' ') | (line[5] ^ ' ');
  for (size_t i = 0; i < pairs; ++i) {
    const unsigned char* p = line + 6 + 3 * i;
    unsigned high = hex.value[p[0]];
    unsigned low = hex.value[p[1]];
    digits |= high | low;
    if (i + 1 < pairs) spaces |= p[2] ^ ' ';
    out[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return (digits & 0xf0) == 0 && spaces == 0;
}

bool decode_scalar(unsigned char* out, const unsigned char* line) {
  return decode_pairs(out, line, 16);
}

// The loop around one level's line decoder, inlined into a copy per level so
// that the decoder is inlined too.
template <bool (*decode_line)(unsigned char*, const unsigned char*)>
[[gnu::always_inline]] inline size_t run(unsigned char* out, size_t max_lines,
                                         const unsigned char* data, size_t size, size_t* used) {
  const unsigned char* p = data;
  const unsigned char* end = data + size;
  // Lines of one log end at the same place, so past the canonical bytes the
  // newline is looked for first where the line before had it. The next line's
  // address then follows from that guess, not from this line's bytes, and the
  // processor loads it while this one's bytes are still on their way; found by
  // a search, it would wait for them whenever a printable column follows the
  // pairs.
  size_t length = canonical_size;
  size_t lines = 0;
  for (; lines < max_lines; ++lines) {
    prefetch_ahead(p);
    auto left = static_cast<size_t>(end - p);
    if (left <= canonical_size || !decode_line(out + 16 * lines, p)) break;
    // The canonical bytes hold no newline, so the search starts past them.
    const unsigned char* newline = p + canonical_size;
    if (*newline != '\n') {
      newline = p + length;
      if (left <= length || *newline != '\n' ||
          find_newline(p + canonical_size, length - canonical_size) != nullptr) {
        newline = find_newline(p + canonical_size,
                               (left < piece_limit ? left : piece_limit) - canonical_size);
        if (newline == nullptr) break;
        length = newline - p;
      }
    }
    p = newline + 1;
  }
  *used = p - data;
  return lines;
}

size_t lines_scalar(unsigned char* out, size_t max_lines, const unsigned char* data, size_t size,
                    size_t* used) {
  return run<decode_scalar>(out, max_lines, data, size, used);
}

#if defined(__x86_64__)

// Positions of a canonical line: 'h' a hex digit, ' ' a space.
constexpr char shape[] = "hhhh  hh hh hh hh hh hh hh hh hh hh hh hh hh hh hh hh";
static_assert(sizeof shape - 1 == canonical_size);

// The SSSE3 and AVX2 decoders class each byte by two table lookups, one on its
// upper four bits and one on its lower four, and keep the classes both allow:
// a position of the line passes if that leaves the class its shape expects.
// Bytes from 0x80 up find no class by their upper bits.
constexpr unsigned char digit_class = 1;
constexpr unsigned char letter_class = 2;
constexpr unsigned char space_class = 4;

struct NibbleTables {
  alignas(16) unsigned char upper[16];
  alignas(16) unsigned char lower[16];
  // Added to a hex digit's lower four bits to make its value.
  alignas(16) unsigned char add[16];
  constexpr NibbleTables() : upper(), lower(), add() {
    upper[2] = space_class;
    upper[3] = digit_class;
    upper[6] = letter_class;
    for (int n = 0; n < 16; ++n) {
      lower[n] = static_cast<unsigned char>((n <= 9 ? digit_class : 0) |
                                            (n >= 1 && n <= 6 ? letter_class : 0) |
                                            (n == 0 ? space_class : 0));
    }
    add[6] = 9;
  }
};
constexpr NibbleTables nibbles;

constexpr signed char expected_class(char c) {
  return static_cast<signed char>(c == 'h' ? digit_class | letter_class : space_class);
}

// Expected classes and shuffles for the four 16-byte loads at these offsets; the
// last load overlaps the third so that no byte past the line is read.
constexpr int load_at[4] = {0, 16, 32, 37};

struct Tables {
  alignas(16) signed char expect[4][16];
  alignas(16) signed char high[4][16];
  alignas(16) signed char low[4][16];
  constexpr Tables() : expect(), high(), low() {
    for (int v = 0; v < 4; ++v) {
      for (int lane = 0; lane < 16; ++lane) {
        expect[v][lane] = expected_class(shape[load_at[v] + lane]);
        high[v][lane] = low[v][lane] = -1;
      }
    }
    // Byte i comes from positions 6 + 3i and 7 + 3i, each taken from the
    // first load that holds it.
    for (int i = 0; i < 16; ++i) {
      for (int half = 0; half < 2; ++half) {
        int pos = 6 + 3 * i + half;
        int v = pos < 16 ? 0 : pos < 32 ? 1 : pos < 48 ? 2 : 3;
        (half ? low : high)[v][i] = static_cast<signed char>(pos - load_at[v]);
      }
    }
  }
};
constexpr Tables tables;

__attribute__((target("ssse3"))) inline bool decode_ssse3(unsigned char* out,
                                                          const unsigned char* line) {
  const __m128i low_bits = _mm_set1_epi8(0x0f);
  const __m128i upper_classes = _mm_load_si128(reinterpret_cast<const __m128i*>(nibbles.upper));
  const __m128i lower_classes = _mm_load_si128(reinterpret_cast<const __m128i*>(nibbles.lower));
  const __m128i add = _mm_load_si128(reinterpret_cast<const __m128i*>(nibbles.add));
  __m128i high = _mm_setzero_si128();
  __m128i low = _mm_setzero_si128();
  // A position that lacks the class its shape expects leaves a zero here.
  __m128i least = _mm_set1_epi8(-1);
  for (int v = 0; v < 4; ++v) {
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + load_at[v]));
    __m128i upper = _mm_and_si128(_mm_srli_epi16(c, 4), low_bits);
    __m128i lower = _mm_and_si128(c, low_bits);
    __m128i classes = _mm_and_si128(_mm_shuffle_epi8(upper_classes, upper),
                                    _mm_shuffle_epi8(lower_classes, lower));
    least = _mm_min_epu8(
        least,
        _mm_and_si128(classes, _mm_load_si128(reinterpret_cast<const __m128i*>(tables.expect[v]))));
    __m128i value = _mm_add_epi8(lower, _mm_shuffle_epi8(add, upper));
    high = _mm_or_si128(
        high,
        _mm_shuffle_epi8(value, _mm_load_si128(reinterpret_cast<const __m128i*>(tables.high[v]))));
    low = _mm_or_si128(
        low,
        _mm_shuffle_epi8(value, _mm_load_si128(reinterpret_cast<const __m128i*>(tables.low[v]))));
  }
  // Values are below 16, so shifting 16-bit lanes moves no bit across bytes.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(_mm_slli_epi16(high, 4), low));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(least, _mm_setzero_si128())) == 0;
}

// Two 32-byte loads, one at the start of the line and one ending at its last
// pair, cover it without touching a byte past it. A byte shuffle works within
// each 16-byte half of a register, so each half gathers the digits it holds
// into its own copy of the 16 places, and the two copies are joined at the end.
constexpr size_t avx2_load_at[2] = {0, canonical_size - 32};

struct Avx2Tables {
  alignas(32) signed char expect[2][32];
  alignas(32) signed char high[2][32];
  alignas(32) signed char low[2][32];
  constexpr Avx2Tables() : expect(), high(), low() {
    for (size_t v = 0; v < 2; ++v) {
      for (size_t lane = 0; lane < 32; ++lane) {
        expect[v][lane] = expected_class(shape[avx2_load_at[v] + lane]);
        high[v][lane] = low[v][lane] = -1;
      }
    }
    // Byte i comes from positions 6 + 3i and 7 + 3i, each taken from the
    // first half of the two loads that holds it.
    for (size_t i = 0; i < 16; ++i) {
      for (size_t half = 0; half < 2; ++half) {
        size_t pos = 6 + 3 * i + half;
        size_t v = pos < 32 ? 0 : 1;
        size_t offset = pos - avx2_load_at[v];
        size_t upper = offset < 16 ? 0 : 16;
        (half ? low : high)[v][upper + i] = static_cast<signed char>(offset - upper);
      }
    }
  }
};
constexpr Avx2Tables avx2_tables;

__attribute__((target("avx2"))) inline __m256i broadcast(const unsigned char* table) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table)));
}

__attribute__((target("avx2"))) inline bool decode_avx2(unsigned char* out,
                                                        const unsigned char* line) {
  const __m256i low_bits = _mm256_set1_epi8(0x0f);
  const __m256i upper_classes = broadcast(nibbles.upper);
  const __m256i lower_classes = broadcast(nibbles.lower);
  const __m256i add = broadcast(nibbles.add);
  __m256i high = _mm256_setzero_si256();
  __m256i low = _mm256_setzero_si256();
  // A position that lacks the class its shape expects leaves a zero here.
  __m256i least = _mm256_set1_epi8(-1);
  for (size_t v = 0; v < 2; ++v) {
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(line + avx2_load_at[v]));
    __m256i upper = _mm256_and_si256(_mm256_srli_epi16(c, 4), low_bits);
    __m256i lower = _mm256_and_si256(c, low_bits);
    __m256i classes = _mm256_and_si256(_mm256_shuffle_epi8(upper_classes, upper),
                                       _mm256_shuffle_epi8(lower_classes, lower));
    least = _mm256_min_epu8(
        least,
        _mm256_and_si256(
            classes, _mm256_load_si256(reinterpret_cast<const __m256i*>(avx2_tables.expect[v]))));
    __m256i value = _mm256_add_epi8(lower, _mm256_shuffle_epi8(add, upper));
    high = _mm256_or_si256(
        high, _mm256_shuffle_epi8(
                  value, _mm256_load_si256(reinterpret_cast<const __m256i*>(avx2_tables.high[v]))));
    low = _mm256_or_si256(
        low, _mm256_shuffle_epi8(
                 value, _mm256_load_si256(reinterpret_cast<const __m256i*>(avx2_tables.low[v]))));
  }
  // Values are below 16, so shifting 16-bit lanes moves no bit across bytes.
  __m256i digits = _mm256_or_si256(_mm256_slli_epi16(high, 4), low);
  __m128i bytes = _mm_or_si128(_mm256_castsi256_si128(digits), _mm256_extracti128_si256(digits, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
  return _mm256_movemask_epi8(_mm256_cmpeq_epi8(least, _mm256_setzero_si256())) == 0;
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
  const __mmask64 within = (uint64_t{1} << short_size(pairs)) - 1;
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

#endif

struct Decoders {
  bool (*line)(unsigned char*, const unsigned char*);
  bool (*short_line)(unsigned char*, const unsigned char*, size_t);
  size_t (*lines)(unsigned char*, size_t, const unsigned char*, size_t, size_t*);
};

Decoders decoders_for(Level level) {
#if defined(__x86_64__)
  if (level == Level::Avx512) return {decode_avx512, decode_short_avx512, lines_avx512};
  if (level == Level::Avx2) return {decode_avx2, decode_pairs, lines_avx2};
  if (level == Level::Ssse3) return {decode_ssse3, decode_pairs, lines_ssse3};
#endif
  (void)level;
  return {decode_scalar, decode_pairs, lines_scalar};
}

Decoders current = decoders_for(best_level());

}  // namespace

bool decode(unsigned char* out, const unsigned char* line) {
  return current.line(out, line);
}

bool decode_short(unsigned char* out, const unsigned char* line, size_t pairs) {
  return current.short_line(out, line, pairs);
}

size_t decode_lines(unsigned char* out, size_t max_lines, const unsigned char* data, size_t size,
                    size_t* used) {
  return current.lines(out, max_lines, data, size, used);
}

Level best_level() {
#if defined(__x86_64__)
  // The level is chosen while static objects are built, perhaps before the
  // runtime has read the processor's features by itself.
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("avx512vbmi"))
    return Level::Avx512;
  if (__builtin_cpu_supports("avx2")) return Level::Avx2;
  if (__builtin_cpu_supports("ssse3")) return Level::Ssse3;
#endif
  return Level::Scalar;
}

void use(Level level) {
  current = decoders_for(level);
}

}  // namespace hexline
