#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "counts.h"
#include "histogram.h"

namespace caplat::stat {

// What one closed interval of receive time held.
struct Interval : Counts {
  // Start of the interval, ns since the epoch, and its length in ns (the last
  // interval of time in 64 bits ends at its last nanosecond).
  uint64_t start;
  uint64_t length;
  // The histogram of the latencies in range; its min and max are exact for
  // latencies read one by one, and the ends of their ranges for those of a log.
  const Histogram& histogram;
};

// Takes each interval as it closes, in order, empty ones included.
class IntervalConsumer {
 public:
  virtual ~IntervalConsumer() = default;

  // Handles one closed interval; the histogram is valid during the call only.
  virtual void interval(const Interval& closed) = 0;
};

// An interval as a histogram log holds it: the counts of its histogram and of
// the latencies the histogram could not hold.
struct LogInterval {
  // Start, ns since the epoch, and length in ns.
  uint64_t start = 0;
  uint64_t length = 0;
  // The histogram's counts as (value, count), values from 0 to 1 hour in
  // increasing order, each the lowest of its range.
  const std::vector<std::pair<int64_t, int64_t>>* counts = nullptr;
  // Latencies below zero and the most negative one; over 1 hour and the largest.
  int64_t negative = 0;
  int64_t most_negative = 0;
  int64_t over_hour = 0;
  int64_t max_over_hour = 0;
};

}  // namespace caplat::stat
