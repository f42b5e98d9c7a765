#pragma once

#include <cstdint>
#include <optional>

#include "histogram.h"

namespace caplat::stat {

// How sure a figure is: the bounds of its confidence interval in ns, each
// known or not, and, where one is missing, why.
struct Bounds {
  // The lower and the upper bound, where the data give one.
  std::optional<int64_t> low;
  std::optional<int64_t> high;
  // Without both: the fewest messages that give both (0: no number does).
  int64_t needs = 0;
  // True for a mean whose latencies have a tail too heavy for an interval.
  bool heavy_tail = false;

  // True if both bounds are known.
  bool known() const { return low.has_value() && high.has_value(); }
};

// The ranks, from 1, of the order statistics that bound a quantile: low is 0
// where no value is low enough, high is n + 1 where none is high enough.
struct Ranks {
  int64_t low = 0;
  int64_t high = 0;
};

// Confidence intervals at one level, assuming independent latencies. For a
// percentile, order statistics whose ranks are exact binomial quantiles, so
// that each interval holds the quantile with at least the level's probability
// whatever the distribution and the count. For the mean, Student's t corrected
// for skewness, from a count on, where the tail is light enough.
class Confidence {
 public:
  // The fewest latencies whose mean has an interval: below, the interval of
  // log-normal latencies (sigma 0.8) held the mean less than 94 times in 100.
  static constexpr int64_t mean_needs = 150;

  // Intervals at level, a fraction strictly between 0 and 1.
  explicit Confidence(double level);

  // The ranks of n values that bound the quantile q (0..1): low the largest
  // with P(B < low) <= alpha / 2 and high the smallest with P(B >= high) <=
  // alpha / 2, where B ~ Binomial(n, q) counts the values at or below it.
  Ranks ranks(int64_t n, double q) const;

  // The fewest values whose quantile q has both bounds; 0 if none has.
  int64_t needs(double q) const;

  // The interval of percentile (0..100) of the values histogram holds: from
  // the lowest value of the range that holds the low rank to the highest of
  // the range that holds the high one, never beyond the min and max.
  Bounds percentile(const Histogram& histogram, double percentile) const;

  // The interval of the mean of the n values histogram holds, with their
  // exact mean and sample deviation in ns.
  Bounds mean(const Histogram& histogram, double mean, double deviation) const;

 private:
  double alpha_;
  // The standard normal quantile of 1 - alpha / 2.
  double z_;
};

// What a figure did against its baseline: higher or lower where a bound of
// one lies beyond the other's bound on that side; the same where the bounds
// compared show no difference; unknown where no bound can be compared.
enum class Verdict { Unknown, Same, Higher, Lower };

// The verdict on a figure whose intervals were baseline and run.
Verdict verdict(const Bounds& baseline, const Bounds& run);

// The verdict's name: "unknown", "same", "higher" or "lower".
const char* verdict_name(Verdict verdict);

// The extreme value index of the upper tail of the values histogram holds,
// from the excesses of its 2 sqrt(n) largest over the median: below zero for
// tails that end, about zero for exponential-like ones, 1 / a for a power
// tail of index a (whose variance is infinite for a <= 2); minus infinity
// where no value lies far enough above the median to tell.
double tail_index(const Histogram& histogram);

}  // namespace caplat::stat
