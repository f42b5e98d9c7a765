#pragma once

#include <cstdint>

namespace caplat {

// Ten seconds in ns: a latency this long is stale or replayed data. caplat
// warns about a latency above it, as it always has; caplat-stat counts those
// from it on apart.
inline constexpr int64_t stale_ns = 10000000000;

}  // namespace caplat
