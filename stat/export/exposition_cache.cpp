#include "exposition_cache.h"

namespace caplat::stat {

ExpositionCache::ExpositionCache(MetricsPublisher* publisher, const Exposition& exposition)
    : publisher_(publisher), exposition_(exposition) {}

std::shared_ptr<const std::string> ExpositionCache::text() {
  uint64_t generation = publisher_->latest(generation_, &snapshot_);
  if (text_ == nullptr || generation != generation_) {
    text_ = std::make_shared<const std::string>(exposition_.text(snapshot_));
    generation_ = generation;
  }
  return text_;
}

}  // namespace caplat::stat
