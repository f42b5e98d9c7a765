#pragma once

#include <cstddef>

#include "hexline.h"
#include "newline.h"

namespace caplat {

// What the dump line decoders of every instruction level share: the loop
// around one level's line decoder, and the set of one level's decoders.
namespace hexline {

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

struct Decoders {
  bool (*line)(unsigned char*, const unsigned char*);
  bool (*short_line)(unsigned char*, const unsigned char*, size_t);
  size_t (*lines)(unsigned char*, size_t, const unsigned char*, size_t, size_t*);
};

// Sets decoders to the vector decoders of level (Ssse3, Avx2 or Avx512);
// false where this build has none.
bool vector_decoders(Level level, Decoders* decoders);

}  // namespace hexline

}  // namespace caplat
