#pragma once

#include <cstddef>
#include <string_view>

namespace caplat::stat {

// A request's head as it arrives on a connection of the HTTP server, held in
// a buffer of bounded size, and its method and path once it is whole.
class HttpRequest {
 public:
  // The longest head taken; a longer one is TooLarge.
  static constexpr size_t max_size = 8192;

  // Where the head stands: Incomplete until it has ended, then Whole, or
  // BadRequest if its request line is not one of HTTP/1.
  enum Status { Incomplete, Whole, BadRequest, TooLarge };

  // Where the next bytes received go, and how many fit.
  char* space() { return buffer_ + used_; }
  size_t room() const { return max_size - used_; }

  // Takes n bytes received into space(); returns where the head stands once
  // it has ended (at an empty line) or the buffer is full.
  Status received(size_t n);

  // The method of a Whole head, and the path of its target without the
  // query (and, in absolute form, without the scheme and host).
  std::string_view method() const { return method_; }
  std::string_view path() const { return path_; }

 private:
  // Takes the method and path of the request line from p to end.
  Status parse(const char* p, const char* end);

  char buffer_[max_size]{};
  size_t used_ = 0;
  std::string_view method_;
  std::string_view path_;
};

}  // namespace caplat::stat
