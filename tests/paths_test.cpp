// The fast paths (block reading, one-step hex lines at every instruction
// level, the common ISO-8601 shape) against the plain line-by-line rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hexline.h"
#include "isotime.h"
#include "keysearch.h"
#include "logtext.h"
#include "parser.h"
#include "reader.h"
#include "runlog.h"

namespace {

using logtext::bytes;

std::vector<hexline::Level> levels() {
  std::vector<hexline::Level> all = {hexline::Level::Scalar};
  if (hexline::best_level() >= hexline::Level::Ssse3) all.push_back(hexline::Level::Ssse3);
  if (hexline::best_level() >= hexline::Level::Avx2) all.push_back(hexline::Level::Avx2);
  if (hexline::best_level() >= hexline::Level::Avx512) all.push_back(hexline::Level::Avx512);
  return all;
}

// Lines that sit on every boundary of the 20,000-byte buffer. They are made of
// digits, so that the last piece of a long line, when short, is a receive-time
// line that the payload after it shows.
std::vector<std::string> boundary_logs() {
  std::vector<std::string> logs = {
      "", "\n", "\n\n", "1", "1\n", std::string(1, '\0'), std::string("1\0b\n2\0", 6)};
  for (size_t n : {19997, 19998, 19999, 20000, 20001, 20008, 39998, 39999, 40000, 40001}) {
    std::string line(n, '1');
    logs.push_back(line);
    logs.push_back(line + "\n");
    logs.push_back(line + "\n2\n");
    line[n / 2] = '\0';
    logs.push_back(line + "\n");
  }
  return logs;
}

bool canonical_shape(const std::string& line, size_t pairs) {
  const std::string shape = "hhhh  hh hh hh hh hh hh hh hh hh hh hh hh hh hh hh hh";
  for (size_t i = 0; i < hexline::short_size(pairs); ++i) {
    char c = line[i];
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    if (shape[i] == 'h' ? !hex : c != ' ') return false;
  }
  return true;
}

// One dump line of 1 to 16 pairs, decoded by the plain rules and by each level,
// with every position replaced by each boundary byte in turn.
TEST(HexLine, EveryPositionAgainstBoundaryBytes) {
  const std::string full = "00a0  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31";
  const unsigned char probes[] = {0,   '\t', '\n', ' ', '/', '0', '9', ':', '@',  'A',
                                  'F', 'G',  '`',  'a', 'f', 'g', 127, 128, 0xb0, 255};
  for (size_t pairs = 1; pairs <= 16; ++pairs) {
    const std::string canonical = full.substr(0, hexline::short_size(pairs));
    std::vector<std::string> lines = {canonical + "\n", canonical + "   {\"E\":17000000001\n",
                                      canonical + " 00\n", canonical};
    for (size_t pos = 0; pos < canonical.size(); ++pos) {
      for (unsigned char probe : probes) {
        std::string line = canonical + "\n";
        line[pos] = static_cast<char>(probe);
        lines.push_back(line);
      }
    }
    for (const std::string& line : lines) {
      Input plain;
      plain.remaining = pairs;
      // The plain rules see the text up to the first NUL.
      std::string text(line.c_str());
      bool plain_ok = plain.parse_payload(bytes(text)) && plain.payload.size() == pairs;
      // A heap copy of just the line's bytes, so that the sanitizer catches a read past it.
      std::vector<unsigned char> copy(line.begin(), line.end());
      for (hexline::Level level : levels()) {
        hexline::use(level);
        unsigned char out[16];
        bool fast_ok = pairs == 16 ? hexline::decode(out, copy.data())
                                   : hexline::decode_short(out, copy.data(), pairs);
        // Exactly the canonical shape goes the fast way, and it decodes as the plain rules do.
        EXPECT_EQ(fast_ok, canonical_shape(line, pairs)) << line;
        if (fast_ok) {
          EXPECT_TRUE(plain_ok) << line;
          EXPECT_EQ(std::string(reinterpret_cast<char*>(out), pairs), plain.payload) << line;
        }
      }
    }
  }
  hexline::use(hexline::best_level());
}

// A copy of s and its NUL on the heap, of just that size, so that the sanitizer
// catches a read past it.
std::vector<char> exact(const std::string& s) {
  return std::vector<char>(s.c_str(), s.c_str() + s.size() + 1);
}

// The decimal scan as first written, one digit after another, for the number
// readers that take digits eight at a time.
bool reference_scan(uint64_t* ns, const char* p, unsigned max_digits, uint64_t unit,
                    uint64_t first) {
  while (*p >= 1 && *p <= 32) ++p;
  if (*p < '0' || *p > '9') return false;
  uint64_t whole = 0;
  unsigned digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++digits) whole = whole * 10 + (*p - '0');
  if (digits > max_digits) return false;
  uint64_t value = whole * unit;
  if (*p == '.') {
    for (uint64_t w = first; *++p >= '0' && *p <= '9'; w /= 10) value += (*p - '0') * w;
  }
  *ns = value;
  return true;
}

