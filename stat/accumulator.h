#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "histogram.h"
#include "units.h"

// What one closed interval of receive time held.
struct Interval {
  // Start of the interval, ns since the epoch, and its length in ns (the last
  // interval of time in 64 bits ends at its last nanosecond).
  uint64_t start;
  uint64_t length;
  // Every latency received in the interval.
  int64_t count;
  // The latencies from 0 to 1 hour; its min and max are exact for latencies
  // read one by one, and the ends of their ranges for those of a log.
  const Histogram& histogram;
  // Latencies below zero, and of 10 s or more (over 1 hour included).
  int64_t negative;
  int64_t stale;
  // The largest latency, over 1 hour included; meaningless when count is 0.
  int64_t max;
  // The most negative latency; 0 when negative is 0.
  int64_t most_negative;
};

// An interval as a histogram log holds it: the counts of its histogram and of
// the latencies the histogram could not hold.
struct LogInterval {
  // Start, ns since the epoch, and length in ns.
  uint64_t start = 0;
  uint64_t length = 0;
  // The histogram's counts as (value, count), values from 0 to 1 hour in
  // increasing order, each the lowest of its range.
  const std::vector<std::pair<int64_t, int64_t>>* counts = nullptr;
  // Latencies below zero and the most negative one; over 1 hour and the largest.
  int64_t negative = 0;
  int64_t most_negative = 0;
  int64_t over_hour = 0;
  int64_t max_over_hour = 0;
};

// Takes each interval as it closes, in order, empty ones included.
class IntervalConsumer {
 public:
  virtual ~IntervalConsumer() = default;

  // Handles one closed interval; the histogram is valid during the call only.
  virtual void interval(const Interval& closed) = 0;
};

// An input read beside another in order of receive time: before the
// accumulator moves past a time, it takes from here what comes up to it, and
// the rest when it finishes.
class EarlierInput {
 public:
  virtual ~EarlierInput() = default;

  // Adds to the accumulator everything this input holds at or before time.
  virtual void add_until(uint64_t time) = 0;
};

// Exact totals over the whole input.
struct Totals {
  // Every latency read, and those of them that came with a receive time.
  int64_t count = 0;
  int64_t timed = 0;
  // Sum and sum of squares of the latencies from 0 to 1 hour, exact in 128 bits
  // (overflow needs some 10^13 latencies of an hour).
  int128 sum = 0;
  int128 sum_squares = 0;
  // Latencies below zero and the most negative one.
  int64_t negative = 0;
  int64_t most_negative = 0;
  // Latencies of 10 s or more, and those of them over 1 hour, with the largest.
  int64_t stale = 0;
  int64_t over_hour = 0;
  int64_t max_over_hour = 0;
  // Earliest and latest receive time, when any line had one.
  bool have_receive = false;
  uint64_t first_receive = 0;
  uint64_t last_receive = 0;
};

// The one place latencies flow into: it keeps the exact totals and the
// histogram of the whole input and, when intervals are asked for, cuts the
// input by receive time and hands each closed interval to every consumer.
class Accumulator {
 public:
  // More empty intervals than this in a row (a day of one-second intervals)
  // close as one, so that one line with a time far ahead cannot make rows
  // without end.
  static constexpr uint64_t max_empty_intervals = 86400;

  // Keeps histograms to digits significant digits; interval is the length of
  // an interval in ns, or 0 for none. With a nonzero most, the length doubles
  // whenever more than most intervals would cover the time since the first,
  // and grows to the length of any logged interval.
  Accumulator(int digits, int64_t interval, int64_t most = 0);

  // Adds consumer, which must outlive the accumulator's last call.
  void add_consumer(IntervalConsumer* consumer) { consumers_.push_back(consumer); }

  // Reads earlier, which must outlive the accumulator's last call, in order of
  // time beside the latencies added here.
  void set_earlier(EarlierInput* earlier) { earlier_ = earlier; }

  // Adds a latency in ns that came without a receive time: it belongs to no
  // interval.
  void add(int64_t latency) { count(latency, total_, untimed_); }

  // Adds a latency in ns received at receive, ns since the epoch.
  void add(uint64_t receive, int64_t latency) {
    received(receive, receive);
    count(latency, latency_histogram(), window_);
  }

  // Adds the latencies of an interval of a log, as received at its start and
  // up to its end.
  void add(const LogInterval& logged);

  // Takes the rest of the earlier input and closes the last interval; call
  // once, after the last latency.
  void finish();

  // The exact totals.
  const Totals& totals() const { return totals_; }

  // The histogram of the latencies from 0 to 1 hour; complete after finish().
  const Histogram& histogram() const { return total_; }

 private:
  // Counts of the open interval (or of all input, without intervals), or of
  // the latencies without receive times.
  struct Window {
    int64_t count = 0;
    int64_t negative = 0;
    int64_t stale = 0;
    int64_t over_hour = 0;
    int64_t max = INT64_MIN;
    int64_t most_negative = 0;
  };

  // With intervals, latencies go to the interval's histogram, which is added to
  // the total as it closes: one record per latency either way.
  Histogram& latency_histogram() { return current_ ? *current_ : total_; }

  // Notes receive times from first to last and opens the interval of first.
  void received(uint64_t first, uint64_t last) {
    if (!totals_.have_receive) {
      totals_.have_receive = true;
      totals_.first_receive = first;
      totals_.last_receive = last;
    }
    if (first < totals_.first_receive) totals_.first_receive = first;
    if (last > totals_.last_receive) totals_.last_receive = last;
    if (interval_ != 0 && (!open_ || (first >= end_ && end_ != UINT64_MAX))) roll(first);
  }

  void count(int64_t latency, Histogram& histogram, Window& window) {
    ++window.count;
    if (latency > window.max) window.max = latency;
    if (static_cast<uint64_t>(latency) <= static_cast<uint64_t>(hour_ns)) {
      histogram.record(latency);
      totals_.sum += latency;
      totals_.sum_squares += static_cast<int128>(latency) * latency;
      if (latency >= stale_ns) ++window.stale;
    } else if (latency < 0) {
      ++window.negative;
      if (latency < window.most_negative) window.most_negative = latency;
    } else {
      ++window.stale;
      ++window.over_hour;
      if (latency > totals_.max_over_hour) totals_.max_over_hour = latency;
    }
  }

  void roll(uint64_t receive);
  void skip_gap(uint64_t receive);
  uint64_t end_of(uint64_t start) const;
  void close();
  void fold(Window* window);

  uint64_t interval_;
  int64_t most_;
  // Start of the first interval.
  uint64_t origin_ = 0;
  Totals totals_;
  Window window_;
  Window untimed_;
  Histogram total_;
  // The open interval's histogram; null without intervals.
  std::unique_ptr<Histogram> current_;
  // The open interval is [start_, end_) while open_.
  bool open_ = false;
  uint64_t start_ = 0;
  uint64_t end_ = 0;
  // True while the earlier input is adding, which must not start it again.
  bool adding_earlier_ = false;
  bool gap_reported_ = false;
  EarlierInput* earlier_ = nullptr;
  std::vector<IntervalConsumer*> consumers_;
};
