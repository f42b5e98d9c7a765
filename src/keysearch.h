#pragma once

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace caplat {

// The first occurrence of key, a NUL-terminated text of at least two bytes, in
// the size bytes at text, which a NUL byte follows; the search ends at the first
// NUL, as strstr's does. Payloads are short and the key sits near their start,
// so 32 places are tried at once for its first two bytes, where strstr
// would first measure the key and prepare its search.
inline const char* find_key(const char* text, size_t size, const char* key) {
#if defined(__SSE2__)
  if (size >= 16) {
    const __m128i first = _mm_set1_epi8(key[0]);
    const __m128i second = _mm_set1_epi8(key[1]);
    // Each step tries 32 places, in two halves; in a text under 32 bytes the
    // second half overlaps the first.
    const size_t half = size < 32 ? size - 16 : 16;
    // The least byte seen so far: a NUL matters only before a match, so it is
    // looked for once one is found, not at every step.
    __m128i least = _mm_set1_epi8(-1);
    for (size_t i = 0;; i += 32) {
      // A payload that lacks the key is searched to its end, so its last
      // places are tried in one step, some of them tried before.
      if (i + 32 > size) i = size < 32 ? 0 : size - 32;
      // The loads end at most at the NUL after the text.
      const char* p = text + i;
      __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + half));
      __m128i low_next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
      __m128i high_next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + half + 1));
      least = _mm_min_epu8(least, _mm_min_epu8(low, high));
      auto low_starts = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_and_si128(_mm_cmpeq_epi8(low, first), _mm_cmpeq_epi8(low_next, second))));
      auto high_starts = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_and_si128(_mm_cmpeq_epi8(high, first), _mm_cmpeq_epi8(high_next, second))));
      unsigned starts = low_starts | high_starts << half;
      for (; starts != 0; starts &= starts - 1) {
        const char* start = p + __builtin_ctz(starts);
        // The NUL that ends the text ends a mismatch, so no byte past it is read.
        size_t n = 2;
        while (key[n] != 0 && start[n] == key[n]) ++n;
        if (key[n] != 0) continue;
        // The first match counts unless a NUL ends the text before it.
        bool nul = _mm_movemask_epi8(_mm_cmpeq_epi8(least, _mm_setzero_si128())) != 0 &&
                   memchr(text, 0, start - text) != nullptr;
        return nul ? nullptr : start;
      }
      if (i + 32 >= size) return nullptr;
    }
  }
#endif
  return strstr(text, key);
}

}  // namespace caplat
