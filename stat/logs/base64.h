#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace caplat::stat {

// Appends the base64 text of bytes to text, padded with "=".
void base64_encode(const std::vector<unsigned char>& bytes, std::string* text);

// Decodes base64 text that arrives in pieces, a group of four digits at a
// time. Padding may only end the text, and spaces and carriage returns only
// trail it, as they do at the end of a log line.
class Base64Stream {
 public:
  // Hands out the text a piece at a time; an empty piece ends it.
  using Source = std::function<std::string_view()>;

  // Decodes the text that source hands out.
  explicit Base64Stream(Source source) : source_(std::move(source)) {}

  // Decodes into out until size bytes (a multiple of 3) or the end of the
  // text; returns how many.
  size_t read(unsigned char* out, size_t size);

  // True if the text is not base64.
  bool bad() const { return bad_; }

 private:
  size_t decode_group(const char* group, unsigned char* out);

  Source source_;
  std::string_view piece_;
  char group_[4] = {};
  size_t held_ = 0;
  bool trailing_ = false;
  bool finished_ = false;
  bool ended_ = false;
  bool bad_ = false;
};

}  // namespace caplat::stat
