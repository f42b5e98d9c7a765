#include "http_request.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace caplat::stat {

namespace {

// The scheme of a target in absolute form, which a proxy sends and every
// HTTP/1.1 server must take: the path follows the host.
constexpr std::string_view http_scheme = "http://";

// The length of the empty line that text starts with (CR LF, or LF alone),
// or 0.
size_t empty_line(std::string_view text) {
  if (text.substr(0, 1) == "\n") return 1;
  return text.substr(0, 2) == "\r\n" ? 2 : 0;
}

}  // namespace

HttpRequest::Status HttpRequest::received(size_t n) {
  // Only the new bytes and the three before them can complete the empty line,
  // which ends the head; one empty line before the request line is ignored,
  // as HTTP/1.1 asks of a server.
  size_t skipped = empty_line(std::string_view(buffer_, used_ + n));
  size_t from = std::max(used_ >= 3 ? used_ - 3 : 0, skipped);
  used_ += n;
  for (size_t i = from; i < used_; ++i) {
    if (buffer_[i] != '\n') continue;
    // The line that ends here is empty if it starts here, or at a CR just before.
    auto starts_line = [&](size_t k) { return k == skipped || buffer_[k - 1] == '\n'; };
    bool ended = starts_line(i) || (i > skipped && buffer_[i - 1] == '\r' && starts_line(i - 1));
    if (ended) {
      const char* line = buffer_ + skipped;
      return parse(line, static_cast<const char*>(memchr(line, '\n', used_ - skipped)));
    }
  }
  return used_ == max_size ? TooLarge : Incomplete;
}

HttpRequest::Status HttpRequest::parse(const char* p, const char* end) {
  // METHOD SP TARGET SP HTTP/1.x, ended by CR LF or LF.
  if (end > p && end[-1] == '\r') --end;
  std::string_view line(p, static_cast<size_t>(end - p));
  size_t first = line.find(' ');
  size_t last = line.rfind(' ');
  if (first == std::string_view::npos || first == 0 || last == first) return BadRequest;
  method_ = line.substr(0, first);
  std::string_view target = line.substr(first + 1, last - first - 1);
  std::string_view version = line.substr(last + 1);
  bool token =
      std::all_of(method_.begin(), method_.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  bool printable =
      std::all_of(target.begin(), target.end(), [](char c) { return c > ' ' && c < 0x7f; });
  // An absolute target names the host before the path, an empty path "/".
  bool absolute = target.size() > http_scheme.size() &&
                  std::equal(http_scheme.begin(), http_scheme.end(), target.begin(),
                             [](char a, char b) { return a == (b | 0x20); });
  if (absolute) {
    size_t from = target.find_first_of("/?", http_scheme.size());
    target = from == std::string_view::npos ? "/" : target.substr(from);
  }
  if (!token || !printable || target.empty() || (target[0] != '/' && !absolute) ||
      version.size() != 8 || version.substr(0, 7) != "HTTP/1." || version[7] < '0' ||
      version[7] > '9')
    return BadRequest;
  path_ = target.substr(0, target.find('?'));
  return Whole;
}

}  // namespace caplat::stat
