#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "counts.h"
#include "exact_buckets.h"
#include "histogram.h"
#include "source.h"
#include "units.h"

namespace caplat::stat {

// What one closed interval of receive time held.
struct Interval : Counts {
  // Start of the interval, ns since the epoch, and its length in ns (the last
  // interval of time in 64 bits ends at its last nanosecond).
  uint64_t start;
  uint64_t length;
  // The latencies in range; its min and max are exact for latencies read one
  // by one, and the ends of their ranges for those of a log.
  const Histogram& histogram;
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

class Accumulator;

// Watches the reading as it goes: told after every run of latencies, when
// the accumulator's counts so far agree with each other, so that a live view
// can take them from there, and before every read of input.
class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;

  // Sees accumulator between two runs; it must not add to it.
  virtual void progressed(const Accumulator& accumulator) = 0;

  // Learns that the reader is about to read source, everything before added
  // to accumulator: a read that would wait is a pause in the input.
  virtual void reading(const Accumulator& accumulator, Source* source) = 0;
};

// Exact totals over the whole input.
struct Totals : Counts {
  // The latencies that came with a receive time.
  int64_t timed = 0;
  // Earliest and latest receive time, when any line had one.
  bool have_receive = false;
  uint64_t first_receive = 0;
  uint64_t last_receive = 0;
};

// The one place latencies flow into: it keeps the exact totals and the
// histogram of the whole input and, when intervals are asked for, cuts the
// input by receive time and hands each closed interval to every consumer.
// Readers add runs of latencies, counted in locals and added once a run.
class Accumulator {
 public:
  // More empty intervals than this in a row (a day of one-second intervals)
  // close as one, so that one line with a time far ahead cannot make rows
  // without end.
  static constexpr uint64_t max_empty_intervals = 86400;

  // Latencies counted from a reader's hot loop, in one interval: begin_run()
  // starts a run, end_run() adds it to the accumulator, which must not be
  // used otherwise between the two.
  class Run {
   public:
    // True if a latency received at receive belongs to this run; any other
    // goes to the accumulator's own add, after the run has ended.
    bool fits(uint64_t receive) const { return receive < limit_; }

    // Counts a latency received at receive, which fits.
    void add(uint64_t receive, int64_t latency) {
      if (receive < first_) first_ = receive;
      if (receive > last_) last_ = receive;
      add(latency);
    }

    // Counts a latency.
    void add(int64_t latency) {
      ++counts_.count;
      if (latency > counts_.max) counts_.max = latency;
      auto v = static_cast<uint64_t>(latency);
      if (v - low_ <= span_) {
        size_t index = recorder_.record(latency);
        if (__builtin_expect((marked_[index / 64] >> (index % 64)) & 1, 0))
          exact_->count(index, latency);
        counts_.sum += latency;
        counts_.sum_squares += static_cast<int128>(latency) * latency;
      }
      // Negative latencies, read as unsigned, lie beyond every stale one.
      if (v >= static_cast<uint64_t>(stale_ns)) {
        if (latency < 0) {
          ++counts_.negative;
          if (latency < counts_.most_negative) counts_.most_negative = latency;
        } else {
          ++counts_.stale;
          if (latency > hour_ns) {
            ++counts_.over_hour;
            if (latency > counts_.max_over_hour) counts_.max_over_hour = latency;
          }
        }
      }
    }

   private:
    friend class Accumulator;
    Run(Histogram* histogram, ExactBuckets* exact, uint64_t limit, bool timed,
        const LatencyRange& range)
        : recorder_(histogram),
          exact_(exact),
          marked_(exact->marked()),
          low_(static_cast<uint64_t>(range.low)),
          span_(static_cast<uint64_t>(range.high - range.low)),
          limit_(limit),
          timed_(timed) {}

    Histogram::Recorder recorder_;
    ExactBuckets* exact_;
    const uint64_t* marked_;
    // The range's low end and its width, for one unsigned comparison.
    uint64_t low_;
    uint64_t span_;
    Counts counts_;
    uint64_t first_ = UINT64_MAX;
    uint64_t last_ = 0;
    uint64_t limit_;
    bool timed_;
  };

