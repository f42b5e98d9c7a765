#pragma once

#include <cstdint>
#include <cstdio>

#include "numtext.h"

namespace caplat {

// Prints timestamp pairs: both times, the latency, or all three, one line per
// pair, warning on standard error when a latency looks wrong.
class Output {
 public:
  // The destination; borrowed, never closed here.
  FILE* file = stdout;
  // 0: application and receive time; 1: latency in ms; any other: all three.
  uint32_t format = 0;

  // Prints pair (receive time, application time) in the current format.
  void output(const uint64_t* pair);

  // Flushes the destination; false if any write to it has failed.
  bool flush();

 private:
  bool write_out();

  // Lines are gathered here and written in large blocks, or one at a time to a
  // terminal, as stdio would.
  char buffer_[1 << 16] = {};
  size_t used_ = 0;
  // Each column keeps the digits of its own last second.
  numtext::TimeText application_text_;
  numtext::TimeText receive_text_;
  int interactive_ = -1;
};

}  // namespace caplat
