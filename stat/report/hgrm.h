#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "checked_writer.h"
#include "histogram.h"

namespace caplat::stat {

// Steps per halving distance to 100 % in the .hgrm rows.
inline constexpr int hgrm_ticks = 5;

// One row of the Java library's percentile iteration: the value reached (the
// highest equivalent of its index), the percentile level iterated to, and the
// count up to and including the value.
struct PercentileRow {
  int64_t value;
  double level;
  int64_t total;
};

// The rows that the Java library's PercentileIterator yields for histogram
// with ticks_per_half steps per halving distance to 100 %, computed with the
// same double arithmetic, so that levels and values agree bit for bit.
std::vector<PercentileRow> percentile_rows(const Histogram& histogram, int ticks_per_half);

// v as Java's String.format formats it with "%<width>.<precision>f": Java
// rounds half up on the shortest decimal digits that give v back, not on v's
// exact binary value as C's printf does.
std::string java_fixed(double v, int width, int precision);

// Writes what the Java library's outputPercentileDistribution(out, 5, 1e6)
// prints for histogram: values in ms, byte for byte.
void write_hgrm(const Histogram& histogram, CheckedWriter* out);

}  // namespace caplat::stat
