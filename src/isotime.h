#pragma once

#include <cstdint>

namespace caplat {

// Reads ISO-8601 UTC times such as 2023-11-14T22:13:20.123456Z into
// nanoseconds since the epoch.
namespace isotime {

// Reads text as the C library's sscanf and timegm do, taking the usual
// fixed-width shape without them; true on success.
bool parse(uint64_t* ns, const char* text);

// The same through sscanf and timegm alone, for every shape they accept.
bool parse_scanf(uint64_t* ns, const char* text);

}  // namespace isotime

}  // namespace caplat
