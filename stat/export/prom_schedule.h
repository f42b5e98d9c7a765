#pragma once

#include <cstdint>

#include "exposition.h"
#include "metrics_snapshot.h"
#include "prom_file.h"

namespace caplat::stat {

// When the file of metrics is written, on the reader's thread: from the
// reader's snapshots, at most once a period of the clock; a snapshot taken
// sooner leaves the file behind until the period is up.
class PromSchedule {
 public:
  // Writes file in exposition's text every period ns of the clock; both must
  // outlive the schedule.
  PromSchedule(PromFile* file, const Exposition& exposition, int64_t period);

  // Writes snapshot, taken at now, if the period is up; else the file is
  // behind.
  void taken(const MetricsSnapshot& snapshot, int64_t now);

  // Whether a snapshot taken is not written yet, and when the period is up.
  bool behind() const { return behind_; }
  int64_t next_write() const { return next_write_; }

  // Writes snapshot at now, whether the period is up or not.
  void write(const MetricsSnapshot& snapshot, int64_t now);

  // False if a write failed.
  bool ok() const { return ok_; }

 private:
  PromFile* file_;
  const Exposition& exposition_;
  int64_t period_;
  int64_t next_write_ = 0;
  bool behind_ = false;
  bool ok_ = true;
};

}  // namespace caplat::stat
