#include "hexline.h"

#include <cstdint>

#include "hexline_run.h"

namespace caplat {

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

size_t lines_scalar(unsigned char* out, size_t max_lines, const unsigned char* data, size_t size,
                    size_t* used) {
  return run<decode_scalar>(out, max_lines, data, size, used);
}

Decoders decoders_for(Level level) {
  Decoders vector;
  if (level != Level::Scalar && vector_decoders(level, &vector)) return vector;
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

}  // namespace caplat
