#include "rollover.h"

#include <cstdio>

#include "units.h"

namespace caplat::stat {

namespace {

// More empty intervals than this in a row (a day of one-second intervals)
// close as one, so that one line with a time far ahead cannot make rows
// without end.
constexpr uint64_t max_empty_intervals = 86400;

}  // namespace

void Rollover::roll(uint64_t receive, const std::function<void()>& close) {
  if (!open_) {
    // Intervals start at whole multiples of their length since the epoch, so
    // that one-second rows start on whole seconds.
    open_ = true;
    origin_ = receive - receive % length_.ns();
    start_ = origin_;
    end_ = end_of(start_);
    return;
  }
  close();
  // Every interval between the last one and this receive time is empty, and
  // gets its row.
  for (;;) {
    start_ = end_;
    length_.cover(start_ - origin_);
    end_ = end_of(start_);
    if (holds(receive)) return;
    // Doubling lengths bound the empty intervals by themselves.
    if (length_.fixed() && (receive - start_) / length_.ns() > max_empty_intervals) {
      skip_gap(receive, close);
      return;
    }
    close();
  }
}

void Rollover::skip_gap(uint64_t receive, const std::function<void()>& close) {
  if (!gap_reported_) {
    gap_reported_ = true;
    fprintf(stderr,
            "caplat-stat: no latency received from %llu.%09llu s to %llu.%09llu s: one empty "
            "interval stands for the gap\n",
            static_cast<unsigned long long>(start_ / ns_per_s),
            static_cast<unsigned long long>(start_ % ns_per_s),
            static_cast<unsigned long long>(receive / ns_per_s),
            static_cast<unsigned long long>(receive % ns_per_s));
  }
  close();
  start_ = receive - receive % length_.ns();
  end_ = end_of(start_);
}

uint64_t Rollover::end_of(uint64_t start) const {
  return start > UINT64_MAX - length_.ns() ? UINT64_MAX : start + length_.ns();
}

}  // namespace caplat::stat
