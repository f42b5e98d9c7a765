#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "accumulator.h"
#include "hgrm.h"
#include "units.h"

namespace caplat::stat {
namespace {

// Java's String.format rounds half up on the shortest digits of the double.
TEST(JavaFixed, RoundsAsJavaDoes) {
  struct Row {
    double v;
    int width, precision;
    const char* java;
  };
  const Row rows[] = {{1.0005, 12, 3, "       1.001"},  // C's printf gives 1.000
                      {0.0005, 0, 3, "0.001"},
                      {1.005, 0, 2, "1.01"},
                      {0.00049, 0, 3, "0.000"},
                      {999.9995, 0, 3, "1000.000"},
                      {0.0, 12, 3, "       0.000"},
                      {123456789.0, 0, 3, "123456789.000"},
                      {1e-7, 0, 12, "0.000000100000"},
                      {0.9999999999999999, 2, 12, "1.000000000000"},
                      {1.0 / 0.0, 14, 2, "      Infinity"}};
  for (const Row& row : rows) EXPECT_EQ(java_fixed(row.v, row.width, row.precision), row.java);
}

TEST(Units, Durations) {
  const std::pair<const char*, int64_t> good[] = {{"100ms", 100000000}, {"1.5s", 1500000000},
                                                  {"1m", 60000000000},  {"2h", 7200000000000},
                                                  {"250ns", 250},       {"0.5us", 500}};
  // The nanoseconds read, -1 for a text refused.
  auto parsed = [](const char* text) {
    int64_t ns = 0;
    return parse_duration(text, &ns) ? ns : -1;
  };
  for (auto [text, want] : good) EXPECT_EQ(parsed(text), want) << text;
  for (const char* bad : {"1.0000000001s", "0s", "s", "1", "1.5ns", "1..5s", "99999999999h"})
    EXPECT_EQ(parsed(bad), -1) << bad;
}

// Keeps every interval handed over.
struct Recorder : IntervalConsumer {
  struct Row {
    uint64_t start, length;
    int64_t count, in_range, negative, stale, max;
    bool operator==(const Row&) const = default;
  };
  std::vector<Row> rows;
  void interval(const Interval& c) override {
    rows.push_back({c.start, c.length, c.count, c.histogram.total_count(), c.negative, c.stale,
                    c.count != 0 ? c.max : 0});
  }
};

// Logged intervals of one latency of 1 ns each, read beside the latencies
// added one by one.
struct Logged : EarlierInput {
  Accumulator* accumulator;
  std::vector<LogInterval> intervals;
  size_t next = 0;
  void add_until(uint64_t time) override {
    while (next < intervals.size() && intervals[next].start <= time)
      accumulator->add(intervals[next++]);
  }
};

// What each interval counts; the lengths that double to keep at most "most"
// intervals (the end-to-end table pins roll-over, gaps and late times); an
// earlier input's intervals before a later receive time; and the picture's own
// interval, unlike one of -i, grown to the length of a log's.
TEST(Accumulator, Intervals) {
  struct Row {
    const char* name;
    int64_t most;
    std::vector<std::pair<uint64_t, int64_t>> latencies;  // receive, latency
    std::vector<std::pair<uint64_t, uint64_t>> logged;    // start, length
    std::vector<Recorder::Row> want;
  };
  const uint64_t s = 1000000000;
  const Row rows[] = {
      {"stale and over an hour",
       0,
       {{0, stale_ns - 1}, {1, stale_ns}, {2, hour_ns}, {3, hour_ns + 1}},
       {},
       {{0, s, 4, 3, 0, 3, hour_ns + 1}}},
      {"the length doubles",
       2,
       {{0, 1}, {1 * s, 1}, {2 * s, 1}, {5 * s, 1}},
       {},
       {{0, s, 1, 1, 0, 0, 1},
        {s, s, 1, 1, 0, 0, 1},
        {2 * s, 2 * s, 1, 1, 0, 0, 1},
        {4 * s, 4 * s, 1, 1, 0, 0, 1}}},
      {"logged intervals before, at and after a receive time",
       0,
       {{5 * s / 2, 1}},
       {{0, s}, {2 * s, s}, {4 * s, s}},
       {{0, s, 1, 1, 0, 0, 1},
        {s, s, 0, 0, 0, 0, 0},
        {2 * s, s, 2, 2, 0, 0, 1},
        {3 * s, s, 0, 0, 0, 0, 0},
        {4 * s, s, 1, 1, 0, 0, 1}}},
      {"the picture's interval as long as a log's",
       1000,
       {},
       {{0, 2 * s}, {2 * s, 2 * s}},
       {{0, 2 * s, 1, 1, 0, 0, 1}, {2 * s, 2 * s, 1, 1, 0, 0, 1}}},
      {"-i keeps its length beside a log's",
       0,
       {},
       {{0, 2 * s}, {2 * s, 2 * s}},
       {{0, s, 1, 1, 0, 0, 1}, {s, s, 0, 0, 0, 0, 0}, {2 * s, s, 1, 1, 0, 0, 1}}},
  };
  const std::vector<std::pair<int64_t, int64_t>> one = {{1, 1}};
  for (const Row& row : rows) {
    Accumulator accumulator(3, s, row.most);
    Recorder recorder;
    accumulator.add_consumer(&recorder);
    Logged logged;
    logged.accumulator = &accumulator;
    for (auto [start, length] : row.logged) logged.intervals.push_back({start, length, &one});
    accumulator.set_earlier(&logged);
    for (auto [receive, latency] : row.latencies) accumulator.add(receive, latency);
    accumulator.finish();
    EXPECT_TRUE(recorder.rows == row.want) << row.name;
    EXPECT_EQ(accumulator.totals().count,
              static_cast<int64_t>(row.latencies.size() + row.logged.size()))
        << row.name;
  }
}

}  // namespace
}  // namespace caplat::stat
