#pragma once

#include <algorithm>
#include <cstdint>

namespace caplat::stat {

// A 128-bit integer for exact sums; the extension keyword keeps -Wpedantic quiet.
__extension__ typedef __int128 int128;

// The counters of a window of latencies (an interval, a run, all input, those
// without receive times): the one list of them, and the one way to add two.
struct Counts {
  // Every latency counted.
  int64_t count = 0;
  // Latencies below zero; of 10 s or more (over 1 hour included); over 1 hour.
  int64_t negative = 0;
  int64_t stale = 0;
  int64_t over_hour = 0;
  // The largest latency, over 1 hour included (of a log's, the highest value
  // of its range); meaningless when count is 0.
  int64_t max = INT64_MIN;
  // The most negative latency; 0 when negative is 0.
  int64_t most_negative = 0;
  // The largest latency over 1 hour; 0 when over_hour is 0.
  int64_t max_over_hour = 0;
  // Sum and sum of squares of the latencies in range, exact in 128 bits
  // (overflow needs some 10^13 latencies of an hour).
  int128 sum = 0;
  int128 sum_squares = 0;

  // Adds the counts of other, as if its latencies had been counted here.
  void add(const Counts& other) {
    count += other.count;
    negative += other.negative;
    stale += other.stale;
    over_hour += other.over_hour;
    max = std::max(max, other.max);
    most_negative = std::min(most_negative, other.most_negative);
    max_over_hour = std::max(max_over_hour, other.max_over_hour);
    sum += other.sum;
    sum_squares += other.sum_squares;
  }
};

}  // namespace caplat::stat
