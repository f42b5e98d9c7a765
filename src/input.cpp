#include "input.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "hexline.h"
#include "isotime.h"
#include "keysearch.h"
#include "newline.h"
#include "prefetch.h"

const Input::Proto Input::proto_str[5] = {
    {0, ""}, {15, "\"data\":{\"time\":"}, {4, "\"E\":"}, {6, "\"ts\":\""}, {9, ",\"time\":\""},
};

namespace {

bool is_blank(unsigned char c) {
  return c >= 1 && c <= 32;
}
bool is_digit(unsigned char c) {
  return c >= '0' && c <= '9';
}
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

// Place values of the first nine fraction digits of a second in nanoseconds.
constexpr uint64_t place[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The value of eight digit values, one a byte, the first in the lowest byte,
// all at once in the lanes of one word.
uint64_t eight_values(uint64_t v) {
  v = v * 10 + (v >> 8);  // pairs of digits in every other byte
  return ((v & 0x000000ff000000ff) * (100 + (uint64_t{1000000} << 32)) +
          ((v >> 16) & 0x000000ff000000ff) * (1 + (uint64_t{10000} << 32))) >>
         32;
}

// The eight bytes at p as a word, the first in the lowest byte, less '0' each.
uint64_t load_values(const unsigned char* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v - 0x3030303030303030;
}

// The value of eight ASCII digits.
uint64_t eight_digits(const unsigned char* p) {
  return eight_values(load_values(p));
}

// Bits set in the high half of each byte of the word at p that is no ASCII
// digit, the first in the lowest byte. A digit's byte becomes 0 to 9; any other
// keeps a bit of its high half, or gains one when 6 is added. A carry out of a
// byte only reaches bytes after the first that is no digit.
uint64_t non_digits(const unsigned char* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  v ^= 0x3030303030303030;
  return (v | (v + 0x0606060606060606)) & 0xf0f0f0f0f0f0f0f0;
}

bool eight_are_digits(const unsigned char* p) {
  return non_digits(p) == 0;
}

// The value of the n digits at p, eight at a time where it can. From 8 to 16
// digits, the head is read from the word at p, with zeros shifted in ahead of
// it, side by side with the last eight.
uint64_t digits_value(const unsigned char* p, size_t n) {
  if (n >= 8 && n <= 16) {
    uint64_t head = n == 8 ? 0 : eight_values(load_values(p) << (8 * (16 - n)));
    return head * 100000000 + eight_digits(p + n - 8);
  }
  uint64_t v = 0;
  size_t i = 0;
  for (; i < n % 8; ++i) v = v * 10 + (p[i] - '0');
  for (; i < n; i += 8) v = v * 100000000 + eight_digits(p + i);
  return v;
}

// A receive-time line of the common shape, ten digits, a point and nine digits
// before the newline at line[20], read in a few steps; false for any other.
bool canonical_receive_time(uint64_t* ns, const unsigned char* line) {
  if (!eight_are_digits(line) || !is_digit(line[8]) || !is_digit(line[9]) || line[10] != '.' ||
      !is_digit(line[11]) || !eight_are_digits(line + 12))
    return false;
  // Two words of eight digits, and three digits on their own.
  uint64_t seconds = ((line[0] - '0') * 10 + (line[1] - '0')) * uint64_t{100000000};
  uint64_t fraction = (line[11] - '0') * uint64_t{100000000};
  *ns = (seconds + eight_digits(line + 2)) * 1000000000 + fraction + eight_digits(line + 12);
  return true;
}

// The end of the run of digits at p. Bytes before limit, if it is not null,
// may be read eight at a time.
const unsigned char* digits_end(const unsigned char* p, const unsigned char* limit) {
  if (limit != nullptr) {
    for (; limit - p >= 8; p += 8) {
      if (uint64_t other = non_digits(p)) return p + std::countr_zero(other) / 8;
    }
  }
  while (is_digit(*p)) ++p;
  return p;
}

constexpr char header_title[] = "Decompressed payload (";
constexpr size_t header_title_size = sizeof header_title - 1;

// The byte count after a header's title, as strtoul reads it.
uint64_t header_count(const unsigned char* count) {
  // Up to 19 plain digits cannot overflow, and strtoul would read them alike.
  uint64_t value = 0;
  int digits = 0;
  for (; digits < 20 && is_digit(count[digits]); ++digits)
    value = value * 10 + (count[digits] - '0');
  if (digits > 0 && digits < 20) return value;
  return strtoul(reinterpret_cast<const char*>(count), nullptr, 10);
}

// Reads a non-negative decimal number with at most max_digits integer digits
// into exact nanoseconds: unit is one integer unit, and the fraction counts to
// fraction_digits places, the rest being cut. Returns the end of the number,
// or null if there is none. Bytes before limit, if not null, may be read ahead.
const unsigned char* scan_decimal(uint64_t* ns, const unsigned char* p, const unsigned char* limit,
                                  unsigned max_digits, uint64_t unit, unsigned fraction_digits) {
  p = skip_blanks(p);
  const unsigned char* start = p;
  p = digits_end(p, limit);
  auto digits = static_cast<size_t>(p - start);
  if (digits == 0 || digits > max_digits) return nullptr;
  uint64_t value = digits_value(start, digits) * unit;
  if (*p == '.') {
    const unsigned char* fraction = ++p;
    p = digits_end(p, limit);
    auto counted = static_cast<size_t>(p - fraction);
    if (counted > fraction_digits) counted = fraction_digits;
    if (counted > 0) value += digits_value(fraction, counted) * place[fraction_digits - counted];
  }
  *ns = value;
  return p;
}

const unsigned char* scan_seconds(uint64_t* ns, const unsigned char* p,
                                  const unsigned char* limit) {
  return scan_decimal(ns, p, limit, 10, 1000000000, 9);
}

const unsigned char* scan_milliseconds(uint64_t* ns, const unsigned char* p,
                                       const unsigned char* limit) {
  return scan_decimal(ns, p, limit, 13, 1000000, 6);
}

// Reads the value of an application time written in mode; bytes before limit,
// if not null, may be read ahead.
bool parse_value(uint64_t* ts, const unsigned char* value, const unsigned char* limit,
                 Input::Mode mode) {
  switch (mode) {
    case Input::DataTimeSeconds:
      return scan_seconds(ts, value, limit) != nullptr;
    case Input::EMilliseconds:
    case Input::TsMilliseconds:
      return scan_milliseconds(ts, value, limit) != nullptr;
    case Input::TimeIso8601:
      return isotime::parse(ts, reinterpret_cast<const char*>(value));
    case Input::Undetected:
      break;
  }
  return false;
}

// Finds the key of mode in the size bytes at text, which a NUL follows, and
// reads the value after it.
bool find_app_ts(uint64_t* ts, const unsigned char* text, size_t size, Input::Mode mode) {
  if (mode == Input::Undetected) return false;
  const Input::Proto& proto = Input::proto_str[mode];
  const char* match = find_key(reinterpret_cast<const char*>(text), size, proto.key);
  // The NUL after the text may be read ahead with the value's digits.
  return match != nullptr &&
         parse_value(ts, reinterpret_cast<const unsigned char*>(match) + proto.skip,
                     text + size + 1, mode);
}

}  // namespace

bool Input::parse_hex_header(uint64_t* ts, const unsigned char* line) {
  // Up to its end the line holds only digits and points, unless it starts
  // with a newline; the number is read from its start, past any blanks.
  if (!is_digit(line[0])) return line[0] == '\n' && scan_seconds(ts, line, nullptr) != nullptr;
  uint64_t value;
  const unsigned char* p = scan_seconds(&value, line, nullptr);
  if (p == nullptr) return false;
  for (; *p && *p != '\n'; ++p) {
    if (!is_digit(*p) && *p != '.') return false;
  }
  *ts = value;
  return true;
}

uint64_t Input::parse_payload_header(const unsigned char* line) {
  const char* text = reinterpret_cast<const char*>(line);
  if (text[0] != header_title[0] || strncmp(text, header_title, header_title_size) != 0) return 0;
  return header_count(line + header_title_size);
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
    payload.push_back(static_cast<char>(hex_value(pairs[0]) * 16 + hex_value(pairs[1])));
    pairs += 2;
  }
  return true;
}

