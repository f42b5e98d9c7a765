#include "output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "numtext.h"

namespace {

struct Printed {
  std::string out;
  std::string errors;
};

Printed print(uint32_t format, uint64_t receive, uint64_t application) {
  char* text = nullptr;
  size_t size = 0;
  Output output;
  output.file = open_memstream(&text, &size);
  output.format = format;
  uint64_t pair[2] = {receive, application};
  testing::internal::CaptureStderr();
  output.output(pair);
  Printed printed;
  printed.errors = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(output.flush());
  fclose(output.file);
  printed.out.assign(text, size);
  free(text);
  return printed;
}

TEST(Output, FormatsAndWarnings) {
  const uint64_t r = 1700000000150000000, a = 1700000000123000000;
  struct Case {
    uint32_t format;
    uint64_t receive, application;
    const char* out;
    const char* errors;
  } cases[] = {
      {0, r, a, "1700000000123000000 1700000000150000000\n", ""},
      {1, r, a, "27.000000\n", ""},
      {2, r, a, "1700000000123000000 1700000000150000000 27.000000\n", ""},
      {7, r, a, "1700000000123000000 1700000000150000000 27.000000\n", ""},
      {1, a + 10000000000, a, "10000.000000\n", ""},
      {1, a + 10000000001, a, "10000.000001\n",
       "WARNING: Unexpected latency 10000000001 = 1700000010123000001 - 1700000000123000000\n"},
      {2, a - 3000000, a, "1700000000123000000 1700000000120000000 -3.000000\n",
       "WARNING: Unexpected latency -3000000 = 1700000000120000000 - 1700000000123000000\n"},
      {1, a - 1, a, "-0.000001\n",
       "WARNING: Unexpected latency -1 = 1700000000122999999 - 1700000000123000000\n"},
      {0, 0, ~uint64_t{0}, "18446744073709551615 0\n", ""},
      {1, 5, 5, "0.000000\n", ""},
  };
  for (const Case& c : cases) {
    Printed printed = print(c.format, c.receive, c.application);
    EXPECT_EQ(printed.out, c.out);
    EXPECT_EQ(printed.errors, c.errors);
  }
}

TEST(Output, WriteFailureIsReported) {
  Output output;
  output.file = fopen("/dev/full", "w");
  ASSERT_NE(output.file, nullptr);
  uint64_t pair[2] = {2, 1};
  output.output(pair);
  EXPECT_FALSE(output.flush());
  fclose(output.file);
}

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
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    uint64_t v = random() >> (random() % 64);
    char mine[32], theirs[32];
    snprintf(theirs, sizeof theirs, "%llu", static_cast<unsigned long long>(v));
    ASSERT_EQ(std::string(mine, numtext::u64(mine, v)), theirs);
  }
}

}  // namespace
