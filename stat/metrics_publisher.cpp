#include "metrics_publisher.h"

#include "clock.h"

namespace caplat::stat {

MetricsPublisher::MetricsPublisher(const std::vector<int64_t>& bounds, const Exposition& exposition,
                                   PromFile* file, int64_t file_period)
    : bounds_(bounds), exposition_(exposition), file_(file), file_period_(file_period) {
  // Until the reading starts, every count is zero.
  own_.buckets.assign(bounds.size() + 1, 0);
  shared_ = own_;
}

void MetricsPublisher::interval(const Interval& closed) {
  own_.interval_closed = true;
  for (size_t i = 0; i < MetricsSnapshot::quantile_count; ++i) {
    own_.quantiles[i] = closed.histogram.total_count() != 0
                            ? closed.histogram.percentile(exported_quantiles[i].percentile)
                            : -1;
  }
}

void MetricsPublisher::progressed(const Accumulator& accumulator) {
  int64_t now = monotonic_ns(true);
  if (now < next_publish_) return;
  own_.take(accumulator, bounds_);
  if (skipped_) own_.skipped = skipped_();
  // A snapshot not taken by the lock is offered again after the next run.
  next_publish_ = offer(false) ? now + publish_period : now;
  if (file_ != nullptr && now >= next_write_) {
    next_write_ = now + file_period_;
    write_file();
  }
}

bool MetricsPublisher::finish(const Accumulator& accumulator, int64_t skipped) {
  own_.take(accumulator, bounds_);
  own_.skipped = skipped;
  offer(true);
  if (file_ != nullptr) write_file();
  return file_ok_;
}

bool MetricsPublisher::offer(bool wait) {
  std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
  if (wait) {
    lock.lock();
  } else if (!lock.try_lock()) {
    return false;
  }
  shared_ = own_;
  ++generation_;
  return true;
}

void MetricsPublisher::write_file() {
  if (!file_->write(exposition_.text(own_))) file_ok_ = false;
}

uint64_t MetricsPublisher::latest(uint64_t generation, MetricsSnapshot* snapshot) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) *snapshot = shared_;
  return generation_;
}

}  // namespace caplat::stat
