#pragma once

#include <cstddef>

// Decodes the common shape of a hex dump line in one step: a four-digit
// offset, two spaces and sixteen byte pairs separated by single spaces, all
// hex digits lower case. Every other shape is left to the line-by-line rules.
namespace hexline {

// Bytes a canonical line occupies up to its last pair.
inline constexpr size_t canonical_size = 53;

// Instruction sets the decoder can use, slowest first.
enum class Level { Scalar, Ssse3 };

// Writes the 16 bytes of line to out if its first canonical_size bytes have the
// canonical shape; otherwise returns false, leaving out in an unspecified state.
bool decode(unsigned char* out, const unsigned char* line);

// The fastest level this processor supports.
Level best_level();

// Makes decode use level, which must be supported; decode starts at best_level().
void use(Level level);

}  // namespace hexline
