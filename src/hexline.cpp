#include "hexline.h"

#include <cstdint>

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

bool decode_scalar(unsigned char* out, const unsigned char* line) {
  // Invalid digits have the high bits of their table value set.
  unsigned digits = hex.value[line[0]] | hex.value[line[1]] | hex.value[line[2]] |
                    hex.value[line[3]];
  unsigned spaces = (line[4] ^ ' ') | (line[5] ^ ' ');
  for (int i = 0; i < 16; ++i) {
    const unsigned char* p = line + 6 + 3 * i;
    unsigned high = hex.value[p[0]];
    unsigned low = hex.value[p[1]];
    digits |= high | low;
    if (i < 15) spaces |= p[2] ^ ' ';
    out[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return (digits & 0xf0) == 0 && spaces == 0;
}

#if defined(__x86_64__)

// Positions of a canonical line: 'h' a hex digit, ' ' a space.
constexpr char shape[] = "hhhh  hh hh hh hh hh hh hh hh hh hh hh hh hh hh hh hh";
static_assert(sizeof shape - 1 == canonical_size);

// Lane masks and shuffles for the four 16-byte loads at these offsets; the last
// load overlaps the third so that no byte past the line is read.
constexpr int load_at[4] = {0, 16, 32, 37};

struct Tables {
  alignas(16) signed char hex_lane[4][16];
  alignas(16) signed char space_lane[4][16];
  alignas(16) signed char high[4][16];
  alignas(16) signed char low[4][16];
  constexpr Tables() : hex_lane(), space_lane(), high(), low() {
    for (int v = 0; v < 4; ++v) {
      for (int lane = 0; lane < 16; ++lane) {
        char c = shape[load_at[v] + lane];
        hex_lane[v][lane] = c == 'h' ? -1 : 0;
        space_lane[v][lane] = c == ' ' ? -1 : 0;
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

__attribute__((target("ssse3"))) bool decode_ssse3(unsigned char* out,
                                                   const unsigned char* line) {
  const __m128i zero_char = _mm_set1_epi8('0');
  const __m128i a_char = _mm_set1_epi8('a');
  const __m128i a_less_ten = _mm_set1_epi8('a' - 10);
  const __m128i five = _mm_set1_epi8(5);
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i space = _mm_set1_epi8(' ');
  __m128i high = _mm_setzero_si128();
  __m128i low = _mm_setzero_si128();
  int ok = 0xffff;
  for (int v = 0; v < 4; ++v) {
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + load_at[v]));
    // A digit has c - '0' in 0..9 and a letter c - 'a' in 0..5, as unsigned bytes.
    __m128i digit = _mm_sub_epi8(c, zero_char);
    __m128i letter = _mm_sub_epi8(c, a_char);
    __m128i is_hex = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(digit, nine), digit),
                                  _mm_cmpeq_epi8(_mm_min_epu8(letter, five), letter));
    // For a digit, c - ('a' - 10) wraps above 200; for a letter, c - '0' is above 48.
    __m128i value = _mm_min_epu8(digit, _mm_sub_epi8(c, a_less_ten));
    __m128i is_space = _mm_cmpeq_epi8(c, space);
    __m128i good = _mm_or_si128(
        _mm_and_si128(is_hex, _mm_load_si128(reinterpret_cast<const __m128i*>(tables.hex_lane[v]))),
        _mm_and_si128(is_space,
                      _mm_load_si128(reinterpret_cast<const __m128i*>(tables.space_lane[v]))));
    ok &= _mm_movemask_epi8(good);
    high = _mm_or_si128(high, _mm_shuffle_epi8(value, _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                          tables.high[v]))));
    low = _mm_or_si128(low, _mm_shuffle_epi8(value, _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                        tables.low[v]))));
  }
  // Values are below 16, so shifting 16-bit lanes moves no bit across bytes.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(_mm_slli_epi16(high, 4), low));
  return ok == 0xffff;
}

#endif

using Decoder = bool (*)(unsigned char*, const unsigned char*);

Decoder decoder_for(Level level) {
#if defined(__x86_64__)
  if (level != Level::Scalar) return decode_ssse3;
#endif
  (void)level;
  return decode_scalar;
}

Decoder current = decoder_for(best_level());

}  // namespace

bool decode(unsigned char* out, const unsigned char* line) { return current(out, line); }

Level best_level() {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("ssse3")) return Level::Ssse3;
#endif
  return Level::Scalar;
}

void use(Level level) { current = decoder_for(level); }

}  // namespace hexline
