#pragma once

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The first occurrence of key, a NUL-terminated text of at least two bytes, in
// the size bytes at text, which a NUL byte follows; the search ends at the first
// NUL, as strstr's does. Payloads are short and the key sits near their start,
// so sixteen places are tried at once for its first two bytes, where strstr
// would first measure the key and prepare its search.
inline const char* find_key(const char* text, size_t size, const char* key) {
#if defined(__SSE2__)
  if (size >= 16) {
    const __m128i first = _mm_set1_epi8(key[0]);
    const __m128i second = _mm_set1_epi8(key[1]);
    const __m128i nul = _mm_setzero_si128();
    for (size_t i = 0;; i += 16) {
      // A payload that lacks the key is searched to its end, so the last
      // sixteen places are tried in one step, some of them tried before.
      if (i + 16 > size) i = size - 16;
      // Both loads end at most at the NUL after the text.
      __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
      __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 1));
      unsigned starts = _mm_movemask_epi8(
          _mm_and_si128(_mm_cmpeq_epi8(here, first), _mm_cmpeq_epi8(next, second)));
      unsigned nuls = _mm_movemask_epi8(_mm_cmpeq_epi8(here, nul));
      // Places past a NUL are not searched; a match that runs into it fails below.
      if (nuls != 0) starts &= (nuls & -nuls) - 1;
      for (; starts != 0; starts &= starts - 1) {
        const char* start = text + i + __builtin_ctz(starts);
        // The NUL that ends the text ends a mismatch, so no byte past it is read.
        size_t n = 2;
        while (key[n] != 0 && start[n] == key[n]) ++n;
        if (key[n] == 0) return start;
      }
      if (nuls != 0 || i + 16 == size) return nullptr;
    }
  }
#endif
  return strstr(text, key);
}
