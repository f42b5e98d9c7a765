#include "http_request.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace caplat::stat {

namespace {

// The only path served; a query after it is ignored.
constexpr std::string_view metrics_path = "/metrics";

}  // namespace

HttpRequest::Answer HttpRequest::received(size_t n) {
  // Only the new bytes and the three before them can complete the empty line.
  size_t from = used_ >= 3 ? used_ - 3 : 0;
  used_ += n;
  for (size_t i = from; i < used_; ++i) {
    if (buffer_[i] != '\n') continue;
    bool ended = (i >= 1 && buffer_[i - 1] == '\n') ||
                 (i >= 2 && buffer_[i - 1] == '\r' && buffer_[i - 2] == '\n');
    if (ended) {
      const char* line_end = static_cast<const char*>(memchr(buffer_, '\n', used_));
      return answer(buffer_, line_end);
    }
  }
  return used_ == max_size ? TooLarge : Incomplete;
}

HttpRequest::Answer HttpRequest::answer(const char* p, const char* end) {
  // METHOD SP TARGET SP HTTP/1.x, ended by CR LF or LF.
  if (end > p && end[-1] == '\r') --end;
  std::string_view line(p, static_cast<size_t>(end - p));
  size_t first = line.find(' ');
  size_t last = line.rfind(' ');
  if (first == std::string_view::npos || first == 0 || last == first) return BadRequest;
  std::string_view method = line.substr(0, first);
  std::string_view target = line.substr(first + 1, last - first - 1);
  std::string_view version = line.substr(last + 1);
  bool token =
      std::all_of(method.begin(), method.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  bool printable =
      std::all_of(target.begin(), target.end(), [](char c) { return c > ' ' && c < 0x7f; });
  if (!token || !printable || target.empty() || target[0] != '/' || version.size() != 8 ||
      version.substr(0, 7) != "HTTP/1." || version[7] < '0' || version[7] > '9')
    return BadRequest;
  if (target.substr(0, target.find('?')) != metrics_path) return NotFound;
  if (method == "GET") return Metrics;
  if (method == "HEAD") return MetricsHead;
  return MethodNotAllowed;
}

}  // namespace caplat::stat
