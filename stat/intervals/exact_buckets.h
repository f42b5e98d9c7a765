#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "histogram.h"

namespace caplat::stat {

// Keeps the exporter's bucket counts of latencies read one by one exact: a
// histogram places a latency by its range, and where a range holds a bucket's
// bound below its highest value, the latencies above the bound belong to a
// later bucket. Only those few ranges are marked, so that the hot loop pays
// one test of a bit per latency.
class ExactBuckets {
 public:
  // Marks nothing: every bucket is as the histogram draws it.
  explicit ExactBuckets(const Histogram& histogram);

  // Marks the ranges of histograms shaped as the one given that hold one of
  // bounds (increasing, in ns) below their highest value.
  void set_bounds(const std::vector<int64_t>& bounds);

  // One bit per index of the histogram, set for a marked range.
  const uint64_t* marked() const { return marked_.data(); }

  // Counts latency, of the marked range at index, in the bucket it belongs to.
  void count(size_t index, int64_t latency);

  // Moves the latencies counted here from the buckets the histogram draws
  // them in (one per bound, then the one above every bound, not cumulative)
  // to those they belong to.
  void correct(std::vector<int64_t>* buckets) const;

 private:
  const Histogram& histogram_;
  std::vector<int64_t> bounds_;
  std::vector<uint64_t> marked_;
  // Per bucket, the latencies moved into it less those moved out.
  std::vector<int64_t> moved_;
};

}  // namespace caplat::stat
