#include "prom_schedule.h"

namespace caplat::stat {

PromSchedule::PromSchedule(PromFile* file, const Exposition& exposition, int64_t period)
    : file_(file), exposition_(exposition), period_(period) {}

void PromSchedule::taken(const MetricsSnapshot& snapshot, int64_t now) {
  if (now >= next_write_) {
    write(snapshot, now);
  } else {
    behind_ = true;
  }
}

void PromSchedule::write(const MetricsSnapshot& snapshot, int64_t now) {
  if (!file_->write(exposition_.text(snapshot))) ok_ = false;
  next_write_ = now + period_;
  behind_ = false;
}

}  // namespace caplat::stat
