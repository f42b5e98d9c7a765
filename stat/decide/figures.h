#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "totals.h"
#include "clock_estimate.h"
#include "confidence.h"
#include "units.h"

namespace caplat::stat {

// A percentile asked for, as given ("99.9") and as a number.
struct Percentile {
  // As given, for labels and keys.
  std::string text;
  // As a number, from 0 to 100.
  double value;
};

// Reads a comma-separated list of percentiles from 0 to 100, each once; false
// if any is not a plain decimal number in that range.
bool parse_percentiles(const char* text, std::vector<Percentile>* list);

// A figure of the summary, a latency in ns or a count, and the confidence
// interval of a latency.
struct Figure {
  int64_t value = 0;
  Bounds bounds;
};

// The interval of bounds as the summary and the checks print it, in unit:
// "[low, high]", or in parentheses the bound known and the messages needed
// for both, or why there is none; empty where nothing is to be said.
std::string bounds_text(const Bounds& bounds, const Unit& unit);

// The verdict on a run's figure against its baseline's.
inline Verdict verdict_of(const Figure& baseline, const Figure& run) {
  return verdict(baseline.bounds, run.bounds);
}

// Everything a summary of one input tells, computed once at the end: the
// summary, JSON, the comparison with a baseline and the checks all read it.
struct Figures {
  // Every latency; those with receive times; those in range, which the
  // latencies below describe (when there are any).
  int64_t count = 0;
  int64_t timed = 0;
  LatencyRange range;
  int64_t in_range = 0;
  // The span of the receive times and the messages per second over it, in
  // tenths, when known.
  bool have_span = false;
  uint64_t span_ns = 0;
  bool have_rate = false;
  int64_t rate_tenths = 0;
  int64_t min = 0;
  int64_t max = 0;
  // The mean in ns and in thousandths of a ns, each rounded, with its
  // interval, and the population's standard deviation in thousandths of a ns.
  Figure mean;
  int64_t mean_milli = 0;
  int64_t deviation_milli = 0;
  // The percentiles asked for, in order.
  std::vector<Percentile> names;
  std::vector<Figure> percentiles;
  int64_t negative = 0;
  int64_t most_negative = 0;
  int64_t stale = 0;
  int64_t over_hour = 0;
  int64_t max_over_hour = 0;
  int64_t skipped = 0;
  int digits = 0;
  // True if the latencies were read with the drift and steps of their clocks
  // removed (--deskew).
  bool deskewed = false;
  // The clocks of each input, where --clock asks for them.
  bool clocks_shown = false;
  std::vector<InputClock> clocks;
};

// The figures of totals and histogram (of the latencies in range), with
// intervals from confidence.
Figures figures_of(const Totals& totals, const Histogram& histogram,
                   const std::vector<Percentile>& percentiles, const LatencyRange& range,
                   int64_t skipped, const Confidence& confidence);

// n / d rounded half up, for n >= 0 and d > 0.
int64_t rounded_quotient(int128 n, int128 d);

}  // namespace caplat::stat