  // Keeps histograms to digits significant digits of the latencies in range;
  // interval is the length of an interval in ns, or 0 for none. With a
  // nonzero most, the length doubles whenever more than most intervals would
  // cover the time since the first, and grows to the length of any logged
  // interval.
  Accumulator(int digits, int64_t interval, int64_t most = 0, LatencyRange range = {});

  // Adds consumer, which must outlive the accumulator's last call.
  void add_consumer(IntervalConsumer* consumer) { consumers_.push_back(consumer); }

  // Tells observer, which must outlive the accumulator's last call, of every
  // run added.
  void set_observer(ProgressObserver* observer) { observer_ = observer; }

  // Tells the observer that the reader is about to read source.
  void reading(Source* source) {
    if (observer_ != nullptr) observer_->reading(*this, source);
  }

  // Reads earlier, which must outlive the accumulator's last call, in order of
  // time beside the latencies added here.
  void set_earlier(EarlierInput* earlier) { earlier_ = earlier; }

  // Starts a run of latencies that come with receive times (timed), within
  // the open interval, or without them, outside every interval.
  Run begin_run(bool timed) {
    if (!timed) return Run(&total_, &exact_, UINT64_MAX, false, range_);
    // No receive time fits before an interval is open.
    uint64_t limit = interval_ == 0 ? UINT64_MAX : open_ ? end_ : 0;
    return Run(&latency_histogram(), &exact_, limit, true, range_);
  }

  // Adds the latencies of run.
  void end_run(const Run& run);

  // Adds a latency in ns that came without a receive time: it belongs to no
  // interval.
  void add(int64_t latency);

  // Adds a latency in ns received at receive, ns since the epoch.
  void add(uint64_t receive, int64_t latency);

  // Adds the latencies of an interval of a log, as received at its start and
  // up to its end.
  void add(const LogInterval& logged);

  // Takes the rest of the earlier input and closes the last interval; call
  // once, after the last latency.
  void finish();

  // The exact totals.
  const Totals& totals() const { return totals_; }

  // The histogram of the latencies from 0 to 1 hour; complete after finish().
  // Before, it lacks the open interval's, which open_histogram() holds.
  const Histogram& histogram() const { return total_; }

  // The open interval's histogram of the latencies from 0 to 1 hour; null
  // without intervals.
  const Histogram* open_histogram() const { return current_.get(); }

  // The totals of what was added so far, the open interval's counts and
  // those of the latencies without receive times included.
  Totals totals_so_far() const;

  // Counts the latencies added one by one exactly in buckets of bounds
  // (increasing, in ns), from here on.
  void set_bucket_bounds(const std::vector<int64_t>& bounds) { exact_.set_bounds(bounds); }

  // What makes the buckets drawn from the histograms exact for the latencies
  // added one by one.
  const ExactBuckets& exact_buckets() const { return exact_; }

 private:
  // With intervals, latencies go to the interval's histogram, which is added to
  // the total as it closes: one record per latency either way.
  Histogram& latency_histogram() { return current_ ? *current_ : total_; }

  void note_receive(uint64_t first, uint64_t last);
  void received(uint64_t first, uint64_t last);
  void roll(uint64_t receive);
  void skip_gap(uint64_t receive);
  uint64_t end_of(uint64_t start) const;
  void close();
  void fold(Counts* window, bool timed);
  static void add_window(const Counts& window, bool timed, Totals* totals);

  uint64_t interval_;
  int64_t most_;
  LatencyRange range_;
  // Start of the first interval.
  uint64_t origin_ = 0;
  Totals totals_;
  // The open interval's counts (all input's, without intervals), and those of
  // the latencies without receive times.
  Counts window_;
  Counts untimed_;
  Histogram total_;
  ExactBuckets exact_{total_};
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
  ProgressObserver* observer_ = nullptr;
  std::vector<IntervalConsumer*> consumers_;
};

}  // namespace caplat::stat
