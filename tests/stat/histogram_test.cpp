#include "histogram.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace caplat::stat {
namespace {

constexpr int64_t hour_ns = 3600000000000;

// The Java library's bucket count, sub-bucket count and counts array length for
// each number of digits over 1 ns to 1 hour, and over other ranges.
TEST(Histogram, LayoutMatchesTheJavaLibrary) {
  struct Row {
    int64_t lowest, highest;
    int digits, buckets, sub_buckets;
    size_t counts;
  };
  const Row rows[] = {{1, hour_ns, 0, 42, 2, 43},         {1, hour_ns, 1, 38, 32, 624},
                      {1, hour_ns, 2, 35, 256, 4608},     {1, hour_ns, 3, 32, 2048, 33792},
                      {1, hour_ns, 4, 28, 32768, 475136}, {1, hour_ns, 5, 25, 262144, 3407872},
                      {1000, hour_ns, 2, 26, 256, 3456},  {1, INT64_MAX, 0, 63, 2, 64},
                      {1, INT64_MAX, 3, 53, 2048, 55296}, {1000, 2000, 3, 1, 2048, 2048}};
  for (const Row& row : rows) {
    Histogram::Layout layout{};
    ASSERT_TRUE(Histogram::layout_of(row.lowest, row.highest, row.digits, &layout));
    EXPECT_EQ(layout.bucket_count, row.buckets) << row.digits;
    EXPECT_EQ(2 << layout.half_count_magnitude, row.sub_buckets) << row.digits;
    EXPECT_EQ(layout.size, row.counts) << row.digits;
  }
}

// Indexes and equivalent ranges at the bucket edges, as the Java library
// computes them at 3 digits.
TEST(Histogram, BucketEdges) {
  struct Row {
    int64_t value;
    size_t index;
    int64_t lowest, highest, median, size;
  };
  const Row rows[] = {
      {0, 0, 0, 0, 0, 1},
      {1, 1, 1, 1, 1, 1},
      {2047, 2047, 2047, 2047, 2047, 1},
      {2048, 2048, 2048, 2049, 2049, 2},
      {4095, 3071, 4094, 4095, 4095, 2},
      {4096, 3072, 4096, 4099, 4098, 4},
      {1000000, 11169, 999936, 1000447, 1000192, 512},
      {hour_ns, 33420, 3599182594048, 3601330077695, 3600256335872, 2147483648},
      {4398046511103, 33791, 4395899027456, 4398046511103, 4396972769280, 2147483648},
      {4398046511104, 33792, 4398046511104, 4402341478399, 4400193994752, 4294967296},
  };
  Histogram h(1, hour_ns, 3);
  for (const Row& row : rows) {
    EXPECT_EQ(h.index_of(row.value), row.index) << row.value;
    EXPECT_EQ(h.lowest_equivalent(row.value), row.lowest) << row.value;
    EXPECT_EQ(h.highest_equivalent(row.value), row.highest) << row.value;
    EXPECT_EQ(h.median_equivalent(row.value), row.median) << row.value;
    EXPECT_EQ(h.size_of_equivalent_range(row.value), row.size) << row.value;
    if (row.index < h.counts_size()) {
      EXPECT_EQ(h.value_at_index(row.index), row.lowest) << row.value;
    }
  }
  // The last index is the end of the array: a value beyond it is refused.
  EXPECT_TRUE(h.record(4398046511103));
  EXPECT_FALSE(h.record(4398046511104));
  EXPECT_FALSE(h.record(-1));
  EXPECT_EQ(h.total_count(), 1);
}

}  // namespace
}  // namespace caplat::stat
