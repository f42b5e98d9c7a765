#include "metrics_publisher.h"

#include <algorithm>

#include "monotonic.h"

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
  if (now >= next_publish_) {
    publish(accumulator, now);
  } else {
    unpublished_ = true;
  }
}

void MetricsPublisher::reading(const Accumulator& accumulator, Source* source) {
  while (unpublished_ || file_behind_) {
    // The reader waits here for input rather than in its read, until the
    // next snapshot or write is due; input that comes ends the wait. A
    // regular file never makes it wait.
    int64_t due = unpublished_ ? next_publish_ : next_write_;
    int64_t left = std::max<int64_t>(due - monotonic_ns(true), 0);
    if (source->wait(static_cast<int>((left + clock_ns_per_ms - 1) / clock_ns_per_ms))) return;
    int64_t now = monotonic_ns(true);
    if (unpublished_) {
      publish(accumulator, now);
    } else {
      write_file(now);
    }
  }
}

bool MetricsPublisher::finish(const Accumulator& accumulator, int64_t skipped) {
  own_.take(accumulator, bounds_);
  own_.skipped = skipped;
  offer(true);
  if (file_ != nullptr) write_file(monotonic_ns(true));
  return file_ok_;
}

void MetricsPublisher::publish(const Accumulator& accumulator, int64_t now) {
  own_.take(accumulator, bounds_);
  if (skipped_) own_.skipped = skipped_();
  // A snapshot not taken by the lock is offered again after the next run.
  unpublished_ = !offer(false);
  next_publish_ = unpublished_ ? now : now + publish_period;
  if (file_ == nullptr) return;
  if (now >= next_write_) {
    write_file(now);
  } else {
    file_behind_ = true;
  }
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

void MetricsPublisher::write_file(int64_t now) {
  if (!file_->write(exposition_.text(own_))) file_ok_ = false;
  next_write_ = now + file_period_;
  file_behind_ = false;
}

uint64_t MetricsPublisher::latest(uint64_t generation, MetricsSnapshot* snapshot) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) *snapshot = shared_;
  return generation_;
}

}  // namespace caplat::stat
