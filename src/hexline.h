#pragma once

#include <cstddef>

namespace caplat {

// Decodes the common shape of a hex dump line in one step: a four-digit
// offset, two spaces and sixteen byte pairs separated by single spaces, all
// hex digits lower case. Every other shape is left to the line-by-line rules.
namespace hexline {

// Bytes a canonical line occupies up to its last pair.
inline constexpr size_t canonical_size = 53;

// Instruction sets the decoder can use, slowest first.
enum class Level { Scalar, Ssse3, Avx2, Avx512 };

// Writes the 16 bytes of line to out if its first canonical_size bytes have the
// canonical shape; otherwise returns false, leaving out in an unspecified state.
bool decode(unsigned char* out, const unsigned char* line);

// Bytes a canonical line of that many pairs occupies up to its last pair; a
// payload's last line may hold fewer than sixteen.
constexpr size_t short_size(size_t pairs) {
  return 3 * pairs + 5;
}

// As decode for a canonical line of 1 to 16 pairs, writing that many bytes to the
// 16 at out; canonical_size bytes at line are read, of which only the first
// short_size(pairs) need be the line's.
bool decode_short(unsigned char* out, const unsigned char* line, size_t pairs);

// Decodes consecutive canonical lines at the start of the size bytes at data, each
// ended by a newline within its first piece_limit bytes, 16 bytes a line into out. Stops
// after max_lines lines or before any other line; returns the number decoded and
// sets used to the bytes they span.
size_t decode_lines(unsigned char* out, size_t max_lines, const unsigned char* data, size_t size,
                    size_t* used);

// The fastest level this processor supports.
Level best_level();

// Makes the decoders use level, which must be supported; they start at best_level().
void use(Level level);

}  // namespace hexline

}  // namespace caplat
