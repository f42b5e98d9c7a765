#pragma once

#include <cstddef>

namespace caplat::stat {

// A request's head as it arrives on a connection of the metrics server, held
// in a buffer of bounded size, and what to answer once it is whole.
class HttpRequest {
 public:
  // The longest head taken; a longer one is answered TooLarge.
  static constexpr size_t max_size = 8192;

  // What a head asks for, Incomplete until it has ended.
  enum Answer {
    Incomplete,
    Metrics,
    MetricsHead,
    NotFound,
    MethodNotAllowed,
    BadRequest,
    TooLarge
  };

  // Where the next bytes received go, and how many fit.
  char* space() { return buffer_ + used_; }
  size_t room() const { return max_size - used_; }

  // Takes n bytes received into space(); returns what to answer once the
  // head has ended (at an empty line) or the buffer is full.
  Answer received(size_t n);

 private:
  // What the request line from p to end asks for.
  static Answer answer(const char* p, const char* end);

  char buffer_[max_size]{};
  size_t used_ = 0;
};

}  // namespace caplat::stat
