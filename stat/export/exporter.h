#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "accumulator.h"
#include "export_observer.h"
#include "export_options.h"
#include "exposition.h"
#include "http_server.h"
#include "metrics_publisher.h"
#include "prom_file.h"
#include "prom_schedule.h"
#include "scrape_handler.h"

namespace caplat::stat {

// Makes the figures of a run available to a monitoring system as it reads:
// served to Prometheus over HTTP (--listen) and written to a file for
// node_exporter (--prom), both from snapshots the reader publishes without
// waiting; after the input ends, the final figures are served until a signal.
class Exporter {
 public:
  // Exports what options ask for, the quantiles of the last interval if the
  // input is cut into intervals of interval ns (0 for none), and the
  // latencies of range ("0 to 1 h") in the histogram; nothing if options name
  // neither a server nor a file.
  Exporter(const ExportOptions& options, int64_t interval, const std::string& range);

  // Checks that the file, if asked for, can be written, starts the server,
  // if asked for, leaving descriptors for later_files that the reader will
  // open, and watches accumulator, which must outlive the exporter; false
  // after reporting why not.
  bool start(Accumulator* accumulator, size_t later_files);

  // Counts the lines skipped so far with skipped while reading; an empty
  // function when the reading is over.
  void count_skipped(std::function<int64_t()> skipped);

  // Publishes the final figures of accumulator, finished, with skipped lines
  // skipped, and writes the file; false if it could not be written, now or
  // before. From here SIGINT and SIGTERM wait for linger().
  bool finish(const Accumulator& accumulator, int64_t skipped);

  // Serves the final figures until SIGINT or SIGTERM, or for the time of
  // --linger; returns at once without a server.
  void linger();

 private:
  const ExportOptions& options_;
  // Whether -i cuts the input into intervals, whose quantiles are shown.
  bool intervals_;
  // Each is made after, and goes before, those it uses.
  std::unique_ptr<Exposition> exposition_;
  std::unique_ptr<PromFile> file_;
  std::unique_ptr<PromSchedule> schedule_;
  std::unique_ptr<MetricsPublisher> publisher_;
  std::unique_ptr<ExportObserver> observer_;
  std::unique_ptr<ScrapeHandler> scrapes_;
  std::unique_ptr<HttpServer> server_;
};

}  // namespace caplat::stat
