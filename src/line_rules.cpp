// Input's recognisers of the three kinds of line, by the plain rules: a
// receive-time line, a payload header, a dump line.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "decimal.h"
#include "input.h"

namespace caplat {

namespace {

using decimal::is_blank;
using decimal::is_digit;

bool is_hex(unsigned char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f');
}
unsigned hex_value(unsigned char c) {
  return is_digit(c) ? c - '0' : c - 'a' + 10;
}

const unsigned char* skip_blanks(const unsigned char* p) {
  while (is_blank(*p)) ++p;
  return p;
}

// Up to this many plain digits cannot overflow, and strtoul would read them alike.
constexpr int plain_count_digits = 19;

}  // namespace

uint64_t Input::header_count(const unsigned char* count) {
  uint64_t value = 0;
  int digits = 0;
  for (; digits <= plain_count_digits && is_digit(count[digits]); ++digits)
    value = value * 10 + (count[digits] - '0');
  if (digits > 0 && digits <= plain_count_digits) return value;
  return strtoul(reinterpret_cast<const char*>(count), nullptr, 10);
}

bool Input::parse_hex_header(uint64_t* ts, const unsigned char* line) {
  // Up to its end the line holds only digits and points, unless it starts
  // with a newline; the number is read from its start, past any blanks.
  if (!is_digit(line[0])) return line[0] == '\n' && decimal::seconds(ts, line, nullptr) != nullptr;
  uint64_t value;
  const unsigned char* p = decimal::seconds(&value, line, nullptr);
  if (p == nullptr) return false;
  for (; *p && *p != '\n'; ++p) {
    if (!is_digit(*p) && *p != '.') return false;
  }
  *ts = value;
  return true;
}

uint64_t Input::parse_payload_header(const unsigned char* line) {
  const char* text = reinterpret_cast<const char*>(line);
  if (text[0] != Input::header_title[0] ||
      strncmp(text, Input::header_title, Input::header_title_size) != 0)
    return 0;
  return header_count(line + Input::header_title_size);
}

bool Input::parse_payload(const unsigned char* line) {
  const unsigned char* p = skip_blanks(line);
  if (!is_hex(p[0]) || !is_hex(p[1]) || !is_hex(p[2]) || !is_hex(p[3])) return false;
  if (remaining == 0 || memchr(line, 0, 8) != nullptr) return false;
  const unsigned char* pairs = p + 4;
  if (line[4] != ' ' || line[5] != ' ') {
    // Dump tools widen the offset column past four digits once a payload
    // passes 64 KiB; such a column starts the line and ends in two spaces.
    if (p != line) return false;
    unsigned width = 4;
    while (width < 9 && is_hex(line[width])) ++width;
    if (width > 8 || line[width] != ' ' || line[width + 1] != ' ') return false;
    pairs = line + width;
  }
  uint64_t n = remaining < 16 ? remaining : 16;
  remaining -= n;
  for (; n > 0; --n) {
    pairs = skip_blanks(pairs);
    if (!is_hex(pairs[0]) || !is_hex(pairs[1])) return false;
    payload.push_back(static_cast<unsigned char>(hex_value(pairs[0]) * 16 + hex_value(pairs[1])));
    pairs += 2;
  }
  return true;
}

}  // namespace caplat
