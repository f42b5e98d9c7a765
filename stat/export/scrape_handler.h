#pragma once

#include "exposition.h"
#include "exposition_cache.h"
#include "http_server.h"
#include "metrics_publisher.h"

namespace caplat::stat {

// Answers a scrape: GET /metrics with the text of the latest snapshot, HEAD
// with its head alone; any other path is not found, any other method not
// allowed.
class ScrapeHandler : public HttpHandler {
 public:
  // Shows the snapshots of publisher as exposition writes them; both must
  // outlive the handler.
  ScrapeHandler(MetricsPublisher* publisher, const Exposition& exposition);

  // The answer to request, on the server's thread.
  HttpResponse answer(const HttpRequest& request) override;

 private:
  ExpositionCache text_;
};

}  // namespace caplat::stat
