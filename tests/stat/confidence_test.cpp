#include "confidence.h"
#include "distributions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "histogram.h"
#include "units.h"

namespace caplat::stat {
namespace {

// A quantile function tabulated at points, read by linear interpolation, so
// that drawing a value costs a table lookup; the quantiles of what is drawn
// are those of the table.
class Distribution {
 public:
  Distribution(const std::function<double(double)>& quantile) : values_(points) {
    for (size_t i = 0; i < points; ++i) values_[i] = quantile((i + 0.5) / points);
  }

  double quantile(double u) const {
    double x = u * points - 0.5;
    if (x <= 0) return values_.front();
    if (x >= points - 1) return values_.back();
    auto i = static_cast<size_t>(x);
    return values_[i] + (x - static_cast<double>(i)) * (values_[i + 1] - values_[i]);
  }

 private:
  static constexpr size_t points = 1 << 16;
  std::vector<double> values_;
};

// Uniform numbers in [0, 1) from a seed (splitmix64).
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  double next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return static_cast<double>((z ^ (z >> 31)) >> 11) * 0x1.0p-53;
  }

 private:
  uint64_t state_;
};

// A log-normal body (median 2 ms) with a Pareto tail past its 99th
// percentile, and a uniform between 1 and 3 ms, in ns.
const Distribution heavy_tail([](double u) {
  auto body = [](double v) { return std::exp(std::log(2e6) + 0.5 * normal_quantile(v)); };
  return u <= 0.99 ? body(u) : body(0.99) * std::pow(0.01 / (1 - u), 1 / 1.5);
});
const Distribution uniform([](double u) { return 1e6 + 2e6 * u; });

void draw(const Distribution& d, int64_t n, double scale, Random* random, Histogram* h) {
  h->reset();
  for (int64_t i = 0; i < n; ++i) h->record(std::llround(d.quantile(random->next()) * scale));
}

// P(B = k) for every k of B ~ Binomial(n, q): the tests' reference, the
// whole distribution from its mode outwards, apart from how the program sums
// its tails.
std::vector<long double> binomial(int64_t n, double q) {
  std::vector<long double> p(static_cast<size_t>(n) + 1);
  auto mode = std::min<int64_t>(n, static_cast<int64_t>(static_cast<double>(n + 1) * q));
  auto m = static_cast<long double>(n), j = static_cast<long double>(mode);
  long double odds = q / (1 - static_cast<long double>(q));
  p[mode] = std::exp(std::lgamma(m + 1) - std::lgamma(j + 1) - std::lgamma(m - j + 1) +
                     j * std::log(static_cast<long double>(q)) +
                     (m - j) * std::log1p(-static_cast<long double>(q)));
  for (int64_t k = mode; k < n; ++k)
    p[k + 1] = p[k] * static_cast<long double>(n - k) / static_cast<long double>(k + 1) * odds;
  for (int64_t k = mode; k > 0; --k)
    p[k - 1] = p[k] * static_cast<long double>(k) / static_cast<long double>(n - k + 1) / odds;
  return p;
}

// The ranks, against the exact binomial quantiles computed apart (scipy's
// binom), at the level of the row: at the smallest counts of the normal
// guess's range and far beyond it, and where an interval starts to exist.
TEST(Confidence, RanksAreTheExactBinomialOnes) {
  const struct {
    int64_t n;
    double q, level;
    int64_t low, high;
  } rows[] = {{6, 0.5, 0.95, 1, 6},
              {36, 0.9, 0.95, 29, 36},
              {367, 0.99, 0.95, 359, 368},
              {368, 0.99, 0.95, 360, 368},
              {1000, 0.5, 0.95, 469, 532},
              {1000, 0.99, 0.95, 983, 997},
              {3688, 0.999, 0.95, 3680, 3688},
              {100, 0.5, 0.9, 42, 59},
              {100, 0.5, 0.99, 37, 64},
              {20000, 0.995, 0.95, 19880, 19920},
              {100000, 0.99, 0.95, 98938, 99062},
              {1000000, 0.5, 0.95, 499020, 500981},
              {10000000, 0.999, 0.95, 9989804, 9990196},
              {1000000000, 0.5, 0.95, 499969010, 500030991}};
  for (const auto& row : rows) {
    Ranks r = Confidence(row.level).ranks(row.n, row.q);
    EXPECT_EQ(r.low, row.low) << row.n << " " << row.q << " " << row.level;
    EXPECT_EQ(r.high, row.high) << row.n << " " << row.q << " " << row.level;
  }
}

