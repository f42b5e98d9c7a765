#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "clock_estimator.h"
#include "clock_gen.h"

namespace caplat::stat {
namespace {

using clockgen::Clocks;
using clockgen::Jitter;
using clockgen::Message;

ClockEstimate estimate_of(const std::vector<Message>& messages,
                          size_t capacity = ClockEstimator::default_capacity) {
  ClockEstimator estimator(capacity);
  for (const Message& m : messages) estimator.add(m.receive_ns, m.latency_ns);
  return estimator.estimate();
}

// An hour at 200 messages a second, as the figures below are stated for.
Clocks hour(double drift_ppm, Jitter jitter, bool ms_stamps, uint64_t seed) {
  return {.drift_ppm = drift_ppm, .jitter = jitter, .ms_stamps = ms_stamps, .seed = seed};
}

// The drift of an hour at 200 a second: within 0.05 ppm of the truth with
// stamps to the ns, 0.2 ppm to the ms, whatever the jitter, and within the
// bound it comes with.
TEST(ClockDrift, WithinItsBoundsOverAnHour) {
  struct Row {
    Clocks clocks;
    double within_ppm;
  };
  const Row rows[] = {
      {hour(25, Jitter::Exponential, false, 1), 0.05},
      {hour(-50, Jitter::Exponential, false, 2), 0.05},
      {hour(50, Jitter::Pareto, false, 3), 0.05},
      {hour(0, Jitter::Pareto, false, 4), 0.05},
      {hour(25, Jitter::Exponential, true, 5), 0.2},
      {hour(-50, Jitter::Pareto, true, 6), 0.2},
      {hour(10, Jitter::Exponential, true, 7), 0.2},
  };
  for (const Row& row : rows) {
    const Clocks& c = row.clocks;
    ClockEstimate e = estimate_of(clockgen::generate(c));
    SCOPED_TRACE(testing::Message() << "drift " << c.drift_ppm << " seed " << c.seed);
    ASSERT_TRUE(e.drift_ppm) << e.drift_unknown;
    EXPECT_NEAR(*e.drift_ppm, c.drift_ppm, row.within_ppm);
    EXPECT_NEAR(*e.drift_ppm, c.drift_ppm, *e.drift_bound_ppm);
    // The floor starts at 5 ms; the least latency is at or above it.
    EXPECT_NEAR(static_cast<double>(*e.floor_first_ns), 5e6, c.ms_stamps ? 3e5 : 2e4);
    EXPECT_NEAR(static_cast<double>(*e.floor_last_ns), 5e6 + c.drift_ppm * 3600e3,
                c.ms_stamps ? 3e5 : 2e4);
    ASSERT_TRUE(e.steps);
    EXPECT_TRUE(e.steps->empty());
  }
}

// A step of the floor is found within 2 s of its time and 0.2 ms of its size,
// and the drift around it stays within 0.1 ppm: steps of a few ms either way,
// one as a daemon steps a clock, and the receive clock set back, which moves
// receive times and latencies alike.
TEST(ClockSteps, FoundWhereAndAsLargeAsTheyAre) {
  struct Row {
    const char* name;
    std::vector<clockgen::Step> steps, receive_steps;
    bool ms_stamps;
  };
  const Row rows[] = {
      {"3 ms up", {{1800, 3}}, {}, false},
      {"3 ms down", {{1234.5, -3}}, {}, false},
      {"3 ms up, ms stamps", {{1800, 3}}, {}, true},
      {"3 ms down, ms stamps", {{600, -3}}, {}, true},
      {"two steps", {{900, 3}, {2700, -5}}, {}, false},
      {"a second", {{1800, 1000}}, {}, false},
      {"receive clock set back", {}, {{1800, -500}}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Clocks c = hour(-20, Jitter::Exponential, row.ms_stamps, 11);
    c.steps = row.steps;
    c.receive_steps = row.receive_steps;
    ClockEstimate e = estimate_of(clockgen::generate(c));
    ASSERT_TRUE(e.drift_ppm) << e.drift_unknown;
    EXPECT_NEAR(*e.drift_ppm, c.drift_ppm, 0.1);
    std::vector<clockgen::Step> want = row.steps;
    want.insert(want.end(), row.receive_steps.begin(), row.receive_steps.end());
    ASSERT_TRUE(e.steps) << e.steps_unknown;
    ASSERT_EQ(e.steps->size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_NEAR(static_cast<double>((*e.steps)[i].at_ns - c.start_ns) / 1e9, want[i].at_s, 2);
      EXPECT_NEAR(static_cast<double>((*e.steps)[i].size_ns) / 1e6, want[i].ms, 0.2);
    }
    EXPECT_EQ(e.set_backs, row.receive_steps.empty() ? 0 : 1);
  }
}

// Half an hour of jitter alone, heavy-tailed or not, at several rates and
// scales, shows no step; nor does a rise of the floor that lasts too few
// messages to be told from the jitter.
TEST(ClockSteps, NoneInJitterAloneOrABriefRise) {
  struct Row {
    Jitter jitter;
    double jitter_ms, rate;
    bool ms_stamps;
    std::vector<clockgen::Step> steps;
  };
  const Row rows[] = {
      {Jitter::Pareto, 1, 200, false, {}},
      {Jitter::Pareto, 1, 200, true, {}},
      {Jitter::Pareto, 10, 200, false, {}},
      {Jitter::Pareto, 0.1, 1000, false, {}},
      {Jitter::Pareto, 5, 20, true, {}},
      {Jitter::Exponential, 1, 200, false, {}},
      {Jitter::Exponential, 1, 200, false, {{900, 1}, {901, -1}}},
  };
  for (const Row& row : rows) {
    for (uint64_t seed = 1; seed <= 3; ++seed) {
      const Clocks c{.drift_ppm = 15,
                     .steps = row.steps,
                     .jitter = row.jitter,
                     .jitter_ms = row.jitter_ms,
                     .rate = row.rate,
                     .duration_s = 1800,
                     .ms_stamps = row.ms_stamps,
                     .seed = seed};
      ClockEstimate e = estimate_of(clockgen::generate(c));
      SCOPED_TRACE(testing::Message()
                   << "scale " << row.jitter_ms << " rate " << row.rate << " seed " << seed);
      ASSERT_TRUE(e.steps) << e.steps_unknown;
      EXPECT_TRUE(e.steps->empty()) << e.steps->size() << " steps, the first at "
                                    << (e.steps->front().at_ns - c.start_ns) / 1e9 << " s";
    }
  }
}

// The percentile p of values by rank.
double percentile(std::vector<int64_t> values, double p) {
  size_t rank = static_cast<size_t>(std::ceil(p / 100 * static_cast<double>(values.size())));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                   values.end());
  return static_cast<double>(values[rank - 1]);
}

// With the drift and the steps removed, the percentiles are those of the
// latencies the clocks would have given without them, within 1 % or 0.1 ms;
// with them, they are not. Where a step is far above the jitter, each
// message goes to its side of it, those next to it too.
TEST(ClockDeskew, PercentilesOfTheTruth) {
  struct Row {
    const char* name;
    Clocks clocks;
    bool each;  // every latency within 1 ms of the truth
  };
  const Row rows[] = {
      {"drift", hour(40, Jitter::Pareto, false, 21), true},
      {"steps",
       {.drift_ppm = -30, .steps = {{1000, 3}, {2500, -200}}, .ms_stamps = true, .seed = 22},
       false},
      {"receive clock set back",
       {.drift_ppm = 20, .receive_steps = {{2000, -300}}, .reorder_ms = 5, .seed = 23},
       false},
      {"a second up", {.drift_ppm = 10, .steps = {{1800, 1000}}, .seed = 24}, true},
      {"a second down", {.drift_ppm = 10, .steps = {{1800, -1000}}, .seed = 24}, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<Message> messages = clockgen::generate(row.clocks);
    Deskew deskew(estimate_of(messages));
    std::vector<int64_t> removed, truth, raw;
    int64_t off = 0;
    for (const Message& m : messages) {
      removed.push_back(deskew.remove(m.receive_ns, m.latency_ns));
      truth.push_back(m.truth_ns);
      raw.push_back(m.latency_ns);
      off += std::llabs(removed.back() - truth.back()) > 1000000;
    }
    for (double p : {50.0, 90.0, 99.0, 99.9}) {
      double want = percentile(truth, p);
      EXPECT_NEAR(percentile(removed, p), want, std::max(want / 100, 1e5)) << "p" << p;
    }
    EXPECT_GT(std::fabs(percentile(raw, 50) - percentile(truth, 50)), 1e6);
    EXPECT_TRUE(!row.each || off == 0) << off << " latencies more than 1 ms off";
  }
}

// Too few messages, too short a span, or receive times that go back too
// often: what cannot be told is absent, with what would be needed.
TEST(ClockUnknown, WhereTheDataCannotTell) {
  struct Row {
    const char* name;
    Clocks clocks;
    int set_backs;
    const char* drift_unknown;  // the start of the reason, "" when known
    const char* steps_unknown;
  };
  const Row rows[] = {
      {"few", {.duration_s = 2}, 0, "too few messages: ", "too few messages: "},
      {"short span", {.jitter_ms = 10, .duration_s = 20}, 0, "too short a span: ", ""},
      {"too few for steps",
       {.rate = 2, .duration_s = 600},
       0,
       "",
       "too few messages to tell steps"},
      {"set back too often",
       {.duration_s = 600},
       ReceiveTimeline::max_set_backs + 1,
       "the receive time went back",
       "the receive time went back"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Clocks c = row.clocks;
    for (int i = 0; i < row.set_backs; ++i) c.receive_steps.push_back({10.0 + i, -200});
    ClockEstimate e = estimate_of(clockgen::generate(c));
    EXPECT_EQ(e.drift_ppm.has_value(), *row.drift_unknown == 0) << e.drift_unknown;
    EXPECT_EQ(e.floor_first_ns.has_value(), *row.drift_unknown == 0);
    EXPECT_EQ(e.steps.has_value(), *row.steps_unknown == 0) << e.steps_unknown;
    EXPECT_EQ(e.drift_unknown.rfind(row.drift_unknown, 0), 0u) << e.drift_unknown;
    EXPECT_EQ(e.steps_unknown.rfind(row.steps_unknown, 0), 0u) << e.steps_unknown;
  }
}

// Memory stays at the capacity whatever the input: a few stretches give the
// same drift as many; points all on a convex curve, each a corner of the
// lower hull, keep no more; messages logged out of order are counted and
// kept at their own time.
TEST(ClockEstimator, BoundedWhateverTheInput) {
  Clocks c = hour(30, Jitter::Exponential, false, 31);
  c.reorder_ms = 20;
  std::vector<Message> messages = clockgen::generate(c);
  ClockEstimate many = estimate_of(messages);
  ClockEstimate few = estimate_of(messages, 256);
  ASSERT_TRUE(many.drift_ppm && few.drift_ppm);
  EXPECT_NEAR(*many.drift_ppm, 30, 0.05);
  EXPECT_NEAR(*few.drift_ppm, 30, 0.05);
  EXPECT_GT(many.out_of_order, static_cast<int64_t>(messages.size() / 10));
  EXPECT_EQ(many.set_backs, 0);

  ClockEstimator curve(1024);
  for (int64_t i = 0; i < 1000000; ++i) {
    curve.add(1700000000000000000 + static_cast<uint64_t>(i) * 1000000, i * i / 1000);
    ASSERT_LE(curve.stretches(), 1024u);
  }
  ClockEstimate e = curve.estimate();
  EXPECT_EQ(e.messages, 1000000);
}

}  // namespace
}  // namespace caplat::stat
