#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace caplat::stat {

// Counts of int64 values kept to a fixed number of significant decimal digits,
// in HdrHistogram's layout: a first bucket of sub-buckets one unit wide, then
// buckets of half as many sub-buckets, each bucket twice as wide as the last.
// The counts array is in the same order as the Java library's, so its V2
// encoding maps one-to-one onto it.
class Histogram {
 public:
  // Tracks values from lowest (at least 1) to highest (at least 2 * lowest) to
  // digits (1..5) significant decimal digits; the arguments must be in range.
  Histogram(int64_t lowest, int64_t highest, int digits);

  Histogram(const Histogram&) = delete;
  Histogram& operator=(const Histogram&) = delete;

  // How a histogram indexes its counts: values below 2^unit_magnitude share
  // index 0, the first bucket has 2^(half_count_magnitude + 1) sub-buckets, and
  // the counts array has size entries.
  struct Layout {
    int unit_magnitude;
    int half_count_magnitude;
    int bucket_count;
    size_t size;
  };

  // Sets *layout to the Java library's layout for lowest, highest and digits
  // (0..5); false if the library would refuse them or its bucket edges would
  // not fit in 63 bits.
  static bool layout_of(int64_t lowest, int64_t highest, int64_t digits, Layout* layout);

  // The lowest value counted at index of a histogram of layout, or INT64_MAX
  // where the index's bucket reaches past the values of 63 bits.
  static int64_t value_at(const Layout& layout, size_t index);

  // True if lowest, highest and digits are in the ranges the constructor takes.
  static bool valid(int64_t lowest, int64_t highest, int digits);

  // What finding a value's place in the counts takes, kept apart so that a
  // hot loop can hold a copy in registers.
  struct Shape {
    int unit_magnitude;
    int half_count_magnitude;
    int64_t half_count;
    uint64_t sub_bucket_mask;
    int leading_zero_base;
  };

  // The bucket of a value and its sub-bucket within it.
  struct Place {
    int bucket;
    int64_t sub_bucket;
  };

  // Where value (0 or more) lies in a histogram of shape.
  static Place place_of(const Shape& shape, int64_t value) {
    auto v = static_cast<uint64_t>(value);
    int bucket = shape.leading_zero_base - __builtin_clzll(v | shape.sub_bucket_mask);
    return {bucket, static_cast<int64_t>(v >> (bucket + shape.unit_magnitude))};
  }

  // The index that counts value in a histogram of shape (maybe beyond the
  // array for a large value).
  static size_t index_of(const Shape& shape, int64_t value) {
    Place place = place_of(shape, value);
    return static_cast<size_t>(((place.bucket + 1) << shape.half_count_magnitude) +
                               place.sub_bucket - shape.half_count);
  }

  // Counts values from a hot loop: it holds copies of what the counting needs,
  // and keeps the number counted and its extremes until done() adds them.
  class Recorder {
   public:
    // Counts into histogram, which must not change otherwise until done().
    explicit Recorder(Histogram* histogram)
        : histogram_(histogram),
          shape_(histogram->shape_),
          counts_(histogram->counts_.get()),
          occupied_(histogram->occupied_.get()) {}

    // Counts value, which must be from 0 to the histogram's highest trackable
    // value: a value in range always has an index in the array, returned.
    size_t record(int64_t value) {
      size_t index = index_of(shape_, value);
      ++counts_[index];
      occupied_[index / 64] |= uint64_t{1} << (index % 64);
      ++total_;
      if (value > max_) max_ = value;
      if (value < min_) min_ = value;
      return index;
    }

    // Adds the number counted and the extremes to the histogram.
    void done() const {
      histogram_->total_ += total_;
      if (total_ == 0) return;
      if (max_ > histogram_->max_) histogram_->max_ = max_;
      if (min_ < histogram_->min_) histogram_->min_ = min_;
    }

   private:
    Histogram* histogram_;
    Shape shape_;
    int64_t* counts_;
    uint64_t* occupied_;
    int64_t total_ = 0;
    int64_t max_ = 0;
    int64_t min_ = INT64_MAX;
  };

  // Counts value n times; false, counting nothing, if value is negative or
  // beyond the counts array.
  bool record(int64_t value, int64_t n = 1) {
    if (value < 0) return false;
    size_t index = index_of(value);
    if (index >= size_) return false;
    counts_[index] += n;
    occupied_[index / 64] |= uint64_t{1} << (index % 64);
    total_ += n;
    if (value > max_) max_ = value;
    if (value < min_) min_ = value;
    return true;
  }

