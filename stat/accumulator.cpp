#include "accumulator.h"

#include <algorithm>
#include <cstdio>

Accumulator::Accumulator(int digits, int64_t interval, int64_t most)
    : interval_(static_cast<uint64_t>(interval)), most_(most), total_(1, hour_ns, digits) {
  if (interval != 0) current_ = std::make_unique<Histogram>(1, hour_ns, digits);
}

void Accumulator::roll(uint64_t receive) {
  if (earlier_ != nullptr && !adding_earlier_) {
    adding_earlier_ = true;
    earlier_->add_until(receive);
    adding_earlier_ = false;
    if (open_ && (receive < end_ || end_ == UINT64_MAX)) return;
  }
  if (!open_) {
    // Intervals start at whole multiples of their length since the epoch, so
    // that one-second rows start on whole seconds.
    open_ = true;
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
    while (most_ != 0 && (start_ - origin_) / interval_ >= static_cast<uint64_t>(most_))
      interval_ *= 2;
    end_ = end_of(start_);
    if (receive < end_ || end_ == UINT64_MAX) return;
    // Doubling lengths bound the empty intervals by themselves.
    if (most_ == 0 && (receive - start_) / interval_ > max_empty_intervals) {
      skip_gap(receive);
      return;
    }
    close();
  }
}

void Accumulator::skip_gap(uint64_t receive) {
  if (!gap_reported_) {
    gap_reported_ = true;
    constexpr uint64_t ns_per_s = 1000000000;
    fprintf(stderr,
            "caplat-stat: no latency received from %llu.%09llu s to %llu.%09llu s: one empty "
            "interval stands for the gap\n",
            static_cast<unsigned long long>(start_ / ns_per_s),
            static_cast<unsigned long long>(start_ % ns_per_s),
            static_cast<unsigned long long>(receive / ns_per_s),
            static_cast<unsigned long long>(receive % ns_per_s));
  }
  close();
  start_ = receive - receive % interval_;
  end_ = end_of(start_);
}

uint64_t Accumulator::end_of(uint64_t start) const {
  return start > UINT64_MAX - interval_ ? UINT64_MAX : start + interval_;
}

void Accumulator::close() {
  Interval closed{start_,           end_ - start_, window_.count, *current_,
                  window_.negative, window_.stale, window_.max,   window_.most_negative};
  for (IntervalConsumer* consumer : consumers_) consumer->interval(closed);
  total_.add(*current_);
  current_->reset();
  totals_.timed += window_.count;
  fold(&window_);
}

void Accumulator::fold(Window* window) {
  totals_.count += window->count;
  totals_.negative += window->negative;
  totals_.stale += window->stale;
  totals_.over_hour += window->over_hour;
  totals_.most_negative = std::min(totals_.most_negative, window->most_negative);
  *window = Window();
}

void Accumulator::finish() {
  if (earlier_ != nullptr) {
    adding_earlier_ = true;
    earlier_->add_until(UINT64_MAX);
    adding_earlier_ = false;
  }
  if (open_) {
    close();
  } else {
    totals_.timed += window_.count;
    fold(&window_);
  }
  fold(&untimed_);
}

void Accumulator::add(const LogInterval& logged) {
  // The picture's own interval is no shorter than the log's, whose latencies
  // it cannot split.
  if (most_ != 0 && logged.length > interval_) interval_ = logged.length;
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
    into.record_range(value, n);
    // The mean of a log's latencies takes each at the middle of its range, as
    // HdrHistogram's own mean does.
    int128 middle = into.median_equivalent(value);
    totals_.sum += middle * n;
    totals_.sum_squares += middle * middle * n;
    window_.count += n;
    if (value >= stale_ns) window_.stale += n;
    window_.max = std::max(window_.max, into.highest_equivalent(value));
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
