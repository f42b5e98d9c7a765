#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "bytestring.h"
#include "newline.h"

namespace caplat {

// Decodes a capture log one line at a time: receive-time lines, payload header
// lines and hex dump lines, and finds the sender's application time in each
// completed payload.
class Input {
 public:
  // Application-time format, fixed by the first payload in which one is found.
  enum Mode : uint32_t { Undetected, DataTimeSeconds, EMilliseconds, TsMilliseconds, TimeIso8601 };

  // Where the record being read stands.
  enum State : uint32_t { NeedTimestamp, HaveTimestamp, InPayload };

  // A format's key and its length, after which the value follows.
  struct Proto {
    uint64_t skip;
    const char* key;
  };

  // The title that starts a payload header line.
  static constexpr char header_title[] = "Decompressed payload (";
  // Its length.
  static constexpr size_t header_title_size = sizeof header_title - 1;

  // Keys of the formats, indexed by Mode.
  static const Proto proto_str[5];

  // The log; borrowed, never closed here.
  FILE* file = stdin;
  // Application-time format detected so far.
  Mode mode = Undetected;
  // Record state.
  State state = NeedTimestamp;
  // Receive time of the current record, in nanoseconds since the epoch.
  uint64_t timestamp = 0;
  // Payload bytes still expected while InPayload.
  uint64_t remaining = 0;
  // Payload bytes decoded so far; always NUL-terminated.
  ByteString payload;

  // Decodes one NUL-terminated line; true when pair (receive, application) is complete.
  bool parse(uint64_t* pair, const unsigned char* line);

  // As above for a line of size bytes as read, NUL-terminated or not (a NUL inside
  // still ends the text).
  bool parse(uint64_t* pair, const unsigned char* line, size_t size);

  // Decodes the whole lines at the start of the size bytes at data, each a piece of at
  // most piece_limit bytes ended by a newline, in place with the same transitions,
  // until a pair is complete or a line needs a copy; sets used to the bytes taken.
  // True when pair is complete.
  bool parse_lines(uint64_t* pair, const unsigned char* data, size_t size, size_t* used);

  // True if line is a receive-time line; stores its time in nanoseconds through ts.
  // The receive-time line keeps its old name here, the hex header.
  static bool parse_hex_header(uint64_t* ts, const unsigned char* line);

  // The byte count announced by a payload header line, or 0 if line is not one.
  static uint64_t parse_payload_header(const unsigned char* line);

  // True if line is a well-formed hex line; appends its bytes to payload.
  bool parse_payload(const unsigned char* line);

  // Parses an application-time value written in mode; a null value fails.
  static bool parse_app_ts(uint64_t* ts, const char* value, Mode mode);

  // Finds the key of mode in a NUL-terminated payload and parses the value after it.
  static bool parse_app_ts(uint64_t* ts, const unsigned char* payload, Mode mode);

  // As above in the detected mode, detecting and fixing the mode on first success.
  bool parse_app_ts(uint64_t* ts, const unsigned char* payload);

 private:
  // The byte count after a header's title, as strtoul reads it.
  static uint64_t header_count(const unsigned char* count);

  void record_line(uint64_t* pair, const unsigned char* line, uint64_t count);
  void accept_timestamp(uint64_t* pair, uint64_t ts);
  void start_payload(uint64_t count);
  bool complete_payload(uint64_t* pair);
  // Both are inlined into the line loop, which calls each once a payload.
  [[gnu::always_inline]] inline size_t decode_run(const unsigned char* data, size_t size);
  [[gnu::always_inline]] inline bool detect_app_ts(uint64_t* ts, const unsigned char* text,
                                                   size_t size);

  // A NUL-terminated copy of a line that the line rules must read.
  unsigned char text_[piece_limit + 1] = {};
};

}  // namespace caplat