bool reference_timestamp(uint64_t* ns, const char* line) {
  if (*line != 0 && *line != '\n') {
    for (const char* p = line; *p && *p != '\n'; ++p) {
      if ((*p < '0' || *p > '9') && *p != '.') return false;
    }
  }
  return reference_scan(ns, line, 10, 1000000000, 100000000);
}

// Receive-time lines and millisecond values of every length, with every
// position replaced by each boundary byte in turn.
TEST(DecimalScan, EveryPositionAgainstBoundaryBytes) {
  const char probes[] = {'\0', '\t', '\n', '\r', ' ', '+', '-', '.', '/', '0', '5', '9', ':', 'a'};
  const std::string whole_digits = "98765432109876", fraction_digits = "123456789012";
  std::vector<std::string> numbers;
  for (size_t whole = 1; whole <= whole_digits.size(); ++whole) {
    numbers.push_back(whole_digits.substr(0, whole));
    for (size_t fraction = 0; fraction <= fraction_digits.size(); ++fraction) {
      numbers.push_back(numbers.back().substr(0, whole) + '.');
      numbers.back().append(fraction_digits, 0, fraction);
    }
  }
  for (const std::string& number : numbers) {
    for (size_t pos = 0; pos <= number.size(); ++pos) {
      for (char probe : probes) {
        std::string text = number + "\n";
        text[pos] = probe;
        uint64_t fast = 1, slow = 1;
        ASSERT_EQ(Input::parse_hex_header(&fast, bytes(text)),
                  reference_timestamp(&slow, text.c_str()))
            << text;
        ASSERT_EQ(fast, slow) << text;
        fast = slow = 1;
        bool found = reference_scan(&slow, text.c_str(), 13, 1000000, 100000);
        ASSERT_EQ(Input::parse_app_ts(&fast, text.c_str(), Input::EMilliseconds), found) << text;
        ASSERT_EQ(fast, slow) << text;
        // In a payload the digits are read a word at a time up to its end.
        Input in;
        in.mode = Input::EMilliseconds;
        std::string payload = "{\"E\":" + text;
        std::vector<char> copy = exact(payload);
        fast = 1;
        ASSERT_EQ(in.parse_app_ts(&fast, reinterpret_cast<const unsigned char*>(copy.data())),
                  found)
            << payload;
        ASSERT_EQ(fast, slow) << payload;
      }
    }
  }
}

// Payloads made of the keys' own bytes, NULs among them, searched for each key.
TEST(KeySearch, MatchesStrstr) {
  const char alphabet[] = "\":,Etdima{}\0";
  std::mt19937_64 random(5);
  for (int i = 0; i < 300000; ++i) {
    std::string text(random() % 70, ' ');
    for (char& c : text) c = alphabet[random() % (sizeof alphabet - 1)];
    std::vector<char> copy = exact(text);
    for (uint32_t mode = Input::DataTimeSeconds; mode <= Input::TimeIso8601; ++mode) {
      const char* key = Input::proto_str[mode].key;
      ASSERT_EQ(find_key(copy.data(), text.size(), key), strstr(copy.data(), key))
          << text << " / " << key;
    }
  }
}

TEST(IsoTime, CommonShapeMatchesScanf) {
  std::mt19937_64 random(3);
  auto two = [&](unsigned limit) {
    char t[3];
    snprintf(t, sizeof t, "%02u", static_cast<unsigned>(random() % limit));
    return std::string(t);
  };
  std::vector<std::string> texts = {
      "1969-12-31T23:59:59.000000Z", "1970-01-01T00:00:00.0Z",  "0000-01-01T00:00:00.1Z",
      "9999-12-31T23:59:59.999999Z", "2024-02-29T12:00:00.5Z",  "2023-02-31T12:00:00.5Z",
      "2023-00-10T12:00:00.5Z",      "2023-13-10T12:00:00.5Z",  "2023-11-14T24:00:00.5Z",
      "2023-11-14T22:60:00.5Z",      "2023-11-14T22:13:60.5Z",  "2023-11-14T22:13:20.Z",
      "2023-11-14T22:13:20. 5Z",     "2023-11-14T22:13:20.-5Z", "2023-1-14T22:13:20.5Z",
      "2023-11-14T22:13:20.1234567"};
  for (int i = 0; i < 200000; ++i) {
    char year[8];
    snprintf(year, sizeof year, "%04u", static_cast<unsigned>(random() % 10000));
    texts.push_back(std::string(year) + "-" + two(14) + "-" + two(33) + "T" + two(25) + ":" +
                    two(61) + ":" + two(62) + "." + std::to_string(random() % 10000000) + "Z");
  }
  for (const std::string& text : texts) {
    uint64_t fast = 1, slow = 1;
    bool fast_ok = isotime::parse(&fast, text.c_str());
    bool slow_ok = isotime::parse_scanf(&slow, text.c_str());
    ASSERT_EQ(fast_ok, slow_ok) << text;
    ASSERT_EQ(fast, slow) << text;
  }
}

