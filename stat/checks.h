#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "accumulator.h"
#include "confidence.h"
#include "figures.h"
#include "histogram.h"
#include "units.h"

namespace caplat::stat {

// One --check: a figure of the run (or of every interval) against a bound, a
// multiple of the baseline's figure, or a verdict against the baseline.
struct Check {
  enum Metric { Percentile, Min, Mean, Max, Count, Negative, Stale, OverHour, Skipped };
  enum Op { Less, AtMost, Greater, AtLeast, Equal, NotEqual, NotHigher, NotLower };
  enum Bound { Value, Share, Baseline };

  // The expression as given.
  std::string text;
  // True for interval.METRIC, checked in every interval.
  bool per_interval = false;
  Metric metric = Count;
  // For Percentile: as given and as a number.
  std::string percentile_text;
  double percentile = 0;
  Op op = AtMost;
  // The bound: a latency in ns or a count (Value), a percentage of the count
  // (Share), or a factor of the baseline's figure (Baseline).
  Bound bound = Value;
  int64_t value = 0;
  double factor = 0;

  // True for the metrics that are latencies.
  bool latency() const {
    return metric == Percentile || metric == Min || metric == Mean || metric == Max;
  }
};

// Reads text as a check; returns nullptr, or what is wrong with it.
const char* parse_check(const char* text, Check* check);

// What the checks of one input read: its figures and its histogram.
struct Subject {
  const Figures& figures;
  const Histogram& histogram;
};

// Evaluates checks: those of intervals as each interval closes, the others at
// the end, and reports each on standard error as "caplat-stat: check EXPR:
// passed|failed, ...", latencies in unit.
class Checker : public IntervalConsumer {
 public:
  // Checks checks, which must outlive the checker, with intervals from confidence.
  Checker(const std::vector<Check>& checks, const Unit& unit, const Confidence& confidence);

  // Checks the interval checks against closed.
  void interval(const Interval& closed) override;

  // Checks the others against run and, where they need one, baseline (null
  // if none), reports every check, and returns true if all passed.
  bool report(const Subject& run, const Subject* baseline);

 private:
  // What an interval check found: intervals seen, failed, and the first failure.
  struct Tally {
    int64_t seen = 0;
    int64_t failed = 0;
    uint64_t first_start = 0;
    int64_t first_value = 0;
  };

  bool report_interval(const Check& check, const Tally& tally) const;
  bool report_run(const Check& check, const Subject& run, const Subject* baseline) const;

  const std::vector<Check>& checks_;
  const Unit& unit_;
  const Confidence& confidence_;
  std::vector<Tally> tallies_;
};

}  // namespace caplat::stat