// At every count up to 1,500 and at some far larger, for quantiles from the
// middle to the far tail on both sides: each tail left out holds at most
// alpha / 2 (so the interval X(low), X(high) holds the quantile with at least
// the level's probability), and one rank further in would hold more; the
// count that the messages need is the first with both ranks within them.
TEST(Confidence, EveryIntervalHoldsTheLevelAndNoMore) {
  const double qs[] = {0.5, 0.9, 0.99, 0.999, 0.01, 0.25};
  for (double level : {0.9, 0.95, 0.99}) {
    const Confidence confidence(level);
    const long double half = (1 - level) / 2;
    for (double q : qs) {
      std::vector<int64_t> counts;
      for (int64_t n = 1; n <= 1500; ++n) counts.push_back(n);
      for (int64_t n : {4999, 30011, 250000}) counts.push_back(n);
      for (int64_t n : counts) {
        Ranks r = confidence.ranks(n, q);
        ASSERT_TRUE(r.low >= 0 && r.low <= r.high && r.high <= n + 1) << n;
        long double below = 0, below_next = 0, above = 0, above_next = 0;
        std::vector<long double> probability = binomial(n, q);
        for (int64_t k = 0; k <= n; ++k) {
          long double p = probability[k];
          if (k < r.low) below += p;
          if (k <= r.low) below_next += p;
          if (k >= r.high) above += p;
          if (k >= r.high - 1) above_next += p;
        }
        std::string what = std::to_string(n) + " q " + std::to_string(q) + " level " +
                           std::to_string(level);
        ASSERT_LE(below, half * (1 + 1e-9L)) << what;
        ASSERT_LE(above, half * (1 + 1e-9L)) << what;
        if (r.low < n) {
          ASSERT_GT(below_next, half * (1 - 1e-9L)) << what;
        }
        if (r.high > 1) {
          ASSERT_GT(above_next, half * (1 - 1e-9L)) << what;
        }
      }
      int64_t needs = confidence.needs(q);
      Ranks at = confidence.ranks(needs, q), before = confidence.ranks(needs - 1, q);
      EXPECT_TRUE(at.low >= 1 && at.high <= needs) << q;
      EXPECT_FALSE(before.low >= 1 && before.high <= needs - 1) << q;
    }
  }
  EXPECT_EQ(Confidence(0.95).needs(0.999), 3688);
  EXPECT_EQ(Confidence(0.95).needs(0.99), 368);
  EXPECT_EQ(Confidence(0.95).needs(0.5), 6);
}

// The share of draws of n values whose 95 % interval holds the true quantile:
// the definition of an interval's coverage, counted. The histogram keeps five
// digits, so that its ranges are far narrower than the intervals.
TEST(Confidence, IntervalsHoldTheTrueQuantileNineteenTimesInTwenty) {
  const Confidence confidence(0.95);
  Random random(17);
  Histogram h(1, hour_ns, 5);
  const struct {
    const char* name;
    const Distribution& d;
  } distributions[] = {{"heavy tail", heavy_tail}, {"uniform", uniform}};
  const double percentiles[] = {50, 99, 99.9};
  for (const auto& [name, d] : distributions) {
    for (int64_t n : {1000, 100000}) {
      const int draws = n == 1000 ? 2000 : 1000;
      int held[3] = {}, known[3] = {};
      for (int i = 0; i < draws; ++i) {
        draw(d, n, 1, &random, &h);
        for (int k = 0; k < 3; ++k) {
          Bounds b = confidence.percentile(h, percentiles[k]);
          double truth = d.quantile(percentiles[k] / 100);
          known[k] += b.known() ? 1 : 0;
          held[k] += b.known() && *b.low <= truth && truth <= *b.high ? 1 : 0;
        }
      }
      for (int k = 0; k < 3; ++k) {
        std::string what = std::string(name) + " n=" + std::to_string(n) + " p" +
                           std::to_string(percentiles[k]) + ": " + std::to_string(held[k]);
        // p99.9 needs 3,688 values for an interval at 95 %.
        if (percentiles[k] == 99.9 && n == 1000) {
          EXPECT_EQ(known[k], 0) << what;
          continue;
        }
        ASSERT_EQ(known[k], draws) << what;
        EXPECT_GE(held[k], draws * 93 / 100) << what;
        // Exact ranks hold the level or more: at n = 1,000, p99's hold 0.976.
        EXPECT_LE(held[k], draws * 98 / 100) << what;
      }
    }
  }
  EXPECT_EQ(confidence.needs(0.999), 3688);
}

