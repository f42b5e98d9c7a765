#include "input.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "logtext.h"

namespace {

using logtext::bytes;

constexpr uint64_t kNoValue = ~uint64_t{0};

TEST(TimestampLine, RulesAndDecimalScan) {
  struct Case {
    const char* line;
    uint64_t ns;  // kNoValue: not a timestamp line
  } cases[] = {
      {"1700000000.15\n", 1700000000150000000},
      {"1700000000\n", 1700000000000000000},
      {"1700000000", 1700000000000000000},
      {"1700000000.123456789123\n", 1700000000123456789},
      {"1700000000.999999999999\n", 1700000000999999999},
      {"9999999999.999999999\n", 9999999999999999999u},
      {"0\n", 0},
      {"1700000000.\n", 1700000000000000000},
      {"1.2.3\n", 1200000000},
      {"00000000001700000000\n", kNoValue},  // eleven digits and more
      {"17000000000\n", kNoValue},
      {" 1700000000\n", kNoValue},
      {"+1700000000\n", kNoValue},
      {"-1\n", kNoValue},
      {"1700000000\r\n", kNoValue},
      {"1700000000 \n", kNoValue},
      {"1700000000x\n", kNoValue},
      {".5\n", kNoValue},
      {"\n", kNoValue},
      {"", kNoValue},
  };
  for (const Case& c : cases) {
    uint64_t ns = kNoValue;
    bool ok = Input::parse_hex_header(&ns, bytes(c.line));
    EXPECT_EQ(ok, c.ns != kNoValue) << c.line;
    EXPECT_EQ(ns, c.ns) << c.line;
  }
}

TEST(PayloadHeader, CountAfterTitle) {
  struct Case {
    const char* line;
    uint64_t count;
  } cases[] = {
      {"Decompressed payload (19 bytes)\n", 19},
      {"Decompressed payload (121 bytes):\n", 121},
      {"Decompressed payload ( 7 bytes)\n", 7},
      {"Decompressed payload (0 bytes)\n", 0},
      {"Decompressed payload (-1 bytes)\n", ~uint64_t{0}},
      {"Decompressed payload (99999999999999999999999 bytes)\n", ~uint64_t{0}},
      {"Decompressed payload (x bytes)\n", 0},
      {"Decompressed payload 19\n", 0},
      {" Decompressed payload (19 bytes)\n", 0},
      {"decompressed payload (19 bytes)\n", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Input::parse_payload_header(bytes(c.line)), c.count) << c.line;
}

TEST(HexLine, ShapesAndCounts) {
  struct Case {
    uint64_t remaining;
    const char* line;
    bool ok;
    const char* appended;  // hex of the bytes appended
    uint64_t remaining_after;
  } cases[] = {
      {19, "0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31\n", true,
       "7b2245223a3137303030303030303031", 3},
      {3, "0010  32 33 7d\n", true, "32337d", 0},
      {4, "0010  32 33 7d 7e 7f 80\n", true, "32337d7e", 0},
      {2, "0010  32\t33   ...\n", true, "3233", 0},
      {2, "0010  3233\n", true, "3233", 0},
      {16, "0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31   {\"E\":17000000001\n", true,
       "7b2245223a3137303030303030303031", 0},
      // A failure while reading pairs keeps the bytes before it, and remaining drops by n.
      {20, "0000  7b 22 zz\n", false, "7b22", 4},
      {3, "0010  32 33\n", false, "3233", 0},
      {2, "0010  32 3\n", false, "32", 0},
      // Shapes refused before any byte is read.
      {0, "0000  7b 22\n", false, "", 0},
      {3, "0000  7B 22 45\n", false, "", 0},
      {3, "00A0  7b 22 45\n", false, "", 3},
      {3, "0000  7b 22 4\n", false, "7b22", 0},
      {3, "0000 7b\n", false, "", 3},
      {1, "0000  7\n", false, "", 0},
      {3, "0000\t 7b 22 45\n", false, "", 3},
      {3, "0000 \t7b 22 45\n", false, "", 3},
      {3, "xyz0  7b 22 45\n", false, "", 3},
      {3, "", false, "", 3},
      // Indentation: position 4 and 5 of the line itself must be spaces.
      {1, " 0000  7b\n", false, "", 1},
      {1, "     0000  7b\n", false, "", 1},
      {1, "      0000  7b\n", true, "7b", 0},
      {1, "\t\t\t\t  0000  7b\n", true, "7b", 0},
      // Wide offset columns, once a payload passes 64 KiB.
      {2, "10000  7b 22\n", true, "7b22", 0},
      {2, "ffffffff  7b 22\n", true, "7b22", 0},
      {2, "123456789  7b 22\n", false, "", 2},
      {2, "10000 7b 22\n", false, "", 2},
      {2, "10000\t 7b 22\n", false, "", 2},
      {2, "1000A  7b 22\n", false, "", 2},
      {2, " 10000  7b 22\n", false, "", 2},
      {2, "1700000000.15\n", false, "", 2},
  };
  for (const Case& c : cases) {
    Input in;
    in.remaining = c.remaining;
    bool ok = in.parse_payload(bytes(c.line));
    std::string hex;
    for (unsigned char b : in.payload) {
      char two[3];
      snprintf(two, sizeof two, "%02x", b);
      hex += two;
    }
    EXPECT_EQ(ok, c.ok) << c.line;
    EXPECT_EQ(hex, c.appended) << c.line;
    EXPECT_EQ(in.remaining, c.remaining_after) << c.line;
  }
}

// Runs lines through a fresh decoder; pairs as "application receive" lines.
struct Outcome {
  std::string pairs;
  std::string errors;
  Input::Mode mode;
};

Outcome decode(const std::vector<std::string>& lines, Input::Mode mode = Input::Undetected) {
  Input in;
  in.mode = mode;
  Outcome out;
  uint64_t pair[2];
  testing::internal::CaptureStderr();
  for (const std::string& line : lines) {
    if (in.parse(pair, bytes(line)))
      out.pairs += std::to_string(pair[1]) + " " + std::to_string(pair[0]) + "\n";
  }
  out.errors = testing::internal::GetCapturedStderr();
  out.mode = in.mode;
  return out;
}

const std::string e123 = "{\"E\":1700000000123}";
const std::string pair123 = "1700000000123000000 1700000000150000000\n";
const std::string malformed = "Malformed HEX payload\n!";

TEST(Records, StateMachine) {
  using logtext::lines;
  using logtext::payload;
  using logtext::record;
  const std::string forty(40, 'x');
  struct Case {
    const char* name;
    std::string log;
    std::string pairs;
    std::string errors;
  } cases[] = {
      {"four-line record",
       "1700000000.15\nDecompressed payload (19 bytes)\n"
       "0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31\n0010  32 33 7d\n",
       pair123, ""},
      {"printable column", record("1700000000.15", e123, true), pair123, ""},
      {"second timestamp replaces the first", "1600000000\n" + record("1700000000.15", e123),
       pair123, ""},
      {"header before any timestamp", payload(e123) + record("1700000000.15", e123), pair123, ""},
      {"zero-byte header ignored",
       "1700000000.15\nDecompressed payload (0 bytes)\n" + payload(e123), pair123, ""},
      {"two payloads share a receive time", record("1700000000.15", e123) + payload(e123),
       pair123 + pair123, ""},
      {"frame dump and blank lines ignored",
       "1700000000.15\n\nFrame (40 bytes):\n" + logtext::dump(forty)[0] + logtext::dump(forty)[1] +
           payload(e123),
       pair123, ""},
      {"timestamp inside a dump is lost",
       "1700000000.15\nDecompressed payload (19 bytes)\n"
       "0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31\n" +
           record("1700000000.15", e123) + record("1700000000.15", e123),
       pair123, malformed + "WARNING: Discarded payload with 16 bytes!!\n"},
      {"discarded bytes counted at the next timestamp",
       "1700000000.15\nDecompressed payload (40 bytes)\n" + logtext::dump(forty)[0] +
           logtext::dump(forty)[1] + "not hex\n" + record("1700000000.15", e123),
       pair123, malformed + "WARNING: Discarded payload with 32 bytes!!\n"},
      {"no warning when no byte was decoded",
       "1700000000.15\nDecompressed payload (40 bytes)\nnot hex\n" + record("1700000000.15", e123),
       pair123, malformed},
      {"header inside a dump fails and skips the new dump",
       "1700000000.15\nDecompressed payload (40 bytes)\n" + logtext::dump(forty)[0] +
           payload(e123) + "1700000000.15\n" + payload(e123),
       pair123, malformed + "WARNING: Discarded payload with 16 bytes!!\n"},
      {"header announcing 2^64-1 bytes",
       "1700000000.15\nDecompressed payload (-1 bytes)\n" + logtext::dump(forty)[0] + "end\n", "",
       malformed},
      {"payload without a time", record("1700000000.15", "{\"x\":1}") + payload(e123), pair123, ""},
      {"carriage returns",
       "1700000000.15\r\nDecompressed payload (19 bytes)\r\n"
       "0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31\r\n0010  32 33 7d\r\n",
       "", ""},
      {"dump cut short by a blank line",
       "1700000000.15\nDecompressed payload (40 bytes)\n" + logtext::dump(forty)[0] + "\n", "",
       malformed},
  };
  for (const Case& c : cases) {
    Outcome out = decode(lines(c.log));
    EXPECT_EQ(out.pairs, c.pairs) << c.name;
    EXPECT_EQ(out.errors, c.errors) << c.name;
  }
}

TEST(ApplicationTime, FormatsAndDetection) {
  using M = Input::Mode;
  struct Case {
    M before;
    const char* payload;
    uint64_t ns;  // kNoValue: none found
    M after;
  } cases[] = {
      {M::Undetected, "{\"a\":1,\"time\":\"2023-11-14T22:13:20.123456Z\"}", 1700000000123456000,
       M::TimeIso8601},
      {M::Undetected, "{\"a\":1,\"time\":\"2023-11-14T22:13:20.123Z\"}", 1700000000000123000,
       M::TimeIso8601},
      {M::Undetected, "{\"a\":1,\"time\":\"2023-11-14T22:13:20.5Z\"}", 1700000000000005000,
       M::TimeIso8601},
      {M::Undetected, "{\"a\":1,\"time\":\"2023-11-14T22:13:20.1234567Z\"}", 1700000000123456000,
       M::TimeIso8601},
      {M::Undetected, "{\"a\":1,\"time\":\"2023-11-14T22:13:20Z\"}", kNoValue, M::Undetected},
      {M::Undetected, "{\"time\":\"2023-11-14T22:13:20.123456Z\"}", kNoValue, M::Undetected},
      {M::Undetected, "{\"a\":1,\"time\":\"2023-11-14T22:13:20.123456\"}", 1700000000123456000,
       M::TimeIso8601},
      {M::Undetected, "{\"a\":1,\"time\":\"2023-11-14T22:13:80.000001Z\"}", 1700000060000001000,
       M::TimeIso8601},
      {M::Undetected, "{\"a\":1,\"time\":\"1969-12-31T23:59:59.000000Z\"}", kNoValue,
       M::Undetected},
      {M::Undetected, "{\"a\":1,\"time\":\"1969-12-31T23:59:58.000001Z\"}",
       uint64_t{0} - 2000000000 + 1000, M::TimeIso8601},
      {M::Undetected, "{\"data\":{\"time\":1700000000.5}}", 1700000000500000000,
       M::DataTimeSeconds},
      {M::Undetected, "{\"data\":{\"time\": 1700000000.123456789999}}", 1700000000123456789,
       M::DataTimeSeconds},
      {M::Undetected, "{\"data\":{\"time\":17000000000}}", kNoValue, M::Undetected},
      {M::Undetected, "{\"E\":1700000000123}", 1700000000123000000, M::EMilliseconds},
      {M::Undetected, "{\"E\": 1700000000123}", 1700000000123000000, M::EMilliseconds},
      {M::Undetected, "{\"E\":17000000001234}", kNoValue, M::Undetected},
      {M::Undetected, "{\"E\":\"1700000000123\"}", kNoValue, M::Undetected},
      {M::Undetected, "{\"ts\":\"1700000000123.456\"}", 1700000000123456000, M::TsMilliseconds},
      {M::Undetected, "{\"ts\":\"1700000000123.4567899\"}", 1700000000123456789, M::TsMilliseconds},
      {M::Undetected, "{\"E\":1700000000123,\"time\":\"2023-11-14T22:13:20.123456Z\"}",
       1700000000123456000, M::TimeIso8601},
      // The first key match decides: a later, valid E is not tried.
      {M::Undetected, "{\"E\":x,\"E\":1700000000123,\"ts\":\"5\"}", 5000000, M::TsMilliseconds},
      // Nothing past the payload's first NUL is searched.
      {M::Undetected, "{\"a\":1}\0{\"E\":1700000000123}", kNoValue, M::Undetected},
      {M::EMilliseconds, "{\"a\":1,\"time\":\"2023-11-14T22:13:20.123456Z\"}", kNoValue,
       M::EMilliseconds},
      {M::EMilliseconds, "{\"E\":1700000000123}", 1700000000123000000, M::EMilliseconds},
      {M::DataTimeSeconds, "{\"E\":1,\"data\":{\"time\":1700000000}}", 1700000000000000000,
       M::DataTimeSeconds},
      {M::TsMilliseconds, "{\"E\":1700000000123}", kNoValue, M::TsMilliseconds},
  };
  for (const Case& c : cases) {
    Input in;
    in.mode = c.before;
    uint64_t ns = kNoValue;
    bool ok = in.parse_app_ts(&ns, bytes(c.payload));
    EXPECT_EQ(ok, c.ns != kNoValue) << c.payload;
    EXPECT_EQ(ns, c.ns) << c.payload;
    EXPECT_EQ(in.mode, c.after) << c.payload;
  }
}

TEST(ApplicationTime, ModeIsFixedByFirstSuccess) {
  using logtext::record;
  std::string log =
      record("1700000000.15", "{\"x\":1}") + record("1700000000.15", "{\"ts\":\"1700000000100\"}") +
      record("1700000000.15", e123) + record("1700000000.15", "{\"ts\":\"1700000000123\"}");
  Outcome out = decode(logtext::lines(log));
  EXPECT_EQ(out.pairs, "1700000000100000000 1700000000150000000\n" + pair123);
  EXPECT_EQ(out.mode, Input::TsMilliseconds);
}

}  // namespace
