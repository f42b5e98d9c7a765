// The line rules, one table each: what they take, what they refuse.
#include "input.h"

#include <gtest/gtest.h>

#include <string>

namespace caplat {

namespace {

const unsigned char* bytes(const char* s) {
  return reinterpret_cast<const unsigned char*>(s);
}

TEST(Rules, PayloadHeader) {
  // A count of -1, or past the largest number, reads as the largest, as strtoul reads it.
  const uint64_t most = ~uint64_t{0};
  const std::pair<const char*, uint64_t> cases[] = {
      {"19 bytes)\n", 19}, {"121 bytes):\n", 121}, {" 7 bytes)\n", 7},
      {"x bytes)\n", 0},   {"-1 bytes)\n", most},  {"99999999999999999999999)", most}};
  for (const auto& [count, value] : cases) {
    std::string line = Input::header_title + std::string(count);
    EXPECT_EQ(Input::parse_payload_header(bytes(line.c_str())), value) << line;
    // Any other first byte, a blank among them, is no header.
    for (char first : {'d', ' '}) {
      line[0] = first;
      EXPECT_EQ(Input::parse_payload_header(bytes(line.c_str())), 0u) << line;
    }
  }
}

TEST(Rules, DumpLine) {
  struct Case {
    uint64_t remaining, remaining_after;
    const char* line;
    bool ok;
    const char* appended;  // as text
  } cases[] = {
      // Lines of the canonical shape are compared with the fast decoders in paths_test.
      {2, 0, "0010  32\t33   ...\n", true, "23"},
      {2, 0, "0010  3233\n", true, "23"},
      // A failure while reading pairs keeps the bytes before it; remaining drops all the same.
      {20, 4, "0000  7b 22 zz\n", false, "{\""},
      {2, 0, "0010  32 3\n", false, "2"},
      {0, 0, "0000  7b 22\n", false, ""},
      {3, 0, "0000  7B 22 45\n", false, ""},
      {3, 3, "00A0  7b 22 45\n", false, ""},
      {3, 3, "0000 7b\n", false, ""},
      {3, 3, "0000 \t7b 22 45\n", false, ""},
      {3, 3, "", false, ""},
      // Indented, positions 4 and 5 of the line itself must still be spaces.
      {1, 1, " 0000  7b\n", false, ""},
      {1, 0, "\t\t\t\t  0000  7b\n", true, "{"},
      // Wide offset columns, once a payload passes 64 KiB.
      {2, 0, "ffffffff  7b 22\n", true, "{\""},
      {2, 2, "123456789  7b 22\n", false, ""},
      {2, 2, "10000 7b 22\n", false, ""},
      {2, 2, "1000A  7b 22\n", false, ""}};
  for (const Case& c : cases) {
    Input in;
    in.remaining = c.remaining;
    EXPECT_EQ(in.parse_payload(bytes(c.line)), c.ok) << c.line;
    EXPECT_EQ(in.payload.view(), c.appended) << c.line;
    EXPECT_EQ(in.remaining, c.remaining_after) << c.line;
  }
}

TEST(Rules, ApplicationTime) {
  using enum Input::Mode;
  const uint64_t none = 1;
  struct Case {
    Input::Mode before, after;
    const char* payload;
    uint64_t ns;
  } cases[] = {
      {Undetected, Undetected, R"({"a":1,"time":"2023-11-14T22:13:20Z"})", none},
      {Undetected, Undetected, R"({"time":"2023-11-14T22:13:20.123456Z"})", none},
      // The second before the epoch is timegm's failure, also for the fallback.
      {Undetected, Undetected, R"({"a":1,"time":"1969-12-31T23:59:59.000000Z"})", none},
      {Undetected, DataTimeSeconds, R"({"data":{"time": 1700000000.123456789999}})",
       1700000000123456789},
      {Undetected, EMilliseconds, R"({"E":1700000000123})", 1700000000123000000},
      {Undetected, Undetected, R"({"E":17000000001234})", none},
      // Only bytes up to the space are blanks before a number.
      {Undetected, Undetected, R"({"E":!1700000000123})", none},
      {Undetected, TsMilliseconds, R"({"ts":"1700000000123.4567899"})", 1700000000123456789},
      // The time key is looked for first.
      {Undetected, TimeIso8601, R"({"E":1700000000123,"time":"2023-11-14T22:13:20.123456Z"})",
       1700000000123456000},
      // The first key match decides: a later, valid E is not tried.
      {Undetected, TsMilliseconds, R"({"E":x,"E":1700000000123,"ts":"5"})", 5000000},
      // A fixed mode looks for its own key alone.
      {EMilliseconds, EMilliseconds, R"({"a":1,"time":"2023-11-14T22:13:20.123456Z"})", none}};
  uint64_t ns = none;
  EXPECT_FALSE(Input::parse_app_ts(&ns, bytes(R"({"E":1})"), Undetected));
  // The value alone, as the search hands it over.
  EXPECT_FALSE(Input::parse_app_ts(&ns, static_cast<const char*>(nullptr), EMilliseconds));
  EXPECT_TRUE(Input::parse_app_ts(&ns, "1700000000.5}", DataTimeSeconds));
  EXPECT_EQ(ns, 1700000000500000000U);
  for (const Case& c : cases) {
    Input in;
    in.mode = c.before;
    ns = none;
    EXPECT_EQ(in.parse_app_ts(&ns, bytes(c.payload)), c.ns != none) << c.payload;
    EXPECT_EQ(ns, c.ns) << c.payload;
    EXPECT_EQ(in.mode, c.after) << c.payload;
  }
}

}  // namespace

}  // namespace caplat
