#pragma once

#include <cstdint>

#include "histogram.h"

namespace caplat::stat {

// How sure a figure is: the bounds of its confidence interval in ns, or,
// where the messages are too few for one, how many it needs.
struct Bounds {
  // True if the interval exists.
  bool known = false;
  int64_t low = 0;
  int64_t high = 0;
  // Without an interval: the fewest messages that give one (0: no number
  // does, as for p0 and p100).
  int64_t needs = 0;
};

// The ranks, from 1, of the order statistics that bound a quantile.
struct Ranks {
  // True if both ranks lie within the data.
  bool known = false;
  int64_t low = 0;
  int64_t high = 0;
};

// Distribution-free confidence intervals at one level: for a percentile, the
// order statistics whose ranks are the alpha/2 and 1 - alpha/2 quantiles of
// Binomial(n, p), by the normal approximation where n p (1 - p) is large and
// exactly below, known only where neither is the smallest or largest value;
// for the mean, mean +- z sd / sqrt(n). Both assume independent latencies.
class Confidence {
 public:
  // Intervals at level, a fraction strictly between 0 and 1.
  explicit Confidence(double level);

  // The ranks, from 1, that bound the quantile q (0..1) of n values.
  Ranks ranks(int64_t n, double q) const;

  // The fewest values whose quantile q has an interval; 0 if none has.
  int64_t needs(double q) const;

  // The interval of percentile (0..100) of the values histogram holds: from
  // the lowest value of the range that holds the low rank to the highest of
  // the range that holds the high one, never beyond the min and max.
  Bounds percentile(const Histogram& histogram, double percentile) const;

  // The interval of a mean of n values with the given deviation, in ns.
  Bounds mean(double mean, double deviation, int64_t n) const;

 private:
  double alpha_;
  // The standard normal quantile of 1 - alpha / 2.
  double z_;
};

// What a figure did against its baseline: higher or lower only where the two
// intervals do not overlap, else the same.
enum class Verdict { Same, Higher, Lower };

// The verdict on a figure whose intervals were baseline and run; the same
// where either is not known.
Verdict verdict(const Bounds& baseline, const Bounds& run);

// The verdict's name: "same", "higher" or "lower".
const char* verdict_name(Verdict verdict);

// The standard normal quantile of p, 0 < p < 1.
double normal_quantile(double p);

}  // namespace caplat::stat