  // Counts n values known only to lie in value's range, as a log holds them:
  // the largest value recorded becomes the highest of that range.
  bool record_range(int64_t value, int64_t n) {
    if (!record(lowest_equivalent(value), n)) return false;
    int64_t highest = highest_equivalent(value);
    if (highest > max_) max_ = highest;
    return true;
  }

  // Adds the counts of other, which has the same precision: the accumulator
  // makes all its histograms alike.
  void add(const Histogram& other);

  // Sets every count to zero.
  void reset();

  // The number of values counted.
  int64_t total_count() const { return total_; }

  // The largest value recorded (as recorded, or the highest of its range for
  // record_range); 0 if none.
  int64_t max() const { return total_ ? max_ : 0; }

  // The smallest value recorded, as for max; 0 if none.
  int64_t min() const { return total_ ? min_ : 0; }

  // The number of counts, one per index.
  size_t counts_size() const { return size_; }

  // The count at index, which must be below counts_size().
  int64_t count_at_index(size_t index) const { return counts_[index]; }

  // Calls visit(index, count) for every index whose count is not zero, in
  // increasing order, until visit returns false: the one walk over the
  // counts, a word of indexes at a time, that every other use builds on.
  template <typename Visit>
  void for_each_count(Visit visit) const {
    if (total_ == 0) return;
    for (size_t w = index_of(min_) / 64; w <= index_of(max_) / 64; ++w) {
      for (uint64_t bits = occupied_[w]; bits != 0; bits &= bits - 1) {
        size_t i = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
        if (counts_[i] != 0 && !visit(i, counts_[i])) return;
      }
    }
  }

  // The lowest value counted at index.
  int64_t value_at_index(size_t index) const;

  // The index that counts value (maybe beyond the array for a large value).
  size_t index_of(int64_t value) const { return index_of(shape_, value); }

  // The width of the range of values counted together with value.
  int64_t size_of_equivalent_range(int64_t value) const;

  // The lowest value counted together with value.
  int64_t lowest_equivalent(int64_t value) const;

  // The highest value counted together with value.
  int64_t highest_equivalent(int64_t value) const { return next_non_equivalent(value) - 1; }

  // The middle of the range of values counted together with value.
  int64_t median_equivalent(int64_t value) const {
    return lowest_equivalent(value) + (size_of_equivalent_range(value) >> 1);
  }

  // The lowest value above those counted together with value.
  int64_t next_non_equivalent(int64_t value) const {
    return lowest_equivalent(value) + size_of_equivalent_range(value);
  }

  // The lowest value of the range that holds the rank-th smallest value
  // counted (1..total_count()).
  int64_t value_at_rank(int64_t rank) const;

  // The value at percentile (0..100) as the summary and the rows report it:
  // value_at_percentile, never beyond the min and max.
  int64_t percentile(double percentile) const {
    return std::min(std::max(value_at_percentile(percentile), min()), max());
  }

  // The value at percentile (0..100) as the Java library's getValueAtPercentile
  // finds it: the highest equivalent value of the index where the count reaches
  // the rank (the lowest equivalent one for percentile 0); 0 if empty.
  int64_t value_at_percentile(double percentile) const;

  // The number of significant decimal digits kept.
  int digits() const { return digits_; }

  // The lowest discernible value.
  int64_t lowest_trackable() const { return lowest_; }

  // The highest trackable value.
  int64_t highest_trackable() const { return highest_; }

  // The shift of the counts array against the index of value 0; always 0 here.
  int normalizing_index_offset() const { return 0; }

  // The number of buckets.
  int bucket_count() const { return bucket_count_; }

  // The number of sub-buckets in the first bucket.
  int sub_bucket_count() const { return 1 << (shape_.half_count_magnitude + 1); }

 private:
  int64_t lowest_;
  int64_t highest_;
  int digits_;
  Shape shape_;
  int bucket_count_;
  size_t size_;
  std::unique_ptr<int64_t[]> counts_;
  // One bit per index whose count may be nonzero, so that a sparse histogram,
  // such as an interval's, is added, reset and searched a word of indexes at a
  // time rather than an index at a time.
  std::unique_ptr<uint64_t[]> occupied_;
  int64_t total_ = 0;
  int64_t max_ = 0;
  int64_t min_ = INT64_MAX;
};

}  // namespace caplat::stat
