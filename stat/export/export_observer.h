#pragma once

#include "accumulator.h"
#include "metrics_publisher.h"
#include "prom_schedule.h"

namespace caplat::stat {

// Keeps the exporter up to date on the reader's thread: after every run the
// publisher takes a snapshot if one is due; before a read, the reader waits
// for input here rather than in its read, until the next snapshot or write of
// the file is due, so that a pause in the input never leaves what was read
// unpublished. A regular file never makes it wait.
class ExportObserver : public ProgressObserver {
 public:
  // Paces publisher, and file unless it is null; both must outlive the
  // observer.
  ExportObserver(MetricsPublisher* publisher, PromSchedule* file);

  // Publishes a snapshot of accumulator if the last one is a period old.
  void progressed(const Accumulator& accumulator) override;

  // Publishes what is not yet, and writes the file if it is behind, each once
  // its period is up, unless input for source comes first.
  void reading(const Accumulator& accumulator, Source* source) override;

 private:
  MetricsPublisher* publisher_;
  PromSchedule* file_;
};

}  // namespace caplat::stat
