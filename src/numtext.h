#pragma once

#include <cstdint>

// Decimal text of the numbers caplat prints, written without stdio's
// format parsing: each returns the end of what it wrote.
namespace numtext {

// Writes v in decimal, as "%llu" does.
char* u64(char* out, uint64_t v);

// Writes (double)d * 1e-6 with six decimals, as "%.6f" does.
char* latency(char* out, int64_t d);

}  // namespace numtext
