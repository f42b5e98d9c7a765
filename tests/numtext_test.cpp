#include "numtext.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace caplat {

namespace {

// Every value near zero and near each power of two and of ten, and values at
// random over the whole range, where a double no longer holds every nanosecond
// and rounding decides the latency's digits; against printf.
TEST(NumText, MatchesPrintf) {
  std::vector<uint64_t> values;
  for (int64_t d = -300000; d <= 300000; ++d) values.push_back(d);
  uint64_t ten = 1;
  for (int shift = 0; shift < 64; ++shift, ten = shift < 20 ? ten * 10 : 0) {
    uint64_t two = uint64_t{1} << shift;
    for (int64_t d = -2000; d <= 2000; ++d)
      values.insert(values.end(), {two + d, 0 - two - d, ten + d, 0 - ten - d});
  }
  std::mt19937_64 random(42);
  for (int i = 0; i < 2000000; ++i) values.push_back(random() >> (random() % 64));
  // Neighbours in the list mostly share their seconds, as times in a log do.
  numtext::TimeText times;
  for (uint64_t v : values) {
    auto d = static_cast<int64_t>(v);
    char mine[32], printed[32];
    snprintf(printed, sizeof printed, "%.6lf", static_cast<double>(d) * 1e-6);
    ASSERT_EQ(std::string(mine, numtext::latency(mine, d)), printed) << d;
    snprintf(printed, sizeof printed, "%llu", static_cast<unsigned long long>(v));
    ASSERT_EQ(std::string(mine, numtext::u64(mine, v)), printed) << v;
    ASSERT_EQ(std::string(mine, times.write(mine, v)), printed) << v;
  }
}

}  // namespace

}  // namespace caplat
