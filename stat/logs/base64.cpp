#include "base64.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

namespace caplat::stat {

namespace {

constexpr char base64_digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each base64 digit, 64 for any other byte.
constexpr std::array<unsigned char, 256> base64_values = [] {
  std::array<unsigned char, 256> values{};
  values.fill(64);
  for (unsigned char i = 0; i < 64; ++i) values[static_cast<unsigned char>(base64_digits[i])] = i;
  return values;
}();

// True if none of the four characters at p may end the text.
bool plain(const char* p) {
  for (int i = 0; i < 4; ++i) {
    if (p[i] == ' ' || p[i] == '\r') return false;
  }
  return true;
}

}  // namespace

void base64_encode(const std::vector<unsigned char>& bytes, std::string* text) {
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) text->push_back(base64_digits[(v >> shift) & 63]);
  }
  if (i == bytes.size()) return;
  uint32_t v = bytes[i] << 16;
  if (i + 1 < bytes.size()) v |= bytes[i + 1] << 8;
  text->push_back(base64_digits[v >> 18]);
  text->push_back(base64_digits[(v >> 12) & 63]);
  text->push_back(i + 1 < bytes.size() ? base64_digits[(v >> 6) & 63] : '=');
  text->push_back('=');
}

size_t Base64Stream::read(unsigned char* out, size_t size) {
  size_t n = 0;
  while (n + 3 <= size && !bad_) {
    if (piece_.empty()) {
      if (ended_) break;
      piece_ = source_();
      if (piece_.empty()) {
        ended_ = true;
        bad_ = held_ != 0;
        break;
      }
    }
    // Whole groups straight from the piece, while nothing is held over.
    if (held_ == 0 && !trailing_ && piece_.size() >= 4 && plain(piece_.data())) {
      n += decode_group(piece_.data(), out + n);
      piece_.remove_prefix(4);
      continue;
    }
    char c = piece_.front();
    piece_.remove_prefix(1);
    if (c == ' ' || c == '\r') {
      trailing_ = true;
    } else if (trailing_) {
      bad_ = true;
    } else {
      group_[held_++] = c;
      if (held_ == 4) {
        n += decode_group(group_, out + n);
        held_ = 0;
      }
    }
  }
  return n;
}

size_t Base64Stream::decode_group(const char* group, unsigned char* out) {
  size_t padding = group[3] != '=' ? 0 : group[2] != '=' ? 1 : 2;
  uint32_t v = 0;
  unsigned char invalid = finished_ ? 64 : 0;
  for (size_t k = 0; k < 4; ++k) {
    unsigned char digit =
        k >= 4 - padding ? 0 : base64_values[static_cast<unsigned char>(group[k])];
    invalid |= digit;
    v = v << 6 | digit;
  }
  if (invalid & 64) {
    bad_ = true;
    return 0;
  }
  finished_ = padding != 0;
  const unsigned char bytes[] = {static_cast<unsigned char>(v >> 16),
                                 static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  std::memcpy(out, bytes, 3 - padding);
  return 3 - padding;
}

}  // namespace caplat::stat
