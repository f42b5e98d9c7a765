#include "accumulator.h"

#include <algorithm>

Accumulator::Accumulator(int digits, int64_t interval, int64_t most)
    : interval_(interval), most_(most), total_(1, hour_ns, digits) {
  if (interval != 0) current_ = std::make_unique<Histogram>(1, hour_ns, digits);
}

void Accumulator::roll(int64_t receive) {
  if (end_ < start_) {
    // Intervals start at whole multiples of their length since the epoch, so
    // that one-second rows start on whole seconds.
    origin_ = receive - receive % interval_;
    start_ = origin_;
    end_ = end_of(start_);
    return;
  }
  close();
  // Every interval between the last one and this receive time is empty, and
  // gets its row, so that a gap in the feed shows. The last interval of time
  // in 64 bits takes all receive times from its start on.
  for (;;) {
    start_ = end_;
    while (most_ != 0 && (start_ - origin_) / interval_ >= most_) interval_ *= 2;
    end_ = end_of(start_);
    if (receive < end_ || end_ == INT64_MAX) return;
    close();
  }
}

int64_t Accumulator::end_of(int64_t start) const {
  return start > INT64_MAX - interval_ ? INT64_MAX : start + interval_;
}

void Accumulator::close() {
  Interval closed{start_,           interval_,     window_.count, *current_,
                  window_.negative, window_.stale, window_.max};
  for (IntervalConsumer* consumer : consumers_) consumer->interval(closed);
  total_.add(*current_);
  current_->reset();
  fold();
}

void Accumulator::fold() {
  totals_.count += window_.count;
  totals_.negative += window_.negative;
  totals_.stale += window_.stale;
  totals_.over_hour += window_.over_hour;
  window_ = Window();
}

void Accumulator::finish() {
  if (current_ && end_ >= start_) {
    close();
  } else {
    fold();
  }
}
