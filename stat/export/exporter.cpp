#include "exporter.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>

#include "monotonic.h"

namespace caplat::stat {

namespace {

// The file of metrics is written no more often than this, in ns of the clock.
constexpr int64_t least_file_period = ns_per_s;
// Descriptors left to the reader beside those it will open later: its
// outputs, and the temporary file of --prom.
constexpr size_t reader_descriptors = 8;

// The signals that end the serving of the final figures.
sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

Exporter::Exporter(const ExportOptions& options, int64_t interval, const std::string& range)
    : options_(options), intervals_(interval != 0) {
  bool serve = !options_.host.empty();
  if (!serve && options_.prom == nullptr) return;
  exposition_ = std::make_unique<Exposition>(options_.buckets, options_.labels, intervals_, range);
  if (options_.prom != nullptr) {
    file_ = std::make_unique<PromFile>(options_.prom);
    // A live file follows the intervals of -i, on the clock.
    schedule_ = std::make_unique<PromSchedule>(file_.get(), *exposition_,
                                               std::max(interval, least_file_period));
  }
  publisher_ = std::make_unique<MetricsPublisher>(options_.buckets, schedule_.get());
  observer_ = std::make_unique<ExportObserver>(publisher_.get(), schedule_.get());
  if (serve) {
    scrapes_ = std::make_unique<ScrapeHandler>(publisher_.get(), *exposition_);
    server_ = std::make_unique<HttpServer>(scrapes_.get());
  }
}

bool Exporter::start(Accumulator* accumulator, size_t later_files) {
  if (publisher_ == nullptr) return true;
  if (file_ != nullptr && !file_->ready()) return false;
  if (server_ != nullptr &&
      !server_->start(options_.host, options_.port, reader_descriptors + later_files))
    return false;
  accumulator->set_bucket_bounds(options_.buckets);
  accumulator->set_observer(observer_.get());
  if (intervals_) accumulator->add_consumer(publisher_.get());
  return true;
}

void Exporter::count_skipped(std::function<int64_t()> skipped) {
  if (publisher_ != nullptr) publisher_->count_skipped(std::move(skipped));
}

bool Exporter::finish(const Accumulator& accumulator, int64_t skipped) {
  if (publisher_ == nullptr) return true;
  if (server_ != nullptr) {
    sigset_t stop = stop_signals();
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  }
  publisher_->finish(accumulator, skipped);
  return schedule_ == nullptr || schedule_->ok();
}

void Exporter::linger() {
  if (server_ == nullptr) return;
  sigset_t stop = stop_signals();
  if (options_.linger == 0) {
    int signal;
    while (sigwait(&stop, &signal) != 0) {
    }
    return;
  }
  int64_t end = monotonic_ns() + options_.linger;
  for (;;) {
    int64_t left = end - monotonic_ns();
    if (left <= 0) return;
    timespec wait{static_cast<time_t>(left / ns_per_s),
                  static_cast<long>(left % ns_per_s)};
    // A stop signal or the time up ends it; another signal's handler, none.
    if (sigtimedwait(&stop, nullptr, &wait) >= 0 || errno != EINTR) return;
  }
}

}  // namespace caplat::stat
