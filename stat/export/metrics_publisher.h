#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "accumulator.h"
#include "metrics_snapshot.h"
#include "prom_schedule.h"

namespace caplat::stat {

// Hands the figures of the reading to the server's thread without ever making
// the reader wait: between runs, once a period has passed, the reader takes a
// snapshot and offers it under a lock it only tries; if the server holds the
// lock, the snapshot stays unpublished and is due again at once. Each
// snapshot also goes to the file's schedule.
class MetricsPublisher : public IntervalConsumer {
 public:
  // Snapshots are taken at most every publish_period ns of the clock.
  static constexpr int64_t publish_period = 100000000;

  // Counts latencies in buckets of bounds (increasing, in ns), and hands each
  // snapshot to file unless it is null; both must outlive the publisher.
  MetricsPublisher(const std::vector<int64_t>& bounds, PromSchedule* file);

  // Counts the lines skipped so far by calling skipped between runs; an
  // empty function for none.
  void count_skipped(std::function<int64_t()> skipped) { skipped_ = std::move(skipped); }

  // Keeps the quantiles of closed for the snapshots to come.
  void interval(const Interval& closed) override;

  // Publishes a snapshot of accumulator, between two runs, if the last one
  // is a period old at now; else the runs since stay unpublished.
  void progressed(const Accumulator& accumulator, int64_t now);

  // Whether runs were added since the last snapshot offered, and when the
  // next snapshot is due.
  bool unpublished() const { return unpublished_; }
  int64_t next_publish() const { return next_publish_; }

  // Takes a snapshot of accumulator at now and offers it.
  void publish(const Accumulator& accumulator, int64_t now);

  // Publishes the final figures of accumulator, finished, with skipped lines
  // skipped, waiting for the lock if need be, and writes the file at once.
  void finish(const Accumulator& accumulator, int64_t skipped);

  // The reader's latest snapshot, for the reader alone.
  const MetricsSnapshot& snapshot() const { return own_; }

  // For another thread: copies the latest snapshot to *snapshot unless it is
  // that of generation, and returns its generation; the first is 1.
  uint64_t latest(uint64_t generation, MetricsSnapshot* snapshot);

 private:
  // Offers own_ to other threads; false if the lock was taken and wait is not.
  bool offer(bool wait);

  const std::vector<int64_t>& bounds_;
  PromSchedule* file_;
  std::function<int64_t()> skipped_;
  // The reader's own snapshot, and when it next takes one.
  MetricsSnapshot own_;
  int64_t next_publish_ = 0;
  bool unpublished_ = false;
  // What other threads read, under mutex_.
  std::mutex mutex_;
  MetricsSnapshot shared_;
  uint64_t generation_ = 1;
};

}  // namespace caplat::stat
