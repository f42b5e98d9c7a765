#pragma once

#include <cstdint>

namespace caplat::stat {

// The length of the intervals: fixed, or, for the picture's own interval,
// doubled whenever more than most would cover the time since the first, and
// grown to any logged interval's, whose latencies it cannot split.
class IntervalLength {
 public:
  // Intervals of ns (none if 0); with a nonzero most, a length that grows.
  IntervalLength(uint64_t ns, int64_t most) : ns_(ns), most_(most) {}

  // The length in ns; 0 for no intervals.
  uint64_t ns() const { return ns_; }

  // True if the length never grows.
  bool fixed() const { return most_ == 0; }

  // Doubles a growing length until fewer than most intervals of it fit in
  // since_first ns, the time from the first interval's start to the next one's.
  void cover(uint64_t since_first) {
    while (most_ != 0 && since_first / ns_ >= static_cast<uint64_t>(most_)) ns_ *= 2;
  }

  // Grows a growing length to logged ns, if that is longer.
  void fit(uint64_t logged) {
    if (most_ != 0 && logged > ns_) ns_ = logged;
  }

 private:
  uint64_t ns_;
  int64_t most_;
};

}  // namespace caplat::stat
