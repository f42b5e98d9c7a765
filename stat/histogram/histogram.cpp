#include "histogram.h"

#include <algorithm>
#include <cmath>

namespace caplat::stat {

namespace {

// The smallest number of significant digits kept, and the largest.
constexpr int min_digits = 1;
constexpr int max_digits = 5;

int floor_log2(uint64_t v) {
  return 63 - __builtin_clzll(v);
}

}  // namespace

bool Histogram::layout_of(int64_t lowest, int64_t highest, int64_t digits, Layout* layout) {
  if (lowest < 1 || highest / 2 < lowest || digits < 0 || digits > max_digits) return false;
  // The first bucket must hold 2 * 10^digits values at unit resolution, so that
  // every value keeps its digits; its sub-bucket count is the power of two that
  // holds them.
  int64_t single_unit_range = 2;
  for (int64_t i = 0; i < digits; ++i) single_unit_range *= 10;
  int count_magnitude = floor_log2(static_cast<uint64_t>(single_unit_range - 1)) + 1;
  layout->unit_magnitude = floor_log2(static_cast<uint64_t>(lowest));
  layout->half_count_magnitude = std::max(count_magnitude, 1) - 1;
  if (layout->unit_magnitude + layout->half_count_magnitude > 61) return false;
  int64_t untrackable = int64_t{2} << (layout->half_count_magnitude + layout->unit_magnitude);
  layout->bucket_count = 1;
  while (untrackable <= highest) {
    if (untrackable > INT64_MAX / 2) {
      ++layout->bucket_count;
      break;
    }
    untrackable <<= 1;
    ++layout->bucket_count;
  }
  layout->size = static_cast<size_t>(layout->bucket_count + 1) << layout->half_count_magnitude;
  return true;
}

bool Histogram::valid(int64_t lowest, int64_t highest, int digits) {
  Layout layout{};
  return digits >= min_digits && layout_of(lowest, highest, digits, &layout);
}

Histogram::Histogram(int64_t lowest, int64_t highest, int digits)
    : lowest_(lowest), highest_(highest), digits_(digits) {
  Layout layout{};
  layout_of(lowest, highest, digits, &layout);
  int64_t half_count = int64_t{1} << layout.half_count_magnitude;
  shape_ = {layout.unit_magnitude, layout.half_count_magnitude, half_count,
            static_cast<uint64_t>(half_count * 2 - 1) << layout.unit_magnitude,
            64 - layout.unit_magnitude - layout.half_count_magnitude - 1};
  bucket_count_ = layout.bucket_count;
  size_ = layout.size;
  counts_ = std::make_unique<int64_t[]>(size_);
  occupied_ = std::make_unique<uint64_t[]>((size_ + 63) / 64);
}

void Histogram::add(const Histogram& other) {
  other.for_each_count([this](size_t i, int64_t count) {
    counts_[i] += count;
    occupied_[i / 64] |= uint64_t{1} << (i % 64);
    return true;
  });
  total_ += other.total_;
  max_ = std::max(max_, other.max_);
  min_ = std::min(min_, other.min_);
}

void Histogram::reset() {
  for_each_count([this](size_t i, int64_t) {
    counts_[i] = 0;
    occupied_[i / 64] = 0;
    return true;
  });
  total_ = 0;
  max_ = 0;
  min_ = INT64_MAX;
}

int64_t Histogram::value_at(const Layout& layout, size_t index) {
  int64_t half_count = int64_t{1} << layout.half_count_magnitude;
  auto i = static_cast<int64_t>(index);
  int64_t bucket = (i >> layout.half_count_magnitude) - 1;
  int64_t sub_bucket = (i & (half_count - 1)) + half_count;
  if (bucket < 0) {
    sub_bucket -= half_count;
    bucket = 0;
  }
  int64_t shift = bucket + layout.unit_magnitude;
  if (shift + layout.half_count_magnitude + 1 > 62) return INT64_MAX;
  return sub_bucket << shift;
}

int64_t Histogram::value_at_index(size_t index) const {
  return value_at({shape_.unit_magnitude, shape_.half_count_magnitude, bucket_count_, size_},
                  index);
}

int64_t Histogram::size_of_equivalent_range(int64_t value) const {
  Place place = place_of(shape_, value);
  int adjusted = place.sub_bucket >= shape_.half_count * 2 ? place.bucket + 1 : place.bucket;
  return int64_t{1} << (shape_.unit_magnitude + adjusted);
}

int64_t Histogram::lowest_equivalent(int64_t value) const {
  Place place = place_of(shape_, value);
  return place.sub_bucket << (place.bucket + shape_.unit_magnitude);
}

int64_t Histogram::value_at_rank(int64_t rank) const {
  int64_t running = 0;
  int64_t value = 0;
  for_each_count([&](size_t i, int64_t count) {
    running += count;
    if (running < rank) return true;
    value = value_at_index(i);
    return false;
  });
  return value;
}

int64_t Histogram::value_at_percentile(double percentile) const {
  // The same steps in double as the Java library, so that ranks agree.
  double requested = std::min(std::max(std::nextafter(percentile, -INFINITY), 0.0), 100.0);
  auto rank = static_cast<int64_t>(std::ceil(requested * static_cast<double>(total_) / 100.0));
  rank = std::max<int64_t>(rank, 1);
  if (total_ == 0) return 0;
  int64_t value = value_at_rank(rank);
  return percentile == 0.0 ? lowest_equivalent(value) : highest_equivalent(value);
}

}  // namespace caplat::stat