std::vector<std::string> pipeline_logs() {
  using logtext::payload;
  using logtext::record;
  std::vector<std::string> logs;
  std::mt19937_64 random(11);
  const char* jsons[] = {"{\"e\":\"trade\",\"E\":1700000000123,\"p\":\"36500.10\"}",
                         "{\"a\":1,\"time\":\"2023-11-14T22:13:20.123456Z\",\"b\":[1,2,3]}",
                         "{\"channel\":\"t\",\"data\":{\"time\":1700000000.5,\"x\":1}}",
                         "{\"type\":\"ticker\",\"ts\":\"1700000000123.456\"}"};
  for (int shape = 0; shape < 4; ++shape) {
    std::string log;
    for (int i = 0; i < 200; ++i) {
      std::string json = jsons[shape];
      json.insert(json.size() - 1, std::string(random() % 300, ' '));
      log += record("1700000000." + std::to_string(random() % 1000000000), json, i % 3 == 0);
      if (i % 17 == 0) log += payload(json);
      if (i % 29 == 0) log += "0000  7b 22\n";
    }
    logs.push_back(log);
  }
  // A record of common shape (receive-time line, header, full and short dump
  // lines) with a boundary byte put in place of each byte or before it, between
  // records with another receive time.
  std::string base = record("1700000000.150000000", std::string(jsons[0]) + std::string(8, ' '));
  std::string probed = record("1700000001.250000000", std::string(jsons[0]) + std::string(8, ' '));
  for (size_t pos = 0; pos < probed.size(); ++pos) {
    for (char probe : {'\0', '\n', '\t', ' ', '.', '5', 'F', 'g', '/', ':'}) {
      std::string replaced = probed, inserted = probed;
      replaced[pos] = probe;
      inserted.insert(pos, 1, probe);
      logs.push_back(base + replaced + base);
      logs.push_back(base + inserted + base);
    }
  }
  std::string json = std::string(jsons[0]) + std::string(40, ' ');
  for (const std::string& log : boundary_logs())
    logs.push_back(log + logtext::payload(json) + base);
  // A count that strtoul would look for past the end of the header line.
  for (const char* gap : {"", " ", "\t \n"})
    logs.push_back("1700000000.1\nDecompressed payload (" + std::string(gap) + "\n" + base);
  // Canonical lines straddling the ends of pieces.
  std::string dump_line = logtext::dump(std::string(16, 'x'))[0];
  for (size_t pad = 19999 - 60; pad < 19999 + 2; ++pad)
    logs.push_back("1700000000\nDecompressed payload (64 bytes)\n" + dump_line +
                   std::string(pad, '.') + "\n" + dump_line + dump_line + dump_line);
  return logs;
}

TEST(Pipeline, FastPathsMatchPlainLoop) {
  for (const std::string& log : pipeline_logs()) {
    for (uint32_t format : {0u, 1u, 2u}) {
      runlog::Result plain = runlog::run_plain(log, format);
      for (hexline::Level level : levels()) {
        hexline::use(level);
        ASSERT_EQ(runlog::run(log, format), plain)
            << "level " << static_cast<int>(level) << " log of " << log.size() << " bytes";
      }
      hexline::use(hexline::best_level());
      // Short reads from a pipe put the ends of pieces and of runs of dump lines
      // everywhere; the smallest mapped windows end inside the longest pieces.
      for (size_t block : {size_t{1}, size_t{61}}) {
        if (block * 4096 < log.size()) continue;
        ASSERT_EQ(runlog::run(log, format, block, runlog::Via::Pipe), plain)
            << "block " << block << " log of " << log.size() << " bytes";
      }
      ASSERT_EQ(runlog::run(log, format, 1), plain) << "small windows, log of " << log.size();
    }
  }
}

// A mapped log cut short while it is read: the pages it lost read as NUL bytes
// to the end of the window, then the reader meets the new end, and the run is
// not killed by the bus error.
TEST(Mapped, LogCutShortWhileRead) {
  std::string log;
  for (int i = 0; i < 2000; ++i) log += logtext::record("1700000000.150000000", "{\"E\":1}");
  const size_t cut = 5000;
  FILE* file = runlog::source(log.data(), log.size());
  std::string seen;
  {
    Reader reader(file, 1, [] {});
    const unsigned char* text;
    size_t size;
    while (reader.next(&text, &size)) {
      if (seen.size() < 1000 && seen.size() + size >= 1000) {
        ASSERT_EQ(ftruncate(fileno(file), cut), 0);
      }
      seen.append(reinterpret_cast<const char*>(text), size);
    }
    EXPECT_FALSE(reader.failed());
  }
  fclose(file);
  ASSERT_GT(seen.size(), cut);
  ASSERT_LT(seen.size(), log.size());
  EXPECT_EQ(seen.substr(0, cut), log.substr(0, cut));
  EXPECT_EQ(seen.find_first_not_of('\0', cut), std::string::npos);
}

}  // namespace
