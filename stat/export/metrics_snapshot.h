#pragma once

#include <cstdint>
#include <iterator>
#include <vector>

#include "accumulator.h"

namespace caplat::stat {

// A quantile of the last closed interval that the exporter shows: as a
// percentile, and as the label Prometheus knows it by.
struct ExportedQuantile {
  double percentile;
  const char* label;
};

// The interval quantiles shown, the last one the interval's maximum.
inline constexpr ExportedQuantile exported_quantiles[] = {
    {50, "0.5"}, {99, "0.99"}, {99.9, "0.999"}, {100, "1"}};

// What the exporter shows at one moment of the reading, every figure from
// that moment, so that bucket counts, count and sum agree in every scrape.
struct MetricsSnapshot {
  // The number of interval quantiles shown.
  static constexpr size_t quantile_count = std::size(exported_quantiles);

  // Latencies from 0 to 1 hour per bucket, not cumulative: at i those at or
  // below bound i and above bound i - 1, the last entry those above every
  // bound; a latency of an interval log counts by the lowest value of its
  // range of the histogram.
  std::vector<int64_t> buckets;
  // The exact totals so far.
  Totals totals;
  // Lines skipped so far.
  int64_t skipped = 0;
  // Whether an interval has closed, and the last one's quantiles in ns, -1
  // where it had no latency from 0 to 1 hour.
  bool interval_closed = false;
  int64_t quantiles[quantile_count] = {};

  // Takes the counts of accumulator, between two of its runs, into buckets
  // of the increasing upper bounds in ns; the interval and the skipped lines
  // are left as they are.
  void take(const Accumulator& accumulator, const std::vector<int64_t>& bounds);

 private:
  void count(const Histogram& histogram, const std::vector<int64_t>& bounds);
};

}  // namespace caplat::stat
