#include "numtext.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string reference_latency(int64_t d) {
  char text[64];
  snprintf(text, sizeof text, "%.6lf", static_cast<double>(d) * 1e-6);
  return text;
}

std::string latency(int64_t d) {
  char text[64];
  return std::string(text, numtext::latency(text, d));
}

TEST(NumText, LatencyMatchesPrintf) {
  // Every value near zero, near each power of two and ten, and at random over the whole range,
  // where the double can no longer hold every nanosecond and rounding decides the digits.
  for (int64_t d = -300000; d <= 300000; ++d) ASSERT_EQ(latency(d), reference_latency(d)) << d;
  for (int shift = 0; shift < 63; ++shift) {
    for (int64_t delta = -2000; delta <= 2000; ++delta) {
      int64_t d = static_cast<int64_t>((uint64_t{1} << shift) + delta);
      ASSERT_EQ(latency(d), reference_latency(d)) << d;
      ASSERT_EQ(latency(-d), reference_latency(-d)) << -d;
    }
  }
  for (int64_t power = 1; power <= INT64_MAX / 10; power *= 10) {
    for (int64_t delta = -2000; delta <= 2000; ++delta) {
      ASSERT_EQ(latency(power + delta), reference_latency(power + delta)) << power + delta;
      ASSERT_EQ(latency(-power - delta), reference_latency(-power - delta)) << -power - delta;
    }
  }
  for (int64_t d : {INT64_MIN, INT64_MIN + 1, INT64_MAX, INT64_MAX - 1})
    ASSERT_EQ(latency(d), reference_latency(d)) << d;
  std::mt19937_64 random(42);
  for (int i = 0; i < 2000000; ++i) {
    auto d = static_cast<int64_t>(random() >> (random() % 64));
    if (i & 1) d = -d;
    ASSERT_EQ(latency(d), reference_latency(d)) << d;
  }
}

TEST(NumText, IntegersMatchPrintf) {
  std::vector<uint64_t> values = {UINT64_MAX, UINT64_MAX - 1};
  for (uint64_t power = 1; power <= UINT64_MAX / 10; power *= 10) {
    for (uint64_t v : {power - 1, power, power + 1, 10 * power - 1}) values.push_back(v);
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 2000000; ++i) values.push_back(random() >> (random() % 64));
  for (uint64_t v : values) {
    char mine[32], theirs[32];
    snprintf(theirs, sizeof theirs, "%llu", static_cast<unsigned long long>(v));
    ASSERT_EQ(std::string(mine, numtext::u64(mine, v)), theirs);
  }
}

}  // namespace