bool Input::parse(uint64_t* pair, const unsigned char* line) {
  uint64_t ts;
  switch (state) {
    case NeedTimestamp:
      if (parse_hex_header(&ts, line)) accept_timestamp(pair, ts);
      return false;
    case HaveTimestamp:
      if (uint64_t count = parse_payload_header(line)) {
        start_payload(count);
      } else if (parse_hex_header(&ts, line)) {
        accept_timestamp(pair, ts);
      }
      return false;
    case InPayload:
      if (!parse_payload(line)) {
        // The newline before the exclamation mark is what callers have always seen.
        fwrite("Malformed HEX payload\n!", 1, 23, stderr);
        state = NeedTimestamp;
        return false;
      }
      return remaining == 0 && complete_payload(pair);
  }
  return false;
}

bool Input::parse(uint64_t* pair, const unsigned char* line, size_t size) {
  // Pieces are at most 19,999 bytes, as fgets cuts them.
  if (size >= sizeof text_) size = sizeof text_ - 1;
  memcpy(text_, line, size);
  text_[size] = 0;
  return parse(pair, text_);
}

bool Input::parse_lines(uint64_t* pair, const unsigned char* data, size_t size, size_t* used) {
  const unsigned char* p = data;
  const unsigned char* end = data + size;
  bool complete = false;
  while (!complete) {
    prefetch_ahead(p);
    if (state == InPayload) {
      p += decode_run(p, end - p);
      if (remaining > 16) break;
      // The last line of the payload, of 1 to 16 pairs, mostly ended right after them.
      size_t pairs_end = hexline::short_size(remaining);
      if (static_cast<size_t>(end - p) <= pairs_end) break;
      // A newline among the pairs fails the decoding.
      const unsigned char* newline = p + pairs_end;
      if (*newline != '\n') newline = find_piece_end(p, end);
      if (newline == nullptr) break;
      unsigned char bytes[16];
      if (!hexline::decode_short(bytes, p, remaining)) break;
      payload.append(reinterpret_cast<const char*>(bytes), remaining);
      remaining = 0;
      complete = complete_payload(pair);
      p = newline + 1;
      continue;
    }
    // A receive-time line of the common shape holds no newline before its end.
    uint64_t ts;
    if (end - p > 20 && p[20] == '\n' && canonical_receive_time(&ts, p)) {
      accept_timestamp(pair, ts);
      p += 21;
      continue;
    }
    const unsigned char* newline = find_piece_end(p, end);
    if (newline == nullptr) break;
    // Within a whole piece the line rules stop at its newline as they would at the
    // end of a copy, except where they skip blanks or call strtoul: a receive-time
    // line that starts with a newline, and a header whose count does not start
    // with a digit. Lines that start with any other byte mean nothing here.
    if (is_digit(p[0])) {
      if (parse_hex_header(&ts, p)) accept_timestamp(pair, ts);
    } else if (p[0] == 'D' && state == HaveTimestamp) {
      if (newline - p <= static_cast<ptrdiff_t>(header_title_size) ||
          !is_digit(p[header_title_size]))
        break;
      // The title lies within the piece, so it is compared without a look for NULs.
      if (memcmp(p, header_title, header_title_size) == 0) {
        if (uint64_t count = header_count(p + header_title_size)) start_payload(count);
      }
    }
    p = newline + 1;
  }
  *used = p - data;
  return complete;
}

