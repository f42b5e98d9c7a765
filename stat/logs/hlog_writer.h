#pragma once

#include <cstdint>
#include <string>

#include "interval.h"
#include "checked_writer.h"
#include "hlog_codec.h"

namespace caplat::stat {

// Writes an interval log in HdrHistogram's log format 1.3, one line per
// closed interval with its start, length, maximum and compressed histogram,
// which HdrHistogram's own log readers take as they are.
class HlogWriter : public IntervalConsumer {
 public:
  // Writes to out, marking every histogram line with tag unless it is empty.
  HlogWriter(CheckedWriter* out, std::string tag);

  // Writes the header lines before the first interval, then the interval,
  // after a comment line with the counts of latencies its histogram cannot
  // hold when there are any.
  void interval(const Interval& closed) override;

  // Writes the header lines if no interval came.
  void finish();

 private:
  void write_header(uint64_t start_ns);

  CheckedWriter* out_;
  std::string tag_;
  std::string text_;
  HistogramCodec codec_;
  uint64_t base_ns_ = 0;
  bool started_ = false;
};

}  // namespace caplat::stat
