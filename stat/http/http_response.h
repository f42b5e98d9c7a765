#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace caplat::stat {

// An answer to a request, after which the server closes the connection: the
// head, then the body unless it is null. Several connections may send one
// body; a short one may follow the head in its string instead.
struct HttpResponse {
  std::string head;
  std::shared_ptr<const std::string> body;
};

// The head of an answer whose body, of type, is length bytes long; extra
// holds more header lines, each ended by CR LF.
std::string http_head(const char* status, const char* type, size_t length, const char* extra = "");

// A short answer of text in plain text, head and text in one string.
HttpResponse http_plain(const char* status, const char* text, const char* extra = "");

}  // namespace caplat::stat
