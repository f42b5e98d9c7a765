#include "accumulator.h"

#include <algorithm>

namespace caplat::stat {

Accumulator::Accumulator(int digits, int64_t interval, int64_t most, LatencyRange range)
    : range_(range),
      rollover_(IntervalLength(static_cast<uint64_t>(interval), most)),
      total_(1, hour_ns, digits) {
  if (interval != 0) current_ = std::make_unique<Histogram>(1, hour_ns, digits);
}

void Accumulator::received(uint64_t first, uint64_t last) {
  totals_.received(first, last);
  if (rollover_.holds(first)) return;
  // What the earlier input holds up to first comes before it, and may roll
  // the interval on itself.
  if (interleave_.take_until(first) && rollover_.holds(first)) return;
  rollover_.roll(first, [this] { close(); });
}

void Accumulator::close() {
  Interval closed{window_, rollover_.start(), rollover_.end() - rollover_.start(), *current_};
  for (IntervalConsumer* consumer : consumers_) consumer->interval(closed);
  total_.add(*current_);
  current_->reset();
  fold(&window_, true);
}

void Accumulator::fold(Counts* window, bool timed) {
  totals_.add_window(*window, timed);
  *window = Counts();
}

Totals Accumulator::totals_so_far() const {
  Totals so_far = totals_;
  so_far.add_window(window_, true);
  so_far.add_window(untimed_, false);
  return so_far;
}

void Accumulator::finish() {
  interleave_.take_rest();
  if (rollover_.is_open()) {
    close();
  } else {
    fold(&window_, true);
  }
  fold(&untimed_, false);
}

void Accumulator::end_run(const Run& run) {
  run.recorder_.done();
  if (run.counts_.count == 0) return;
  (run.timed_ ? window_ : untimed_).add(run.counts_);
  // Every receive time of a run fits the open interval: none rolls it.
  if (run.timed_) totals_.received(run.first_, run.last_);
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
  rollover_.fit(logged.length);
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
