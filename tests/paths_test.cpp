// The fast ways against the plain rules they stand for: the main loop (block
// reads of files and pipes, lines taken in place) against fgets and the line
// rules; dump lines at every instruction level, digits a word at a time, the
// key search and the common ISO-8601 shape against the plain code.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "hexline.h"
#include "isotime.h"
#include "keysearch.h"
#include "reader.h"
#include "runlog.h"

namespace caplat {

namespace {

using runlog::record;

// A copy of s, and its NUL unless bare, that ends where an unreadable page
// starts: a read past it faults in every build, also where the sanitizer cannot
// see one (masked vector loads). Each call overwrites the copy before.
const unsigned char* exact(const std::string& s, bool bare = false) {
  static const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  static unsigned char* const pages = [] {
    void* p = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED || mprotect(static_cast<char*>(p) + page, page, PROT_NONE) != 0) abort();
    return static_cast<unsigned char*>(p);
  }();
  const size_t size = s.size() + (bare ? 0 : 1);
  return static_cast<unsigned char*>(memcpy(pages + page - size, s.c_str(), size));
}

// Runs check at every instruction level the processor has, and returns to the
// best one even when a check fails.
template <class Check>
void at_every_level(Check check) {
  struct Restore {
    ~Restore() { hexline::use(hexline::best_level()); }
  } restore;
  for (int level = 0; level <= static_cast<int>(hexline::best_level()); ++level) {
    hexline::use(static_cast<hexline::Level>(level));
    check(level);
  }
}

// What the plain loop prints for log, after checking that the main loop prints
// the same at every level, and from a file, through a pipe and decompressed in
// short reads, which put the ends of pieces and of runs of dump lines
// everywhere.
runlog::Result every_way(const std::string& log, uint32_t format) {
  runlog::Result plain = runlog::run(log, format, runlog::Via::Plain);
  at_every_level([&](int level) { EXPECT_EQ(runlog::run(log, format), plain) << level << log; });
  EXPECT_EQ(runlog::run(log, format, runlog::Via::File, 61), plain) << "short reads: " << log;
  EXPECT_EQ(runlog::run(log, format, runlog::Via::Gzip, 61), plain) << "gzip: " << log;
  for (size_t block : {1, 61}) {
    if (block * 4096 < log.size()) continue;
    EXPECT_EQ(runlog::run(log, format, runlog::Via::Pipe, block), plain) << "pipe: " << log;
  }
  return plain;
}

TEST(Paths, RecordsEveryWay) {
  const std::string e123 = "{\"E\":1700000000123}", ts = "1700000000.15", rec = record(ts, e123);
  const std::string pair = "1700000000123000000 1700000000150000000\n", header = record("", e123);
  const std::string malformed = "Malformed HEX payload\n!",
                    head40 = ts + "\nDecompressed payload (40 bytes)\n";
  // Each log, and what every way prints for it.
  const std::pair<std::string, runlog::Result> cases[] = {
      {header + "1600000000\n" + rec + header, {pair + pair, ""}},
      // Nothing past a NUL in the payload is searched.
      {record(ts, std::string("{\"a\":1}\0", 8) + e123), {}},
      // A payload cut short after its first dump line.
      {head40 + runlog::dump("0123456789abcdef") + rec + rec,
       {pair, malformed + "WARNING: Discarded payload with 16 bytes!!\n"}},
      {head40 + "\n" + rec, {pair, malformed}},
      {ts + "\nDecompressed payload (-1 bytes)\n" + runlog::dump(e123) + "end\n", {"", malformed}},
      // The first payload with a time fixes the format.
      {record(ts, "{\"ts\":\"1700000000100\"}") + rec + record(ts, "{\"ts\":\"1700000000123\"}"),
       {"1700000000100000000 1700000000150000000\n" + pair, ""}}};
  for (const auto& [log, result] : cases) EXPECT_EQ(every_way(log, 0), result);
}

TEST(Paths, GeneratedLogsEveryWay) {
  const char* jsons[] = {"{\"e\":\"trade\",\"E\":1700000000123,\"p\":\"36500.10\"}",
                         "{\"a\":1,\"time\":\"2023-11-14T22:13:20.123456Z\",\"b\":[1,2,3]}",
                         "{\"channel\":\"t\",\"data\":{\"time\":1700000000.5,\"x\":1}}",
                         "{\"type\":\"ticker\",\"ts\":\"1700000000123.456\"}"};
  std::vector<std::string> logs = {"", "\n", "1", std::string("1\0b\n2\0", 6)};
  std::mt19937_64 random(11);
  for (const char* json : jsons) {
    std::string log;
    for (int i = 0; i < 200; ++i) {
      std::string padded = std::string(json).insert(1, std::string(random() % 300, ' '));
      log += record("1700000000." + std::to_string(random() % 1000000000), padded, i % 3 == 0);
      log += i % 17 == 0 ? record("", padded) : i % 29 == 0 ? "0000  7b 22\n" : "";
    }
    logs.push_back(log);
  }
  // Every byte of a record of the common shape replaced by a boundary byte, or
  // one put before it, between records of another receive time; and the log
  // cut short after every byte.
  const std::string json = std::string(jsons[0]) + std::string(8, ' ');
  const std::string base = record("1700000000.150000000", json);
  const std::string probed = record("1700000001.250000000", json);
  for (size_t pos = 0; pos < probed.size(); ++pos) {
    logs.push_back(base + probed.substr(0, pos));
    for (char probe : std::string("\0\n\t .5Fg/:", 10)) {
      logs.push_back(base + probed.substr(0, pos) + probe + probed.substr(pos + 1) + base);
      logs.push_back(base + probed.substr(0, pos) + probe + probed.substr(pos) + base);
    }
  }
  // Lines of digits on every boundary of a piece: the last piece of a long
  // line, when short, is a receive-time line that the payload after it shows.
  for (size_t n : {19997, 19998, 19999, 20000, 20001, 20008, 39998, 39999, 40000, 40001}) {
    std::string line(n, '1');
    logs.insert(logs.end(), {line + record("", json), line + "\n2\n" + record("", json)});
    line[n / 2] = '\0';
    logs.push_back(line + "\n" + record("", json) + base);
  }
  // Counts of the widths that a header of the common shape reads a word at a
  // time, and past them.
  for (const char* count : {"0", "0064", "1234567", "12345678"})
    logs.push_back("1\nDecompressed payload (" + std::string(count) + " bytes)\n" +
                   runlog::dump(json) + base);
  // Counts that strtoul would look for past the end of the header line.
  for (const char* gap : {"", " ", "\t \n"})
    logs.push_back("1\nDecompressed payload (" + std::string(gap) + "\n" + base);
  // Dump lines on both sides of the end of a piece; and a dump line that ends
  // the log unfinished, which fgets follows with an empty text only if it
  // filled its buffer.
  std::string line = runlog::dump(std::string(16, 'x'));
  for (size_t pad = piece_limit - 60; pad < piece_limit + 2; ++pad) {
    logs.push_back("1\nDecompressed payload (64 bytes)\n" + line + std::string(pad, '.') + "\n" +
                   line + line + line);
    logs.push_back("1\nDecompressed payload (32 bytes)\n" + line.substr(0, 53) +
                   std::string(pad - 53, ' '));
  }
  // The format that prints all three numbers; the cli tests print each.
  for (size_t i = 0; i < logs.size() && !HasFailure(); ++i) every_way(logs[i], 2);
}

TEST(Paths, DumpLineAtEveryLevel) {
  const std::string full = "00a0  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31";
  const std::string shape = "hhhh  hh hh hh hh hh hh hh hh hh hh hh hh hh hh hh hh";
  for (size_t pairs = 1; pairs <= 16; ++pairs) {
    const std::string line = full.substr(0, hexline::short_size(pairs));
    // Each line, and whether it has the canonical shape.
    std::vector<std::pair<std::string, bool>> lines = {
        {line, true}, {line + " 00\n", true}, {line + "   {\"E\":17000000001\n", true}};
    for (size_t pos = 0; pos < line.size(); ++pos) {
      for (char probe : std::string("\0\t\n /09:@AFG`afg\x7f\x80\xb0\xff", 20)) {
        const bool hex = std::string("0123456789abcdef").find(probe) < 16;
        lines.emplace_back(line + "\n", shape[pos] == 'h' ? hex : probe == ' ');
        lines.back().first[pos] = probe;
      }
    }
    for (const auto& [text, canonical] : lines) {
      Input plain;
      plain.remaining = pairs;
      // The canonical shape is one of those the plain rules take.
      EXPECT_TRUE(plain.parse_payload(exact(text)) || !canonical) << text;
      // A short line is read a canonical line's width, so bytes of no meaning follow it.
      const unsigned char* bare =
          exact(text + std::string(pairs == 16 ? 0 : hexline::canonical_size, '\xff'), true);
      // Captured by name, as older compilers cannot capture structured bindings.
      at_every_level([&, &text = text, canonical = canonical](int level) {
        unsigned char out[16];
        bool fast =
            pairs == 16 ? hexline::decode(out, bare) : hexline::decode_short(out, bare, pairs);
        // Exactly the canonical shape goes the fast way, and it decodes as the plain rules do.
        ASSERT_EQ(fast, canonical) << "level " << level << ": " << text;
        if (!fast) return;
        EXPECT_EQ(std::string(out, out + pairs), plain.payload.view()) << text;
      });
    }
  }
}

// Numbers of every length, worth their digits (up to ten whole, nine
// decimals); and with every byte replaced by each boundary byte in turn, read
// from a receive-time line digit by digit and from the end of a payload a word
// at a time, they must agree.
TEST(Paths, DigitsByWordAsByDigit) {
  const std::string whole = "98765432109876", fraction = ".123456789012";
  for (size_t w = 1; w <= whole.size(); ++w) {
    for (size_t f = 0; f <= fraction.size(); ++f) {
      std::string number = whole.substr(0, w) + fraction.substr(0, f);
      std::string decimals = (fraction.substr(1, f > 0 ? f - 1 : 0) + "000000000").substr(0, 9);
      uint64_t ns = 1, worth = std::stoull(whole.substr(0, w)) * 1000000000 + std::stoull(decimals);
      EXPECT_EQ(Input::parse_hex_header(&ns, exact(number + "\n")), w <= 10) << number;
      EXPECT_EQ(ns, w <= 10 ? worth : 1) << number;
      for (size_t pos = 0; pos <= w + f; ++pos) {
        for (char probe : std::string("\0\t\n\r +-./059:a", 14)) {
          std::string text = number + "\n";
          text[pos] = probe;
          uint64_t by_digit = 1, by_word = 1;
          bool found = Input::parse_app_ts(&by_word, exact("{\"data\":{\"time\":" + text),
                                           Input::DataTimeSeconds);
          // Past a number, a receive-time line holds nothing but digits and points.
          size_t end = text.find_first_of(std::string("\n\0", 2));
          if (text[0] != '\n' && text.find_first_not_of("0123456789.") < end) found = false;
          ASSERT_EQ(Input::parse_hex_header(&by_digit, exact(text)), found) << text;
          if (!found) continue;
          ASSERT_EQ(by_digit, by_word) << text;
        }
      }
    }
  }
}

// Payloads made of the keys' own bytes, NULs among them.
TEST(Paths, KeySearchAgainstStrstr) {
  std::mt19937_64 random(5);
  for (int i = 0; i < 300000; ++i) {
    // Half the texts have no NUL, so that the search runs to their end.
    std::string text(random() % 160, ' ');
    const size_t letters = i % 2 ? 12 : 11;
    for (char& c : text) c = "\":,Etdima{}\0"[random() % letters];
    const auto* p = reinterpret_cast<const char*>(exact(text));
    // Every key but the empty one of no mode.
    for (const Input::Proto& proto : std::span(Input::proto_str).subspan(1))
      ASSERT_EQ(find_key(p, text.size(), proto.key), strstr(p, proto.key)) << text;
  }
}

TEST(Paths, IsoTimeAgainstScanf) {
  std::vector<std::string> texts = {"1969-12-31T23:59:59.000000Z", "0000-01-01T00:00:00.1Z",
                                    "2023-11-14T22:13:20. 5Z", "2023-1-14T22:13:20.5Z",
                                    "2023-11-14T22:13:20.1234567"};
  std::mt19937_64 random(3);
  for (int i = 0; i < 200000; ++i) {
    // Every field up to out of range; months further, where the calendar arithmetic no
    // longer carries as timegm does.
    unsigned v[] = {10000, 20, 33, 25, 61, 62, 10000000};
    for (unsigned& limit : v) limit = static_cast<unsigned>(random() % limit);
    char text[64];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%uZ", v[0], v[1], v[2], v[3], v[4],
             v[5], v[6]);
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    uint64_t fast = 1, slow = 1;
    ASSERT_EQ(isotime::parse(&fast, text.c_str()), isotime::parse_scanf(&slow, text.c_str()))
        << text;
    ASSERT_EQ(fast, slow) << text;
  }
}

