#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "accumulator.h"
#include "exposition.h"
#include "metrics_snapshot.h"
#include "prom_file.h"

namespace caplat::stat {

// Hands the figures of the reading to the exporter without ever making the
// reader wait: between runs, once a period has passed, the reader takes a
// snapshot and offers it under a lock it only tries; if the server holds the
// lock, it offers again after the next run. When the input pauses, what was
// read since is published once the period is up, in the time the reader
// would have waited for input anyway. The file of metrics is written from the
// same snapshots, by the reader.
class MetricsPublisher : public IntervalConsumer, public ProgressObserver {
 public:
  // Snapshots are taken at most every publish_period ns of the clock.
  static constexpr int64_t publish_period = 100000000;

  // Counts latencies in buckets of bounds (increasing, in ns); writes file,
  // if not null, in exposition's text every file_period ns of the clock.
  MetricsPublisher(const std::vector<int64_t>& bounds, const Exposition& exposition, PromFile* file,
                   int64_t file_period);

  // Counts the lines skipped so far by calling skipped between runs; an
  // empty function for none.
  void count_skipped(std::function<int64_t()> skipped) { skipped_ = std::move(skipped); }

  // Keeps the quantiles of closed for the snapshots to come.
  void interval(const Interval& closed) override;

  // Publishes a snapshot of accumulator if the last one is a period old.
  void progressed(const Accumulator& accumulator) override;

  // If a read of fd would wait, publishes what is not yet, and writes the
  // file if it is behind, each once its period is up, unless input comes.
  void reading(const Accumulator& accumulator, Source* source) override;

  // Publishes the final figures of accumulator, finished, with skipped lines
  // skipped, waiting for the lock if need be, and writes the file; false if a
  // write of the file failed, now or before.
  bool finish(const Accumulator& accumulator, int64_t skipped);

  // For another thread: copies the latest snapshot to *snapshot unless it is
  // that of generation, and returns its generation; the first is 1.
  uint64_t latest(uint64_t generation, MetricsSnapshot* snapshot);

 private:
  // Takes a snapshot of accumulator at now, offers it and writes the file if
  // its period is up.
  void publish(const Accumulator& accumulator, int64_t now);
  // Offers own_ to other threads; false if the lock was taken and wait is not.
  bool offer(bool wait);
  void write_file(int64_t now);

  const std::vector<int64_t>& bounds_;
  const Exposition& exposition_;
  PromFile* file_;
  int64_t file_period_;
  std::function<int64_t()> skipped_;
  // The reader's own snapshot, and when it next takes one and writes the file.
  MetricsSnapshot own_;
  int64_t next_publish_ = 0;
  int64_t next_write_ = 0;
  // Whether runs were added since the last snapshot offered, and snapshots
  // taken since the file was written.
  bool unpublished_ = false;
  bool file_behind_ = false;
  bool file_ok_ = true;
  // What other threads read, under mutex_.
  std::mutex mutex_;
  MetricsSnapshot shared_;
  uint64_t generation_ = 1;
};

}  // namespace caplat::stat
