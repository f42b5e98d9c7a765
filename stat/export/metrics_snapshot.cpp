#include "metrics_snapshot.h"

namespace caplat::stat {

void MetricsSnapshot::take(const Accumulator& accumulator, const std::vector<int64_t>& bounds) {
  totals = accumulator.totals_so_far();
  buckets.assign(bounds.size() + 1, 0);
  count(accumulator.histogram(), bounds);
  if (const Histogram* open = accumulator.open_histogram()) count(*open, bounds);
  accumulator.exact_buckets().correct(&buckets);
}

void MetricsSnapshot::count(const Histogram& histogram, const std::vector<int64_t>& bounds) {
  // The histogram's ranges and the bounds both increase: one walk over the
  // ranges that hold a count places each in its bucket by its lowest value.
  // The latencies read one by one are then moved where they belong; those of
  // interval logs, known to their ranges only, stay.
  size_t bucket = 0;
  histogram.for_each_count([&](size_t index, int64_t n) {
    int64_t lowest = histogram.value_at_index(index);
    while (bucket < bounds.size() && bounds[bucket] < lowest) ++bucket;
    buckets[bucket] += n;
    return true;
  });
}

}  // namespace caplat::stat
