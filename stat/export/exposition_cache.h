#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "exposition.h"
#include "metrics_publisher.h"
#include "metrics_snapshot.h"

namespace caplat::stat {

// The text of the latest snapshot published, made once per snapshot however
// many scrapes ask for it; for the server's thread alone.
class ExpositionCache {
 public:
  // Shows the snapshots of publisher as exposition writes them; both must
  // outlive the cache.
  ExpositionCache(MetricsPublisher* publisher, const Exposition& exposition);

  // The text of the latest snapshot.
  std::shared_ptr<const std::string> text();

 private:
  MetricsPublisher* publisher_;
  const Exposition& exposition_;
  MetricsSnapshot snapshot_;
  uint64_t generation_ = 0;
  std::shared_ptr<const std::string> text_;
};

}  // namespace caplat::stat