// A log cut short or grown while it is read, each change made before the
// reader gets there: it meets the end the file then has, as fgets would.
TEST(Paths, LogCutShortOrGrownWhileRead) {
  std::string log;
  for (int i = 0; i < 10000; ++i) log += record("1700000000.150000000", "{\"E\":1}");
  // What the file holds after the change, cut inside a line far into the log or grown.
  const std::string changes[] = {log.substr(0, 100 * 4096 + 7),
                                 log + record("1700000001.250000000", "{\"E\":2}")};
  for (const std::string& after : changes) {
    FILE* file = runlog::memory_file(log);
    // Short reads keep the reader's offset within a few lines of what it handed out.
    Source source(fileno(file), 61);
    source.open();
    Reader reader(&source, 61, [] {});
    std::string seen;
    bool changed = false;
    const unsigned char* text;
    size_t size;
    while (reader.next(&text, &size)) {
      seen.append(reinterpret_cast<const char*>(text), size);
      if (!changed && seen.size() + 1000 >= std::min(after.size(), log.size())) {
        ASSERT_EQ(pwrite(fileno(file), after.data(), after.size(), 0),
                  static_cast<ssize_t>(after.size()));
        ASSERT_EQ(ftruncate(fileno(file), static_cast<off_t>(after.size())), 0);
        changed = true;
      }
    }
    EXPECT_FALSE(reader.failed()) << after.size();
    fclose(file);
    EXPECT_TRUE(seen == after) << seen.size() << " bytes of " << after.size();
  }
}

}  // namespace

}  // namespace caplat
