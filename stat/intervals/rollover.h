#pragma once

#include <cstdint>
#include <functional>

#include "interval_length.h"

namespace caplat::stat {

// Where an interval rolls over: the open interval of receive time, [start,
// end), and how it moves on to a later receive time, closing itself and every
// empty interval between, so that a gap in the feed shows.
class Rollover {
 public:
  // Intervals of length; none if its ns is 0.
  explicit Rollover(IntervalLength length) : length_(length) {}

  // True once the first interval has opened.
  bool is_open() const { return open_; }

  // The open interval's start and end, ns since the epoch.
  uint64_t start() const { return start_; }
  uint64_t end() const { return end_; }

  // The receive times below this count in the open interval, late ones
  // included: all of them without intervals, none before the first opens.
  uint64_t limit() const { return length_.ns() == 0 ? UINT64_MAX : open_ ? end_ : 0; }

  // True if receive needs no roll: there are no intervals, or it comes before
  // the open one's end (a late one counts in it). The last interval of time in
  // 64 bits takes all receive times from its start on.
  bool holds(uint64_t receive) const {
    return length_.ns() == 0 || (open_ && (receive < end_ || end_ == UINT64_MAX));
  }

  // Grows the length to that of a logged interval, if it grows.
  void fit(uint64_t logged) { length_.fit(logged); }

  // Opens the first interval at receive, or moves the open one, which does not
  // hold receive, on to the one that does; close is called for each interval
  // as it closes, while start() and end() are its bounds.
  void roll(uint64_t receive, const std::function<void()>& close);

 private:
  void skip_gap(uint64_t receive, const std::function<void()>& close);
  uint64_t end_of(uint64_t start) const;

  IntervalLength length_;
  // Start of the first interval.
  uint64_t origin_ = 0;
  // The open interval is [start_, end_) while open_.
  bool open_ = false;
  uint64_t start_ = 0;
  uint64_t end_ = 0;
  bool gap_reported_ = false;
};

}  // namespace caplat::stat
