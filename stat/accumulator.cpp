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
  Interval closed{start_,           end_ - start_, window_.count, *current_,
                  window_.negative, window_.stale, window_.max,   window_.most_negative};
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
  totals_.most_negative = std::min(totals_.most_negative, window_.most_negative);
  window_ = Window();
}

void Accumulator::finish() {
  if (current_ && end_ >= start_) {
    close();
  } else {
    fold();
  }
}

void Accumulator::add(const LogInterval& logged) {
  received(logged.start, logged.start + logged.length);
  Histogram& into = latency_histogram();
  int64_t over_hour = logged.over_hour;
  int64_t max_over_hour = logged.max_over_hour;
  for (auto [value, n] : *logged.counts) {
    if (value > hour_ns) {
      over_hour += n;
      max_over_hour = std::max(max_over_hour, value);
      continue;
    }
    into.record(value, n);
    // The mean of a log's latencies takes each at the middle of its range, as
    // HdrHistogram's own mean does.
    int128 middle = into.median_equivalent(value);
    totals_.sum += middle * n;
    totals_.sum_squares += middle * middle * n;
    window_.count += n;
    if (value >= stale_ns) window_.stale += n;
    window_.max = std::max(window_.max, value);
  }
  window_.count += logged.negative + over_hour;
  window_.negative += logged.negative;
  if (logged.negative != 0)
    window_.most_negative = std::min(window_.most_negative, logged.most_negative);
  window_.stale += over_hour;
  window_.over_hour += over_hour;
  if (over_hour != 0) {
    totals_.max_over_hour = std::max(totals_.max_over_hour, max_over_hour);
    window_.max = std::max(window_.max, max_over_hour);
  }
}
