#include "scrape_handler.h"

#include <memory>
#include <string>
#include <string_view>

namespace caplat::stat {

namespace {

// The only path served; a query after it is ignored.
constexpr std::string_view metrics_path = "/metrics";

}  // namespace

ScrapeHandler::ScrapeHandler(MetricsPublisher* publisher, const Exposition& exposition)
    : text_(publisher, exposition) {}

HttpResponse ScrapeHandler::answer(const HttpRequest& request) {
  if (request.path() != metrics_path)
    return http_plain("404 Not Found", "caplat-stat serves /metrics only\n");
  bool get = request.method() == "GET";
  if (!get && request.method() != "HEAD")
    return http_plain("405 Method Not Allowed", "GET or HEAD only\n", "Allow: GET, HEAD\r\n");
  std::shared_ptr<const std::string> body = text_.text();
  return {http_head("200 OK", Exposition::content_type, body->size()), get ? body : nullptr};
}

}  // namespace caplat::stat
