#include "http_response.h"

#include <cstring>

namespace caplat::stat {

std::string http_head(const char* status, const char* type, size_t length, const char* extra) {
  return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(length) + "\r\n" + extra +
         "Connection: close\r\n\r\n";
}

HttpResponse http_plain(const char* status, const char* text, const char* extra) {
  return {http_head(status, "text/plain; charset=utf-8", strlen(text), extra) + text, nullptr};
}

}  // namespace caplat::stat
