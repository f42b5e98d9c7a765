// Any bytes as the start of a request to the HTTP server, taken at once and
// a byte at a time: no crash, no sanitizer report, and the same head either
// way (where it stands, its method and path), once it has ended or filled its
// buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "http_request.h"

using caplat::stat::HttpRequest;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size = std::min(size, HttpRequest::max_size);
  auto whole = std::make_unique<HttpRequest>();
  memcpy(whole->space(), data, size);
  HttpRequest::Status at_once = whole->received(size);
  auto bytes = std::make_unique<HttpRequest>();
  HttpRequest::Status by_byte = HttpRequest::Incomplete;
  for (size_t i = 0; i < size && by_byte == HttpRequest::Incomplete; ++i) {
    *bytes->space() = static_cast<char>(data[i]);
    by_byte = bytes->received(1);
  }
  if (at_once != by_byte) abort();
  if (at_once == HttpRequest::Whole &&
      (whole->method() != bytes->method() || whole->path() != bytes->path()))
    abort();
  return 0;
}
