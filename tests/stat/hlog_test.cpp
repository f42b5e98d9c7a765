#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <deque>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "accumulator.h"
#include "base64.h"
#include "histogram.h"
#include "hlog_codec.h"
#include "hlog_merge.h"
#include "hlog_reader.h"

namespace caplat::stat {
namespace {

constexpr int64_t hour_ns = 3600000000000;
using Values = std::vector<std::pair<int64_t, int64_t>>;  // value, count

// Appends the big-endian bytes of each (value, size) pair.
void put(std::vector<unsigned char>* out, std::initializer_list<std::pair<uint64_t, int>> fields) {
  for (auto [v, bytes] : fields)
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out->push_back(v >> shift & 0xff);
}

// A V2 histogram of the payload bytes with the given header fields, deflated
// and wrapped as a log line's histogram; cut drops bytes from the deflated stream.
std::string wrap(const std::vector<unsigned char>& payload, uint32_t payload_length,
                 uint32_t offset = 0, uint32_t digits = 3, uint64_t lowest = 1,
                 uint64_t highest = hour_ns, size_t cut = 0) {
  std::vector<unsigned char> raw;
  put(&raw, {{0x1c849313, 4}, {payload_length, 4}, {offset, 4}, {digits, 4}});
  put(&raw, {{lowest, 8}, {highest, 8}, {0x3ff0000000000000, 8}});
  raw.insert(raw.end(), payload.begin(), payload.end());
  uLongf size = compressBound(raw.size());
  std::vector<unsigned char> deflated(size);
  compress(deflated.data(), &size, raw.data(), raw.size());
  deflated.resize(size - cut);
  std::vector<unsigned char> packed;
  put(&packed, {{0x1c849314, 4}, {deflated.size(), 4}});
  packed.insert(packed.end(), deflated.begin(), deflated.end());
  std::string text;
  base64_encode(packed, &text);
  return text;
}

std::string wrap(const std::vector<unsigned char>& payload) {
  return wrap(payload, static_cast<uint32_t>(payload.size()));
}

TEST(HistogramCodec, RoundTripsEveryCount) {
  const struct {
    int digits;
    Values values;
  } cases[] = {
      {3, {}},
      {3, {{0, 3}, {1, 1}, {2047, 2}, {2048, 1}, {4095, 7}, {4096, 1}}},
      {3, {{1, 1}, {hour_ns, 1}}},
      {3, {{5, int64_t{1} << 39}, {6, int64_t{1} << 39}}},
      {1, {{12, 1}, {999999, 4}}},
      {5, {{123456, 2}, {123457, 3}, {hour_ns - 1, 1}}},
  };
  HistogramCodec codec;
  for (const auto& c : cases) {
    Histogram in(1, hour_ns, c.digits);
    for (auto [value, count] : c.values) in.record(value, count);
    std::string text;
    codec.encode(in, &text);
    EXPECT_EQ(codec.decode(text, in), nullptr) << text;
    Values recorded;
    for (size_t i = 0; i < in.counts_size(); ++i)
      if (in.count_at_index(i)) recorded.emplace_back(in.value_at_index(i), in.count_at_index(i));
    EXPECT_EQ(codec.counts(), recorded) << text;
  }
}

TEST(HistogramCodec, ReadsTheJavaLibrarysEncoding) {
  const struct {
    const char* text;
    Values values;
  } cases[] = {
      // Histogram(3600000000000L, 3) of 1, 1000 twice, 2048, 27 ms five times, 1 h - 1 ns.
      {"HISTFAAAADF42pNpmSzMwMAgwAABzFCaEch0M9ixgMH+A1SE6TQ/y1oBpts3Gbm2T2BiAgC71gkE",
       {{1, 1}, {1000, 2}, {2048, 1}, {26984448, 5}, {3599182594048, 1}}},
      // Histogram(1000, 3600000000000L, 2) of 1500, 123456789 three times, 4e12 - 1: another
      // layout, whose values land on the lowest of their own ranges, the last beyond 1 h.
      {"HISTFAAAACl42pNpmSzMwMDAwQABTBCK+QUQuxnsWMBg/wEqwnRenO27LBMAkUEHQw==",
       {{1024, 1}, {123207680, 3}, {3985729650688, 1}}},
      {"HISTFAAAACF42pNpmSzMwMDAyAABzFAayGd2M9ixgMH+A1QEAFKmBEw=", {}},
      // Histogram(1, Long.MAX_VALUE, 3) of 2^61, which lies far past 1 h but keeps its value.
      {"HISTFAAAACJ42pNpmSzMwMDAwgABzFCasf4/BNh/gAj838/GBADEWAu8", {{int64_t{1} << 61, 1}}},
  };
  HistogramCodec codec;
  const Histogram layout(1, hour_ns, 3);
  for (const auto& c : cases) {
    EXPECT_EQ(codec.decode(c.text, layout), nullptr) << c.text;
    EXPECT_EQ(codec.counts(), c.values) << c.text;
  }
}

TEST(HistogramCodec, RejectsCorruptTextAddingNothing) {
  const std::vector<unsigned char> one_count = {0x02};
  const Histogram layout(1, hour_ns, 3);
  const char* const impossible = "histogram header has impossible digits, lowest or highest value";
  const char* const length = "compressed length does not match the histogram's size";
  const char* const overflow = "count run overflows the histogram's layout";
  const struct {
    std::string text;
    const char* what;
  } cases[] = {
      {"HISTFAAAADF4!", "histogram is not base64"},
      {"HISTFAAAADF", "histogram is not base64"},
      {"HISTFAAAADF4A===", "histogram is not base64"},
      {"HIST", "not a compressed histogram of the V2 encoding"},
      {"AAAAAAAAAAAA", "not a compressed histogram of the V2 encoding"},
      {"HISTFAAAAAB42g==", length},
      {wrap(one_count).substr(0, 32), length},
      {"HISTFAAAAAN4AAA=", "compressed histogram does not inflate"},
      // The Java library's empty histogram with one bit of its checksum changed.
      {"HISTFAAAACF42pNpmSzMwMDAyAABzFAayGd2M9ixgMH+A1QEAFLmBEw=",
       "compressed histogram does not inflate"},
      {wrap(one_count, 1, 0, 3, 1, hour_ns, 4), "compressed histogram is cut short"},
      {wrap(one_count, 1, 0, 6), impossible},
      {wrap(one_count, 1, 0, 3, 0), impossible},
      {wrap(one_count, 1, 0, 3, 1000, 1999), impossible},
      {wrap(one_count, 1, 0, 3, uint64_t{1} << 52, INT64_MAX), impossible},
      {wrap(one_count, 1, 5), "histogram has a shifted index, which is not supported"},
      {wrap(one_count, UINT32_MAX), "payload length is impossible for the histogram's layout"},
      {wrap(one_count, 2), "payload is shorter than its header says"},
      {wrap(one_count, 0), "payload is longer than its header says"},
      {wrap({0x02, 0x80}), "payload is shorter than its header says"},
      // 33,792 slots at 3 digits up to 1 h: a run of 33,791 empty ones, then two counts.
      {wrap({0xfd, 0x8f, 0x04, 0x02, 0x02}), overflow},
      {wrap({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}), overflow},
      {wrap({0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}), "histogram counts too many values"},
  };
  HistogramCodec codec;
  for (const auto& c : cases) {
    EXPECT_STREQ(codec.decode(c.text, layout), c.what) << c.text;
    EXPECT_TRUE(codec.counts().empty()) << c.text;
  }
}

struct Line {
  uint64_t start_ns;
  uint64_t length_ns;
  int64_t negative;
  int64_t count;
  bool operator==(const Line&) const = default;
};

// The intervals of the logs merged, and the number of lines skipped in them.
std::vector<Line> read_logs(const std::vector<std::string>& texts, const std::string* tag,
                            int64_t* skipped) {
  std::vector<int> files;
  std::deque<HlogReader> readers;
  std::vector<HlogReader*> merged;
  for (const std::string& text : texts) {
    files.push_back(memfd_create("log", 0));
    EXPECT_EQ(write(files.back(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
    lseek(files.back(), 0, SEEK_SET);
    merged.push_back(&readers.emplace_back(files.back(), "log", tag));
  }
  Accumulator accumulator(3, 0);
  HlogMerge merge(merged, &accumulator);
  std::vector<Line> lines;
  LogInterval interval;
  while (merge.next(&interval)) {
    int64_t count = 0;
    for (auto [value, n] : *interval.counts) count += n;
    lines.push_back({interval.start, interval.length, interval.negative, count});
  }
  *skipped = 0;
  for (const HlogReader& reader : readers) *skipped += reader.skipped();
  for (int fd : files) close(fd);
  return lines;
}

// Three values of 1.5 us, as the Java library encodes them.
constexpr char three[] = "HISTFAAAACN42pNpmSzMwMDAzAABMJoRyHQz2LGAwf4DRGC7OBsAXd8FIg==";

TEST(HlogReader, ReadsJavaAndOwnLogsSkippingBadLines) {
  const std::string start = "#[StartTime: 1700000000.000 (seconds since epoch), Tue Nov 14]\n";
  const std::string base = "#[BaseTime: 1700000000.000 (seconds since epoch)]\n";
  const std::string legend =
      "\"StartTimestamp\",\"Interval_Length\",\"Interval_Max\",\"Interval_Compressed_Histogram\"\n";
  const std::string excluded = "#[Excluded: negative=4, min=-7, over=0, max=0]\n";
  const std::string a = "A";
  const uint64_t s = 1000000000, t0 = 1700000000 * s, year_ns = 365 * 24 * 3600 * s;
  // Nine intervals of 2^40 latencies: the ninth would pass what the totals can sum.
  std::string huge = base;
  for (int i = 0; i < 9; ++i)
    huge += "1.000,1.000,0.002," + wrap({0x80, 0x80, 0x80, 0x80, 0x80, 0x40}) + "\n";
  // One interval of the three values, start_ms after t0.
  auto at = [&](uint64_t start_ms, uint64_t length_ms = 1000, int64_t negative = 0) {
    return Line{t0 + start_ms * 1000000, length_ms * 1000000, negative, 3};
  };
  const std::string line = ",1.000,0.002," + std::string(three) + "\n";
  struct Case {
    std::vector<std::string> logs;
    std::vector<Line> lines;
    int64_t skipped = 0;
    const std::string* tag = nullptr;
  };
  std::vector<Case> cases = {
      {{"#[Histogram log format version 1.3]\n" + start + base + legend + "0.150" + line},
       {at(150)}},
      // Format 1.2: no base time, relative times deduced from the start time.
      {{"#[Histogram log format version 1.2]\n" + start + legend + "2.5,1,0.002," + three + "\r\n"},
       {at(2500)}},
      // Absolute times, when they are within a year of the start time.
      {{start + "1700000003.000" + line}, {at(3000)}},
      // The rule at its edges: a first time exactly a year before the start
      // time is absolute, one a millisecond earlier relative; with a start
      // time less than a year after the epoch, every time is absolute. The
      // last line of a log needs no newline.
      {{start + "1668464000.000" + line}, {Line{t0 - year_ns, s, 0, 3}}},
      {{start + "1668463999.999" + line}, {Line{t0 + t0 - year_ns - 1000000, s, 0, 3}}},
      {{"#[StartTime: 1000.000 (seconds since epoch)]\n5.000,1.000,0.002," + std::string(three)},
       {Line{5 * s, s, 0, 3}}},
      // Absolute times with the end, not the length, in the second column.
      {{start + "1700000003.000,1700000003.500,0.002," + three}, {at(3000, 500)}},
      // Tags: all merge by default, one is selected by name, untagged lines by none.
      {{base + "Tag=A,1.000" + line + excluded + "1.000" + line}, {at(1000), at(1000, 1000, 4)}},
      {{base + excluded + "Tag=A,1.000" + line + "Tag=B,1.000" + line + "1.000" + line},
       {at(1000, 1000, 4)},
       0,
       &a},
      {{base + "1.000,1.000,0.002,HISTFAAA!\n2.000,x,0.002," + three + "\n3.000,1.000\n" +
        "#[Excluded: negative=1, min=-7, over=x, max=0]\n#[StartTime: now]\nTag=A\n" +
        "#[Excluded: negative=0, min=1, over=0, max=0]\n" +
        "#[Excluded: negative=0, min=0, over=-1, max=0]\n" +
        "#[Excluded: negative=0, min=0, over=0, max=-1]\n3.0x0" + line + "4.000" + line},
       {at(4000)},
       10},
      // Lines of any length, and NUL bytes, which end neither a line nor a log.
      {{base + "#" + std::string(size_t{9} << 19, 'A') + "\n5.000" + line}, {at(5000)}},
      {{base + "#x" + std::string(1, '\0') + "\n5.000" + line}, {at(5000)}},
      {{base + "5.000" + line.substr(0, 9) + std::string(1, '\0') + line.substr(9) + "6.000" +
        line},
       {at(6000)},
       1},
      // Blanks may end the histogram's text, not split it.
      {{base + "5.000" + line.substr(0, line.size() - 5) + " " + line.substr(line.size() - 5) +
        "6.000" + line},
       {at(6000)},
       1},
      {{huge}, std::vector<Line>(8, {t0 + s, s, 0, int64_t{1} << 40}), 1},
      // Logs interleave by start time.
      {{base + "0.000" + line + "2.000" + line,
        "#[BaseTime: 1700000001.000]\n0.000" + line + "5.000" + line},
       {at(0), at(1000), at(2000), at(6000)}},
  };
  // Lines that end or straddle the reader's block at every place near its end,
  // and a histogram trailed by blanks over several blocks and a carriage
  // return, which is read again from the file.
  const std::string long_line =
      "2.000" + line.substr(0, line.size() - 1) + std::string(HlogReader::block * 2, ' ') + "\r\n";
  for (size_t before = HlogReader::block - 2 * line.size() - 10; before < HlogReader::block + 4;
       ++before)
    cases.push_back({{"#[BaseTime: 0.000]\n#" + std::string(before - 20, 'x') + "\n1.000" + line +
                      long_line + "1.000" + line},
                     {{s, s, 0, 3}, {2 * s, s, 0, 3}, {s, s, 0, 3}}});
  for (const auto& c : cases) {
    int64_t skipped = 0;
    EXPECT_EQ(read_logs(c.logs, c.tag, &skipped), c.lines) << c.logs[0].substr(0, 400);
    EXPECT_EQ(skipped, c.skipped) << c.logs[0].substr(0, 400);
  }
}

}  // namespace
}  // namespace caplat::stat
