#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "interval.h"
#include "totals.h"
#include "checked_writer.h"
#include "clock_estimate.h"
#include "confidence.h"
#include "units.h"

namespace caplat::stat {

class Canvas;
class LogAxis;
class PercentileAxis;

// Draws the picture of a run as a self-contained SVG: the percentile curve
// (latency against 1/(1-p) on a log axis) with p50, p99 and p99.9 marked and,
// when the input had receive times, p50, p99 and max per interval over time
// above the messages per interval. It keeps one small row per interval, and
// merges neighbours in pairs once there are too many.
class SvgWriter : public IntervalConsumer {
 public:
  // Labels latencies in unit, names inputs in the title and, if there is a
  // baseline, baseline_inputs beside its curve; range_label names the
  // latencies the curves describe.
  SvgWriter(const Unit& unit, std::vector<std::string> inputs,
            std::vector<std::string> baseline_inputs, std::string range_label);

  // Keeps the row of closed, merged into the last row if rows were merged.
  void interval(const Interval& closed) override;

  // Draws the floor of each input's clocks over time, and marks its steps:
  // as estimated, or flat at its first value where deskewed; clocks must
  // outlive the last write.
  void show_clocks(const std::vector<InputClock>* clocks, bool deskewed) {
    clocks_ = clocks;
    deskewed_ = deskewed;
  }

  // Writes the picture of histogram and totals, with the rows kept, to out;
  // the marked percentiles with their intervals from confidence and, if
  // baseline is not null, its curve beneath and the marks' verdicts.
  void write(const Histogram& histogram, const Totals& totals, const Confidence& confidence,
             const Histogram* baseline, CheckedWriter* out) const;

 private:
  // One interval or a run of merged ones: p50 and p99 are -1 when the interval
  // had no latency from 0 to 1 hour, max when it had none; a merged row takes
  // the larger of each.
  struct Row {
    uint64_t start;
    int64_t count;
    int64_t p50;
    int64_t p99;
    int64_t max;
  };

  void merge_pairs();
  void draw_title(Canvas* canvas, const Histogram& histogram, const Totals& totals) const;
  // A percentile marked on the curve.
  struct Mark {
    const char* name;
    int64_t value;
    Bounds bounds;
    Verdict verdict;
  };

  // The nines of the percentile axis: enough for the larger count.
  static int nines_of(const Histogram& histogram, const Histogram* baseline);
  void draw_percentiles(Canvas* canvas, const Histogram& histogram, const Histogram* baseline,
                        const Confidence& confidence, const PercentileAxis& percentiles,
                        double top) const;
  void draw_change(Canvas* canvas, const Histogram& histogram, const Histogram& baseline,
                   const Confidence& confidence, const PercentileAxis& percentiles,
                   double top) const;
  void draw_mark(Canvas* canvas, const Mark& mark, double x, const LogAxis& axis) const;
  void draw_over_time(Canvas* canvas, double top) const;
  // The points of each input's floor over time, and the steps as (receive
  // time, size), in ns.
  std::vector<std::vector<std::pair<uint64_t, int64_t>>> floors() const;
  std::vector<std::pair<uint64_t, int64_t>> clock_steps() const;
  void draw_floors(Canvas* canvas, const LogAxis& axis, double top, double bottom) const;
  void draw_counts(Canvas* canvas, double top) const;
  // The x of time t ns after the first row's start.
  double time_x(double t) const;

  const Unit& unit_;
  std::vector<std::string> inputs_;
  std::vector<std::string> baseline_inputs_;
  std::string range_label_;
  std::vector<Row> rows_;
  // The length of a row: the interval's, doubled at each merge.
  uint64_t row_length_ = 0;
  const std::vector<InputClock>* clocks_ = nullptr;
  bool deskewed_ = false;
};

}  // namespace caplat::stat
