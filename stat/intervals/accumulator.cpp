#include "accumulator.h"

#include <algorithm>
#include <cstdio>

namespace caplat::stat {

Accumulator::Accumulator(int digits, int64_t interval, int64_t most, LatencyRange range)
    : interval_(static_cast<uint64_t>(interval)),
      most_(most),
      range_(range),
      total_(1, hour_ns, digits) {
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
  Interval closed{window_, start_, end_ - start_, *current_};
  for (IntervalConsumer* consumer : consumers_) consumer->interval(closed);
  total_.add(*current_);
  current_->reset();
  fold(&window_, true);
}

void Accumulator::add_window(const Counts& window, bool timed, Totals* totals) {
  totals->add(window);
  if (timed) totals->timed += window.count;
}

void Accumulator::fold(Counts* window, bool timed) {
  add_window(*window, timed, &totals_);
  *window = Counts();
}

Totals Accumulator::totals_so_far() const {
  Totals so_far = totals_;
  add_window(window_, true, &so_far);
  add_window(untimed_, false, &so_far);
  return so_far;
}

void Accumulator::finish() {
  if (earlier_ != nullptr) {
    adding_earlier_ = true;
    earlier_->add_until(UINT64_MAX);
    adding_earlier_ = false;
    earlier_ = nullptr;
  }
  if (open_) {
    close();
  } else {
    fold(&window_, true);
  }
  fold(&untimed_, false);
}

void Accumulator::note_receive(uint64_t first, uint64_t last) {
  if (!totals_.have_receive) {
    totals_.have_receive = true;
    totals_.first_receive = first;
    totals_.last_receive = last;
  }
  totals_.first_receive = std::min(totals_.first_receive, first);
  totals_.last_receive = std::max(totals_.last_receive, last);
}

void Accumulator::received(uint64_t first, uint64_t last) {
  note_receive(first, last);
  if (interval_ != 0 && (!open_ || (first >= end_ && end_ != UINT64_MAX))) roll(first);
}

void Accumulator::end_run(const Run& run) {
  run.recorder_.done();
  if (run.counts_.count == 0) return;
  (run.timed_ ? window_ : untimed_).add(run.counts_);
  // Every receive time of a run fits the open interval: none rolls it.
  if (run.timed_) note_receive(run.first_, run.last_);
  if (observer_ != nullptr) observer_->progressed(*this);
}

void Accumulator::add(int64_t latency) {
  Run run = begin_run(false);
  run.add(latency);
  end_run(run);
}

void Accumulator::add(uint64_t receive, int64_t latency) {
  received(receive, receive);
  Run run = begin_run(true);
  run.add(receive, latency);
  end_run(run);
}

void Accumulator::add(const LogInterval& logged) {
  // The picture's own interval is no shorter than the log's, whose latencies
  // it cannot split.
  if (most_ != 0 && logged.length > interval_) interval_ = logged.length;
  received(logged.start, logged.start + logged.length);
  Histogram& into = latency_histogram();
  Counts counts;
  int64_t over_hour = logged.over_hour;
  int64_t max_over_hour = logged.max_over_hour;
  for (auto [value, n] : *logged.counts) {
    if (value > hour_ns) {
      over_hour += n;
      max_over_hour = std::max(max_over_hour, value);
      continue;
    }
    counts.count += n;
    if (value >= stale_ns) counts.stale += n;
    counts.max = std::max(counts.max, into.highest_equivalent(value));
    // A logged latency lies in the range by the lowest value of its range.
    if (!range_.contains(value)) continue;
    into.record_range(value, n);
    // The mean of a log's latencies takes each at the middle of its range, as
    // HdrHistogram's own mean does.
    int128 middle = into.median_equivalent(value);
    counts.sum += middle * n;
    counts.sum_squares += middle * middle * n;
  }
  counts.count += logged.negative + over_hour;
  counts.negative = logged.negative;
  if (logged.negative != 0) counts.most_negative = logged.most_negative;
  counts.stale += over_hour;
  counts.over_hour = over_hour;
  if (over_hour != 0) {
    counts.max_over_hour = max_over_hour;
    counts.max = std::max(counts.max, max_over_hour);
  }
  window_.add(counts);
}

}  // namespace caplat::stat
