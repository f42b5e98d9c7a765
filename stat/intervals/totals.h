#pragma once

#include <algorithm>
#include <cstdint>

#include "counts.h"

namespace caplat::stat {

// Exact totals over the whole input: the counts of every window added, how
// many of them came with a receive time, and the span of those times.
struct Totals : Counts {
  // The latencies that came with a receive time.
  int64_t timed = 0;
  // Earliest and latest receive time, when any line had one.
  bool have_receive = false;
  uint64_t first_receive = 0;
  uint64_t last_receive = 0;

  // Adds the counts of window, whose latencies came with receive times if
  // with_times.
  void add_window(const Counts& window, bool with_times) {
    add(window);
    if (with_times) timed += window.count;
  }

  // Widens the span of receive times to hold first to last.
  void received(uint64_t first, uint64_t last) {
    if (!have_receive) {
      have_receive = true;
      first_receive = first;
      last_receive = last;
    }
    first_receive = std::min(first_receive, first);
    last_receive = std::max(last_receive, last);
  }
};

}  // namespace caplat::stat
