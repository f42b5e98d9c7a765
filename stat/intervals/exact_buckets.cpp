#include "exact_buckets.h"

#include <algorithm>

namespace caplat::stat {

ExactBuckets::ExactBuckets(const Histogram& histogram)
    : histogram_(histogram), marked_(histogram.counts_size() / 64 + 1) {}

void ExactBuckets::set_bounds(const std::vector<int64_t>& bounds) {
  bounds_ = bounds;
  moved_.assign(bounds.size() + 1, 0);
  std::fill(marked_.begin(), marked_.end(), 0);
  for (int64_t bound : bounds) {
    if (bound >= histogram_.highest_trackable()) continue;
    // A bound at the top of its range leaves the whole range at or below it.
    if (histogram_.highest_equivalent(bound) == bound) continue;
    size_t index = histogram_.index_of(bound);
    marked_[index / 64] |= uint64_t{1} << (index % 64);
  }
}

void ExactBuckets::count(size_t index, int64_t latency) {
  // The histogram draws a range at the first bound at or above its lowest
  // value; the latency belongs at the first bound at or above itself.
  auto first_at_or_above = [&](int64_t value) {
    return static_cast<size_t>(std::lower_bound(bounds_.begin(), bounds_.end(), value) -
                               bounds_.begin());
  };
  size_t drawn = first_at_or_above(histogram_.value_at_index(index));
  size_t exact = first_at_or_above(latency);
  if (exact == drawn) return;
  --moved_[drawn];
  ++moved_[exact];
}

void ExactBuckets::correct(std::vector<int64_t>* buckets) const {
  for (size_t i = 0; i < moved_.size(); ++i) (*buckets)[i] += moved_[i];
}

}  // namespace caplat::stat
