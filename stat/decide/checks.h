#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "interval.h"
#include "confidence.h"
#include "figures.h"
#include "histogram.h"
#include "units.h"

namespace caplat::stat {

// What the checks of one input read: its figures and its histogram.
struct Subject {
  const Figures& figures;
  const Histogram& histogram;
};

// A figure that checks name, defined once: every check reads it from here.
struct CheckFigure {
  // The name in a check; "p" is followed by a percentile.
  std::string_view name;
  // True for a latency in ns, false for a count.
  bool latency;
  // True for counts of latencies that may be given as a share of the count.
  bool shares;
  // True for figures with a confidence interval, hence a verdict.
  bool judged;
  // Sets *value to the figure of the whole run, with its interval if judged,
  // for percentile (0..100); false where the run has no such figure.
  bool (*of_run)(const Subject& run, double percentile, const Confidence& confidence,
                 Figure* value);
  // Sets *value to the figure of one closed interval; false where it has no
  // such figure. Null for a figure not known per interval.
  bool (*of_interval)(const Interval& closed, double percentile, int64_t* value);
};

// One --check: a figure of the run (or of every interval) against a bound, a
// multiple of the baseline's figure, or a verdict against the baseline.
struct Check {
  enum Op { Less, AtMost, Greater, AtLeast, Equal, NotEqual, NotHigher, NotLower };
  enum Bound { Value, Share, Baseline };

  // The expression as given.
  std::string text;
  // True for interval.FIGURE, checked in every interval.
  bool per_interval = false;
  const CheckFigure* figure = nullptr;
  // For a percentile: as given and as a number.
  std::string percentile_text;
  double percentile = 0;
  Op op = AtMost;
  Bound bound = Value;
  // Value: a latency in ns or a count, compared exactly.
  int64_t value = 0;
  // Share: a percentage of the count.
  double percent = 0;
  // Baseline: a factor of the baseline's figure.
  double factor = 0;

  // The figure's name as the check reports it: "p99", "max".
  std::string figure_name() const;
};

// Reads text as a check; returns what is wrong with it, or an empty string.
std::string parse_check(const char* text, Check* check);

// Evaluates checks: those of intervals as each interval closes, the others at
// the end, and reports each on standard error as "caplat-stat: check EXPR:
// passed|failed, ...", latencies in unit.
class Checker : public IntervalConsumer {
 public:
  // Checks checks, which must outlive the checker, with intervals from
  // confidence; range_label names the latencies the figures describe.
  Checker(const std::vector<Check>& checks, const Unit& unit, const Confidence& confidence,
          std::string range_label);

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
    // The first failure's value, or none where the interval had no such figure.
    bool first_has_value = false;
    int64_t first_value = 0;
  };

  bool report_interval(const Check& check, const Tally& tally) const;
  bool report_run(const Check& check, const Subject& run, const Subject* baseline) const;

  const std::vector<Check>& checks_;
  const Unit& unit_;
  const Confidence& confidence_;
  std::string range_label_;
  std::vector<Tally> tallies_;
};

}  // namespace caplat::stat
