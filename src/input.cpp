#include "input.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "decimal.h"
#include "hexline.h"
#include "isotime.h"
#include "keysearch.h"
#include "newline.h"

namespace caplat {

namespace {

// A format's key; its value follows it.
constexpr Input::Proto proto(const char* key) {
  return {std::char_traits<char>::length(key), key};
}

}  // namespace

const Input::Proto Input::proto_str[5] = {
    proto(""),          proto("\"data\":{\"time\":"), proto("\"E\":"),
    proto("\"ts\":\""), proto(",\"time\":\""),
};

namespace {

using decimal::is_digit;

// What follows the count in a header of the common shape.
constexpr char header_end[] = " bytes)\n";
static_assert(sizeof header_end - 1 == 8);

// Bytes a header of the common shape may be read through: the title, the word
// that holds its count and the word after the count.
constexpr size_t common_header_reach = Input::header_title_size + 16;

// The count of a header of the common shape at p, the title, 1 to 7 digits and
// header_end, read a word at a time as header_count would read it; sets size
// to the header's bytes with its newline. False for any other line. The
// common_header_reach bytes at p are read.
bool common_header(uint64_t* count, size_t* size, const unsigned char* p) {
  if (memcmp(p, Input::header_title, Input::header_title_size) != 0) return false;
  const unsigned char* digits = p + Input::header_title_size;
  uint64_t other = decimal::non_digits(digits);
  auto n = static_cast<size_t>(std::countr_zero(other) / 8);
  if (n == 0 || n == 8 || memcmp(digits + n, header_end, 8) != 0) return false;
  *count = decimal::digits_value(digits, n);
  *size = Input::header_title_size + n + 8;
  return true;
}

// Reads the value of an application time written in mode; bytes before limit
// may be read ahead.
bool parse_value(uint64_t* ts, const unsigned char* value, const unsigned char* limit,
                 Input::Mode mode) {
  switch (mode) {
    case Input::DataTimeSeconds:
      return decimal::seconds(ts, value, limit) != nullptr;
    case Input::EMilliseconds:
    case Input::TsMilliseconds:
      return decimal::milliseconds(ts, value, limit) != nullptr;
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

// Both paths make the same transitions through the same helpers; parse_lines
// takes in place only the lines whose rules stop at their newline, and leaves
// every other line to parse, which reads a NUL-terminated copy:
//   state          line               transition                taken in place
//   NeedTimestamp  receive time       accept_timestamp          always
//   HaveTimestamp  header, count > 0  start_payload             if the count starts with a digit
//   HaveTimestamp  receive time       accept_timestamp          always
//   InPayload      dump line          append, complete_payload  in the canonical shape
//   InPayload      any other          malformed, NeedTimestamp  never
// Any other line between payloads means nothing.
bool Input::parse(uint64_t* pair, const unsigned char* line) {
  if (state != InPayload) {
    record_line(pair, line, state == HaveTimestamp ? parse_payload_header(line) : 0);
    return false;
  }
  if (!parse_payload(line)) {
    // The newline before the exclamation mark is what callers have always seen.
    fwrite("Malformed HEX payload\n!", 1, 23, stderr);
    state = NeedTimestamp;
    return false;
  }
  return remaining == 0 && complete_payload(pair);
}

bool Input::parse(uint64_t* pair, const unsigned char* line, size_t size) {
  if (size > piece_limit) size = piece_limit;
  memcpy(text_, line, size);
  text_[size] = 0;
  return parse(pair, text_);
}

// One loop over a buffer's lines, each state's fast case beside the next: it
// reads better whole than cut, and the helpers it would be cut into would each
// have to return where the loop goes on.
bool Input::parse_lines(uint64_t* pair, const unsigned char* data, size_t size, size_t* used) {
  const unsigned char* p = data;
  const unsigned char* end = data + size;
  bool complete = false;
  while (!complete) {
    if (state == InPayload) {
      p += decode_run(p, end - p);
      if (remaining > 16) break;
      // The payload's last line, of 1 to 16 pairs, whose newline usually
      // follows them; a printable column may come between. The decoder reads
      // a whole canonical line's width, past a shorter line.
      if (static_cast<size_t>(end - p) <= hexline::canonical_size) break;
      size_t pairs_end = hexline::short_size(remaining);
      // A newline among the pairs fails the decoding.
      const unsigned char* newline = p + pairs_end;
      if (*newline != '\n') newline = find_piece_end(p, end);
      if (newline == nullptr) break;
      size_t old = payload.size();
      // The decoder writes sixteen bytes whatever the count.
      if (!hexline::decode_short(payload.extend(16), p, remaining)) {
        payload.truncate(old);
        break;
      }
      payload.truncate(old + remaining);
      remaining = 0;
      complete = complete_payload(pair);
      p = newline + 1;
      continue;
    }
    // A receive-time line of the common shape, which parse_hex_header reads alike.
    uint64_t ts;
    if (end - p > static_cast<ptrdiff_t>(decimal::receive_time_size) &&
        p[decimal::receive_time_size] == '\n' && decimal::common_receive_time(&ts, p)) {
      accept_timestamp(pair, ts);
      p += decimal::receive_time_size + 1;
      continue;
    }
    // A header of the common shape, whose count the rules below read alike.
    uint64_t count;
    size_t header_size;
    if (state == HaveTimestamp && end - p >= static_cast<ptrdiff_t>(common_header_reach) &&
        common_header(&count, &header_size, p)) {
      record_line(pair, p, count);
      p += header_size;
      continue;
    }
    const unsigned char* newline = find_piece_end(p, end);
    if (newline == nullptr) break;
    // A lone newline means nothing, but the rules for numbers would skip it as
    // a blank and read on.
    if (p != newline) {
      count = 0;
      if (state == HaveTimestamp && p[0] == Input::header_title[0]) {
        // strtoul would look past the newline for a count that does not start
        // with a digit.
        if (newline - p <= static_cast<ptrdiff_t>(Input::header_title_size) ||
            !is_digit(p[Input::header_title_size]))
          break;
        // The title lies within the piece, so it is compared without a look for NULs.
        if (memcmp(p, Input::header_title, Input::header_title_size) == 0)
          count = Input::header_count(p + Input::header_title_size);
      }
      record_line(pair, p, count);
    }
    p = newline + 1;
  }
  *used = p - data;
  return complete;
}

// Between payloads, a header's count other than 0 starts a payload; otherwise a
// receive-time line starts a record.
void Input::record_line(uint64_t* pair, const unsigned char* line, uint64_t count) {
  uint64_t ts;
  if (count != 0) {
    start_payload(count);
  } else if (parse_hex_header(&ts, line)) {
    accept_timestamp(pair, ts);
  }
}

size_t Input::decode_run(const unsigned char* data, size_t size) {
  // Lines that leave bytes to come cannot complete the payload, so a run of them
  // needs no look at the state in between. They are decoded straight into the
  // payload, a batch at a time so that its storage grows with the lines found.
  constexpr size_t batch = 256;
  size_t taken = 0;
  for (;;) {
    uint64_t lines = remaining == 0 ? 0 : (remaining - 1) / 16;
    if (lines > batch) lines = batch;
    size_t old = payload.size();
    size_t used;
    size_t done =
        hexline::decode_lines(payload.extend(16 * lines), lines, data + taken, size - taken, &used);
    payload.truncate(old + 16 * done);
    remaining -= 16 * done;
    taken += used;
    if (done < batch) return taken;
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
  bool found = detect_app_ts(&pair[1], payload.data(), payload.size());
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

}  // namespace caplat
