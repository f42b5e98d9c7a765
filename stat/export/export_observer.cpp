#include "export_observer.h"

#include <algorithm>

#include "monotonic.h"

namespace caplat::stat {

ExportObserver::ExportObserver(MetricsPublisher* publisher, PromSchedule* file)
    : publisher_(publisher), file_(file) {}

void ExportObserver::progressed(const Accumulator& accumulator) {
  publisher_->progressed(accumulator, coarse_monotonic_ns());
}

void ExportObserver::reading(const Accumulator& accumulator, Source* source) {
  for (;;) {
    bool publish = publisher_->unpublished();
    if (!publish && (file_ == nullptr || !file_->behind())) return;
    int64_t due = publish ? publisher_->next_publish() : file_->next_write();
    if (source->wait(wait_ms(due - coarse_monotonic_ns()))) return;
    int64_t now = coarse_monotonic_ns();
    if (publish) {
      publisher_->publish(accumulator, now);
    } else {
      file_->write(publisher_->snapshot(), now);
    }
  }
}

}  // namespace caplat::stat