// Two runs of one distribution are the same at every percentile in at least
// 95 % of pairs; a tail 10 % longer is higher at p99 with 100,000 messages.
TEST(Confidence, Verdicts) {
  const Confidence confidence(0.95);
  Random random(23);
  Histogram a(1, hour_ns, 3), b(1, hour_ns, 3);
  const double percentiles[] = {50, 90, 99, 99.9, 99.99};
  int all_same = 0;
  const int pairs = 200;
  for (int i = 0; i < pairs; ++i) {
    draw(heavy_tail, 100000, 1, &random, &a);
    draw(heavy_tail, 100000, 1, &random, &b);
    bool same = true;
    for (double p : percentiles)
      same = same &&
             verdict(confidence.percentile(a, p), confidence.percentile(b, p)) == Verdict::Same;
    all_same += same ? 1 : 0;
  }
  EXPECT_GE(all_same, pairs * 95 / 100);
  for (int i = 0; i < 20; ++i) {
    draw(heavy_tail, 100000, 1, &random, &a);
    draw(heavy_tail, 100000, 1.1, &random, &b);
    EXPECT_EQ(verdict(confidence.percentile(a, 99), confidence.percentile(b, 99)), Verdict::Higher);
    EXPECT_EQ(verdict(confidence.percentile(b, 99), confidence.percentile(a, 99)), Verdict::Lower);
  }
  // Intervals that share only an end overlap; a bound known on the side
  // that would differ decides alone; nothing known is unknown.
  const std::optional<int64_t> none;
  const Bounds base{10, 20};
  const struct {
    Bounds baseline, run;
    Verdict expected;
  } cases[] = {{base, {21, 30}, Verdict::Higher},
               {base, {20, 30}, Verdict::Same},
               {base, {0, 9}, Verdict::Lower},
               {base, {0, 10}, Verdict::Same},
               {base, {21, none}, Verdict::Higher},
               {base, {none, 9}, Verdict::Lower},
               {base, {15, none}, Verdict::Same},
               {{none, 20}, {21, none}, Verdict::Higher},
               {{10, none}, {21, none}, Verdict::Unknown},
               {base, {none, none}, Verdict::Unknown},
               {{none, none}, {21, 30}, Verdict::Unknown}};
  for (const auto& c : cases) {
    EXPECT_EQ(verdict(c.baseline, c.run), c.expected)
        << c.run.low.value_or(-1) << " " << c.run.high.value_or(-1);
  }
}

// The mean's interval: none below 150 latencies; where the tail is light, it
// holds the true mean at least 93 times in a hundred, log-normal latencies
// (sigma 0.8) included, which a plain t-interval does not; a power tail of
// index 1.5, whose variance is infinite, almost never gets one.
TEST(Confidence, MeanIntervalsHoldWhatTheySay) {
  const Confidence confidence(0.95);
  Random random(29);
  Histogram h(1, hour_ns, 5);
  const double sigma = 0.8;
  const Distribution lognormal(
      [&](double u) { return std::exp(std::log(1e6) + sigma * normal_quantile(u)); });
  const Distribution pareto([](double u) { return 1e6 * std::pow(1 - u, -1 / 1.5); });
  const struct {
    const char* name;
    const Distribution& d;
    double mean;
    int64_t n;
    int draws;
    double least_stated, least_held, most_stated;
  } rows[] = {{"log-normal", lognormal, 1e6 * std::exp(sigma * sigma / 2), 150, 2000, 0.7, 0.93, 1},
              {"log-normal", lognormal, 1e6 * std::exp(sigma * sigma / 2), 1000, 1000, 0.9, 0.93, 1},
              {"Pareto 1.5", pareto, 3e6, 10000, 200, 0, 0, 0.03}};
  for (const auto& row : rows) {
    int stated = 0, held = 0;
    for (int i = 0; i < row.draws; ++i) {
      h.reset();
      long double sum = 0, squares = 0;
      for (int64_t k = 0; k < row.n; ++k) {
        int64_t v = std::llround(row.d.quantile(random.next()));
        h.record(v);
        sum += v;
        squares += static_cast<long double>(v) * v;
      }
      long double mean = sum / row.n;
      long double deviation = std::sqrt((squares - sum * mean) / (row.n - 1));
      Bounds b = confidence.mean(h, static_cast<double>(mean), static_cast<double>(deviation));
      if (!b.known()) continue;
      ++stated;
      held += *b.low <= row.mean && row.mean <= *b.high ? 1 : 0;
    }
    std::string what = std::string(row.name) + " n=" + std::to_string(row.n) + ": " +
                       std::to_string(held) + " of " + std::to_string(stated);
    EXPECT_GE(stated, row.least_stated * row.draws) << what;
    EXPECT_LE(stated, row.most_stated * row.draws) << what;
    EXPECT_GE(held, row.least_held * stated) << what;
  }
  h.reset();
  for (int64_t k = 1; k < Confidence::mean_needs; ++k) h.record(k);
  Bounds few = confidence.mean(h, 50, 29);
  EXPECT_FALSE(few.low || few.high);
  EXPECT_EQ(few.needs, Confidence::mean_needs);
}

}  // namespace
}  // namespace caplat::stat
