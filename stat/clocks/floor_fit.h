#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace caplat::stat {

// The least latency of a stretch of receive time: where it was received (ns
// from the first message, on the receive timeline), the latency (ns), and how
// many messages the stretch held.
struct FloorPoint {
  int64_t x;
  int64_t y;
  int64_t count;
};

// The floor under a run of points cut into segments at steps: one slope for
// all (ns of latency per ns of receive time) and one offset per segment, the
// floor of segment j at x being offsets[j] + slope * x.
struct FloorLine {
  double slope = 0;
  std::vector<double> offsets;
};

// Fits the floor under points, sorted by x, cut into segments that start at
// the indices in starts (the first 0, increasing): among the lines of one
// common slope, one offset a segment, that pass below every point of their
// segment, the one with the least total distance above it to every message;
// false when the points cannot fix a slope (no segment has two points).
bool fit_floor(const std::vector<FloorPoint>& points, const std::vector<size_t>& starts,
               FloorLine* line);

}  // namespace caplat::stat
