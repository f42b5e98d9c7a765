#include "export_observer.h"

#include <algorithm>

#include "monotonic.h"

namespace caplat::stat {

ExportObserver::ExportObserver(MetricsPublisher* publisher, PromSchedule* file)
    : publisher_(publisher), file_(file) {}

void ExportObserver::progressed(const Accumulator& accumulator) {
  publisher_->progressed(accumulator, monotonic_ns(true));
}

void ExportObserver::reading(const Accumulator& accumulator, Source* source) {
  for (;;) {
    bool publish = publisher_->unpublished();
    if (!publish && (file_ == nullptr || !file_->behind())) return;
    int64_t due = publish ? publisher_->next_publish() : file_->next_write();
    int64_t left = std::max<int64_t>(due - monotonic_ns(true), 0);
    if (source->wait(static_cast<int>((left + clock_ns_per_ms - 1) / clock_ns_per_ms))) return;
    int64_t now = monotonic_ns(true);
    if (publish) {
      publisher_->publish(accumulator, now);
    } else {
      file_->write(publisher_->snapshot(), now);
    }
  }
}

}  // namespace caplat::stat
