#include "confidence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
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
          known[k] += b.known ? 1 : 0;
          held[k] += b.known && b.low <= truth && truth <= b.high ? 1 : 0;
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
        EXPECT_LE(held[k], draws * 97 / 100) << what;
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
  // Intervals that share only an end overlap; an interval unknown decides nothing.
  const Bounds base{true, 10, 20, 0};
  const struct {
    Bounds run;
    Verdict expected;
  } cases[] = {{{true, 21, 30, 0}, Verdict::Higher},
               {{true, 20, 30, 0}, Verdict::Same},
               {{true, 0, 9, 0}, Verdict::Lower},
               {{true, 0, 10, 0}, Verdict::Same},
               {{false, 0, 0, 5}, Verdict::Same}};
  for (const auto& c : cases) EXPECT_EQ(verdict(base, c.run), c.expected) << c.run.low;
}

}  // namespace
}  // namespace caplat::stat
