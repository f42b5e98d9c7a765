#include "metrics_publisher.h"

#include "monotonic.h"

namespace caplat::stat {

MetricsPublisher::MetricsPublisher(const std::vector<int64_t>& bounds, PromSchedule* file)
    : bounds_(bounds), file_(file) {
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

void MetricsPublisher::progressed(const Accumulator& accumulator, int64_t now) {
  if (now >= next_publish_) {
    publish(accumulator, now);
  } else {
    unpublished_ = true;
  }
}

void MetricsPublisher::publish(const Accumulator& accumulator, int64_t now) {
  own_.take(accumulator, bounds_);
  if (skipped_) own_.skipped = skipped_();
  // A snapshot not taken by the lock is offered again after the next run.
  unpublished_ = !offer(false);
  next_publish_ = unpublished_ ? now : now + publish_period;
  if (file_ != nullptr) file_->taken(own_, now);
}

void MetricsPublisher::finish(const Accumulator& accumulator, int64_t skipped) {
  own_.take(accumulator, bounds_);
  own_.skipped = skipped;
  offer(true);
  if (file_ != nullptr) file_->write(own_, coarse_monotonic_ns());
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

uint64_t MetricsPublisher::latest(uint64_t generation, MetricsSnapshot* snapshot) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) *snapshot = shared_;
  return generation_;
}

}  // namespace caplat::stat