size_t Input::decode_run(const unsigned char* data, size_t size) {
  // Lines that leave bytes to come cannot complete the payload, so a run of them
  // needs no look at the state in between.
  unsigned char bytes[16 * 256];
  size_t taken = 0;
  for (;;) {
    uint64_t lines = remaining == 0 ? 0 : (remaining - 1) / 16;
    if (lines > 256) lines = 256;
    size_t used;
    size_t done = hexline::decode_lines(bytes, lines, data + taken, size - taken, &used);
    // Copied sixteen bytes at a time, as the vector decoders store them: a wider load
    // from several narrower stores would wait until they had reached the cache.
    size_t old = payload.size();
    payload.resize(old + 16 * done);
    for (size_t i = 0; i < done; ++i) memcpy(&payload[old + 16 * i], bytes + 16 * i, 16);
    remaining -= 16 * done;
    taken += used;
    if (done < 256) return taken;
  }
}

void Input::start_payload(uint64_t count) {
  remaining = count;
  state = InPayload;
  payload.clear();
}

void Input::accept_timestamp(uint64_t* pair, uint64_t ts) {
  pair[0] = ts;
  state = HaveTimestamp;
  timestamp = ts;
  if (!payload.empty()) {
    fprintf(stderr, "WARNING: Discarded payload with %llu bytes!!\n",
            static_cast<unsigned long long>(payload.size()));
    payload.clear();
  }
}

bool Input::complete_payload(uint64_t* pair) {
  state = HaveTimestamp;
  bool found = detect_app_ts(&pair[1], reinterpret_cast<const unsigned char*>(payload.c_str()),
                             payload.size());
  if (found) pair[0] = timestamp;
  payload.clear();
  return found;
}

bool Input::parse_app_ts(uint64_t* ts, const char* value, Mode mode) {
  return value != nullptr &&
         parse_value(ts, reinterpret_cast<const unsigned char*>(value), nullptr, mode);
}

bool Input::parse_app_ts(uint64_t* ts, const unsigned char* payload, Mode mode) {
  return find_app_ts(ts, payload, strlen(reinterpret_cast<const char*>(payload)), mode);
}

bool Input::parse_app_ts(uint64_t* ts, const unsigned char* payload) {
  return detect_app_ts(ts, payload, strlen(reinterpret_cast<const char*>(payload)));
}

bool Input::detect_app_ts(uint64_t* ts, const unsigned char* text, size_t size) {
  if (mode != Undetected) return find_app_ts(ts, text, size, mode);
  static constexpr Mode order[] = {TimeIso8601, DataTimeSeconds, EMilliseconds, TsMilliseconds};
  const Mode* found = std::find_if(std::begin(order), std::end(order),
                                   [&](Mode m) { return find_app_ts(ts, text, size, m); });
  if (found == std::end(order)) return false;
  mode = *found;
  return true;
}
