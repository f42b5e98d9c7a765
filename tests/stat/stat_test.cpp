#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "accumulator.h"
#include "hgrm.h"
#include "latency_reader.h"
#include "units.h"

namespace {

// Java's String.format rounds half up on the shortest digits of the double.
TEST(JavaFixed, RoundsAsJavaDoes) {
  struct Row {
    double v;
    int width, precision;
    const char* java;
  };
  const Row rows[] = {
      {1.0005, 12, 3, "       1.001"},  // C's printf gives 1.000
      {0.0005, 0, 3, "0.001"},
      {2.0015, 0, 3, "2.002"},
      {1.005, 0, 2, "1.01"},
      {0.00049, 0, 3, "0.000"},
      {999.9995, 0, 3, "1000.000"},
      {0.0, 12, 3, "       0.000"},
      {123456789.0, 0, 3, "123456789.000"},
      {1e-7, 0, 12, "0.000000100000"},
      {0.9999999999999999, 2, 12, "1.000000000000"},
      {1.0 / 0.0, 14, 2, "      Infinity"},
  };
  for (const Row& row : rows) EXPECT_EQ(java_fixed(row.v, row.width, row.precision), row.java);
}

TEST(Units, Durations) {
  struct Row {
    const char* text;
    int64_t ns;  // 0: refused
  };
  const Row rows[] = {{"100ms", 100000000},
                      {"1.5s", 1500000000},
                      {"1m", 60000000000},
                      {"2h", 7200000000000},
                      {"250ns", 250},
                      {"0.5us", 500},
                      {"1.0000000001s", 0},
                      {"0s", 0},
                      {"s", 0},
                      {"1", 0},
                      {"1.5ns", 0},
                      {"1..5s", 0},
                      {"99999999999h", 0}};
  for (const Row& row : rows) {
    int64_t ns = 0;
    EXPECT_EQ(parse_duration(row.text, &ns), row.ns != 0) << row.text;
    EXPECT_EQ(row.ns != 0 ? ns : 0, row.ns) << row.text;
  }
}

// Keeps every interval handed over.
struct Recorder : IntervalConsumer {
  struct Row {
    int64_t start, length, count, in_range, negative, stale, max;
  };
  std::vector<Row> rows;
  void interval(const Interval& c) override {
    rows.push_back({c.start, c.length, c.count, c.histogram.total_count(), c.negative, c.stale,
                    c.count != 0 ? c.max : 0});
  }
};

bool operator==(const Recorder::Row& a, const Recorder::Row& b) {
  return a.start == b.start && a.length == b.length && a.count == b.count &&
         a.in_range == b.in_range && a.negative == b.negative && a.stale == b.stale &&
         a.max == b.max;
}

// Interval roll-over: gaps give empty rows, a late receive time joins the open
// interval, the last partial interval closes at the end.
TEST(Accumulator, Intervals) {
  struct Row {
    const char* name;
    int64_t most;
    std::vector<std::pair<int64_t, int64_t>> latencies;  // receive, latency
    std::vector<Recorder::Row> want;
  };
  const int64_t s = 1000000000;
  const Row rows[] = {
      {"one interval", 0, {{10 * s + 1, 5}, {10 * s + 2, -1}}, {{10 * s, s, 2, 1, 1, 0, 5}}},
      {"a gap",
       0,
       {{s, 1}, {3 * s + 5, 2}},
       {{s, s, 1, 1, 0, 0, 1}, {2 * s, s, 0, 0, 0, 0, 0}, {3 * s, s, 1, 1, 0, 0, 2}}},
      {"late receive time",
       0,
       {{5 * s, 1}, {4 * s, 2}, {6 * s, hour_ns + 1}},
       {{5 * s, s, 2, 2, 0, 0, 2}, {6 * s, s, 1, 0, 0, 1, hour_ns + 1}}},
      {"stale and over an hour",
       0,
       {{0, stale_ns - 1}, {1, stale_ns}, {2, hour_ns}, {3, hour_ns + 1}},
       {{0, s, 4, 3, 0, 3, hour_ns + 1}}},
      {"the length doubles",
       2,
       {{0, 1}, {1 * s, 1}, {2 * s, 1}, {5 * s, 1}},
       {{0, s, 1, 1, 0, 0, 1},
        {s, s, 1, 1, 0, 0, 1},
        {2 * s, 2 * s, 1, 1, 0, 0, 1},
        {4 * s, 4 * s, 1, 1, 0, 0, 1}}},
  };
  for (const Row& row : rows) {
    Accumulator accumulator(3, s, row.most);
    Recorder recorder;
    accumulator.add_consumer(&recorder);
    for (auto [receive, latency] : row.latencies) accumulator.add(receive, latency);
    accumulator.finish();
    EXPECT_TRUE(recorder.rows == row.want) << row.name;
    EXPECT_EQ(accumulator.totals().count, static_cast<int64_t>(row.latencies.size())) << row.name;
  }
}

// Sums exact in 128 bits, and the histogram complete, with intervals or without.
TEST(Accumulator, Totals) {
  for (int64_t interval : {int64_t{0}, int64_t{1000}}) {
    Accumulator accumulator(3, interval);
    for (int64_t i = 0; i < 100000; ++i) accumulator.add(i * 7, hour_ns - i);
    accumulator.add(700000, -3);
    accumulator.finish();
    const Totals& t = accumulator.totals();
    EXPECT_EQ(t.count, 100001);
    EXPECT_TRUE(t.sum == static_cast<int128>(hour_ns) * 100000 - int128{100000} * 99999 / 2);
    EXPECT_EQ(accumulator.histogram().total_count(), 100000);
    EXPECT_EQ(accumulator.histogram().max(), hour_ns);
    EXPECT_EQ(t.negative, 1);
    EXPECT_EQ(t.most_negative, -3);
    EXPECT_EQ(t.first_receive, 0);
    EXPECT_EQ(t.last_receive, 699993 + 7);
  }
}

// Lines across the reader's block boundaries are read whole, whatever their
// length, from a pipe as from a file.
TEST(LatencyReader, BlockBoundaries) {
  for (int width : {1, 7, 19}) {
    std::string text;
    int64_t sum = 0, lines = 0;
    for (int64_t i = 0; text.size() < (3 << 20); ++i, ++lines) {
      std::string app = std::to_string(1000000 + i);
      app.insert(0, static_cast<size_t>(std::max<int>(0, width - static_cast<int>(app.size()))),
                 '0');
      text += app + " " + std::to_string(1000000 + 2 * i) + "\n";
      sum += i;
    }
    FILE* file = tmpfile();
    ASSERT_EQ(fwrite(text.data(), 1, text.size(), file), text.size());
    fflush(file);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    for (int fd : {fileno(file), fds[0]}) {
      Accumulator accumulator(3, 0);
      LatencyReader reader(&accumulator, false);
      if (fd == fds[0]) {
        // The writer runs in a child so that the pipe never fills.
        if (fork() == 0) {
          if (write(fds[1], text.data(), text.size()) < 0) _exit(1);
          _exit(0);
        }
        close(fds[1]);
      } else {
        lseek(fd, 0, SEEK_SET);
      }
      EXPECT_EQ(reader.read(fd, "test"), LatencyReader::Done);
      accumulator.finish();
      EXPECT_EQ(reader.skipped(), 0);
      EXPECT_EQ(accumulator.totals().count, lines) << width;
      EXPECT_TRUE(accumulator.totals().sum == sum) << width;
    }
    close(fds[0]);
    fclose(file);
  }
}

}  // namespace
