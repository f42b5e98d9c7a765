#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "counts.h"
#include "exact_buckets.h"
#include "histogram.h"
#include "interleave.h"
#include "interval.h"
#include "rollover.h"
#include "source.h"
#include "totals.h"
#include "units.h"

namespace caplat::stat {

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

// The one place latencies flow into: it counts each in the open interval (the
// whole input's, without intervals), hands each closed interval to every
// consumer and keeps the totals. Readers add runs, counted in locals.
class Accumulator {
 public:
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
  void set_earlier(EarlierInput* earlier) { interleave_.set(earlier); }

  // Starts a run of latencies that come with receive times (timed), within
  // the open interval, or without them, outside every interval.
  Run begin_run(bool timed) {
    if (!timed) return Run(&total_, &exact_, UINT64_MAX, false, range_);
    return Run(&latency_histogram(), &exact_, rollover_.limit(), true, range_);
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

  // The histogram of the latencies in range; complete after finish(). Before,
  // it lacks the open interval's, which open_histogram() holds.
  const Histogram& histogram() const { return total_; }

  // The open interval's histogram of the latencies in range; null without
  // intervals.
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

  void received(uint64_t first, uint64_t last);
  void close();
  void fold(Counts* window, bool timed);

  LatencyRange range_;
  Rollover rollover_;
  Interleave interleave_;
  Totals totals_;
  // The open interval's counts (all input's, without intervals), and those of
  // the latencies without receive times.
  Counts window_;
  Counts untimed_;
  Histogram total_;
  ExactBuckets exact_{total_};
  // The open interval's histogram; null without intervals.
  std::unique_ptr<Histogram> current_;
  ProgressObserver* observer_ = nullptr;
  std::vector<IntervalConsumer*> consumers_;
};

}  // namespace caplat::stat
