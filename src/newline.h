#pragma once

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace caplat {

// The first newline among the n bytes at p, or null. Log lines are short, so
// an inline search beats a call to memchr, which is tuned for long runs; and
// without a call the dump line decoders keep their constants in registers.
inline const unsigned char* find_newline(const unsigned char* p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  if (n >= 16) {
    const __m128i newline = _mm_set1_epi8('\n');
    for (;; i += 16) {
      // The last sixteen bytes are looked at in one step, with some looked at
      // before, rather than one at a time.
      if (i + 16 > n) i = n - 16;
      __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      if (unsigned mask = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, newline)))
        return p + i + __builtin_ctz(mask);
      if (i + 16 == n) return nullptr;
    }
  }
#endif
  for (; i < n; ++i) {
    if (p[i] == '\n') return p + i;
  }
  return nullptr;
}

// The longest text fgets returns from a 20,000-byte buffer.
inline constexpr size_t piece_limit = 19999;

// The newline that ends the piece starting at p, or null if it is not among the
// bytes up to end.
inline const unsigned char* find_piece_end(const unsigned char* p, const unsigned char* end) {
  auto left = static_cast<size_t>(end - p);
  return find_newline(p, left < piece_limit ? left : piece_limit);
}

}  // namespace caplat
