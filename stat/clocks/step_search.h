#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <vector>

#include "floor_fit.h"

namespace caplat::stat {

// The noise of the floor under points at a width of window messages: the
// median difference between the least heights above the slope of
// neighbouring runs of window messages that do not overlap (so that a step
// moves one difference only), absent when the points hold too few runs.
std::optional<double> floor_noise(const std::vector<FloorPoint>& points, double slope,
                                  int64_t window);

// Messages in the narrowest windows whose least latencies are compared where
// a step may be (the definition says how it was chosen).
extern const int64_t step_window;

// Messages at least between a step and the next, or an end of the input.
extern const int64_t step_stretch;

// Messages needed to look for steps: enough narrow windows to measure the
// noise.
extern const int64_t least_step_messages;

// The most steps reported for one input, more being a floor that wanders
// rather than a clock that was set.
inline constexpr size_t max_steps = 64;

// A step found, by indices of points: the first after it for the fit (no
// point before it is below the floor after it for a step up, none after it
// below the floor before it for a step down), the first after where the points
// cross the middle of the two floors (the best guess of its place), and the
// first and last of the points around it where it may be.
struct FoundStep {
  size_t start;
  size_t crossing;
  size_t from;
  size_t to;
};

// The starts of the segments cut at steps, each with the index of its first
// point after it as start: 0, then those.
template <typename Step>
std::vector<size_t> starts_of(const std::vector<Step>& steps) {
  std::vector<size_t> starts{0};
  std::transform(steps.begin(), steps.end(), std::back_inserter(starts),
                 [](const Step& step) { return step.start; });
  return starts;
}

// The steps found in order, and the floor fitted with them; too_many when
// more than max_steps were found.
struct StepSearch {
  std::vector<FoundStep> steps;
  FloorLine line;
  bool too_many = false;
};

// The steps of the floor under points (sorted by x), the slope removed:
// places where the least latency of the messages before differs from that of
// the messages after by more than the noise allows, and still does over the
// whole stretches up to the neighbouring steps; false when the points cannot
// fix a slope with the steps found.
bool find_steps(const std::vector<FloorPoint>& points, double slope, StepSearch* search);

}  // namespace caplat::stat
