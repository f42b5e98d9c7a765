#include "hgrm.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace caplat::stat {

namespace {

// ns per ms: the scale of the Java call that the .hgrm file reproduces.
constexpr double hgrm_scale = 1e6;

// Java's conversion of a double to long: NaN is 0, out-of-range values are the
// nearest extreme.
int64_t java_long(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775807.0) return INT64_MAX;
  if (v <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(v);
}

// Java's long addition and multiplication, which wrap around.
int64_t java_add(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
int64_t java_multiply(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

std::string padded(std::string text, int width) {
  if (static_cast<int>(text.size()) < width)
    text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
  return text;
}

// The mean and standard deviation as the Java library computes them: each
// index weighs in at the middle of its range, summed in double.
void java_mean_deviation(const Histogram& h, double* mean, double* deviation) {
  *mean = 0;
  *deviation = 0;
  if (h.total_count() == 0) return;
  double total = 0;
  h.for_each_count([&](size_t i, int64_t count) {
    total +=
        static_cast<double>(h.median_equivalent(h.value_at_index(i))) * static_cast<double>(count);
    return true;
  });
  *mean = total * 1.0 / static_cast<double>(h.total_count());
  double squares = 0;
  h.for_each_count([&](size_t i, int64_t count) {
    double d = static_cast<double>(h.median_equivalent(h.value_at_index(i))) * 1.0 - *mean;
    squares += (d * d) * static_cast<double>(count);
    return true;
  });
  *deviation = std::sqrt(squares / static_cast<double>(h.total_count()));
}

}  // namespace

std::vector<PercentileRow> percentile_rows(const Histogram& h, int ticks_per_half) {
  std::vector<std::pair<size_t, int64_t>> counts;
  h.for_each_count([&](size_t i, int64_t count) {
    counts.emplace_back(i, count);
    return true;
  });
  std::vector<PercentileRow> rows;
  const int64_t total = h.total_count();
  double level = 0.0;
  bool reached_last = false;
  int64_t running = 0;
  // The iteration adds an index's count once, when it first stands on it, and
  // may stand on it for several levels.
  size_t next = 0;
  size_t added = 0;
  for (;;) {
    if (running >= total) {
      // One more row at 100 %, after the last value is reached.
      if (reached_last || total <= 0) break;
      level = 100.0;
      reached_last = true;
    }
    bool found = false;
    for (; next < counts.size(); ++next) {
      if (added == next) running += counts[added++].second;
      if ((100.0 * static_cast<double>(running)) / static_cast<double>(total) >= level) {
        found = true;
        break;
      }
    }
    // The Java library throws here; a well-formed histogram never gets here.
    if (!found) break;
    rows.push_back({h.highest_equivalent(h.value_at_index(counts[next].first)), level, running});
    int64_t halvings = java_long(std::log(100.0 / (100.0 - level)) / std::log(2.0));
    int64_t ticks = java_multiply(
        ticks_per_half, java_long(std::pow(2.0, static_cast<double>(java_add(halvings, 1)))));
    level += 100.0 / static_cast<double>(ticks);
  }
  return rows;
}

std::string java_fixed(double v, int width, int precision) {
  if (std::isnan(v)) return padded("NaN", width);
  if (std::isinf(v)) return padded(v < 0 ? "-Infinity" : "Infinity", width);
  // The shortest digits that read back as v, and the exponent e of 0.digits * 10^e.
  char text[64];
  auto result =
      std::to_chars(text, text + sizeof text, std::fabs(v), std::chars_format::scientific);
  *result.ptr = '\0';
  std::string digits;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits += *p;
  }
  int exponent = atoi(p + 1) + 1;
  if (digits == "0") exponent = 1;
  // Half up at the last decimal kept, carrying into a new leading digit.
  int keep = exponent + precision;
  if (keep < 0) {
    digits.assign(1, '0');
    exponent = 1;
  } else if (keep < static_cast<int>(digits.size())) {
    bool up = digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (up) {
      int i = keep - 1;
      for (; i >= 0 && digits[static_cast<size_t>(i)] == '9'; --i)
        digits[static_cast<size_t>(i)] = '0';
      if (i >= 0) {
        ++digits[static_cast<size_t>(i)];
      } else {
        digits.insert(digits.begin(), '1');
        ++exponent;
      }
    }
    if (digits.empty()) {
      digits.assign(1, '0');
      exponent = 1;
    }
  }
  // Whole part, then precision decimals, from the digits placed at exponent.
  auto digit_at = [&](int position) {
    return position >= 0 && position < static_cast<int>(digits.size())
               ? digits[static_cast<size_t>(position)]
               : '0';
  };
  std::string out;
  if (v < 0) out += '-';
  if (exponent <= 0) {
    out += '0';
  } else {
    for (int i = 0; i < exponent; ++i) out += digit_at(i);
  }
  if (precision > 0) {
    out += '.';
    for (int i = 0; i < precision; ++i) out += digit_at(exponent + i);
  }
  return padded(out, width);
}

void write_hgrm(const Histogram& h, CheckedWriter* out) {
  const int digits = h.digits();
  out->put("       Value     Percentile TotalCount 1/(1-Percentile)\n\n");
  for (const PercentileRow& row : percentile_rows(h, hgrm_ticks)) {
    out->put(java_fixed(static_cast<double>(row.value) / hgrm_scale, 12, digits));
    out->put(' ');
    out->put(java_fixed(row.level / 100.0, 2, 12));
    out->put(' ');
    out->put(padded(std::to_string(row.total), 10));
    if (row.level != 100.0) {
      out->put(' ');
      out->put(java_fixed(1 / (1.0 - (row.level / 100.0)), 14, 2));
    }
    out->put('\n');
  }
  double mean, deviation;
  java_mean_deviation(h, &mean, &deviation);
  int64_t max = h.total_count() != 0 ? h.highest_equivalent(h.max()) : 0;
  const std::string footer[][2] = {
      {java_fixed(mean / hgrm_scale, 12, digits), java_fixed(deviation / hgrm_scale, 12, digits)},
      {java_fixed(static_cast<double>(max) / hgrm_scale, 12, digits),
       padded(std::to_string(h.total_count()), 12)},
      {padded(std::to_string(h.bucket_count()), 12),
       padded(std::to_string(h.sub_bucket_count()), 12)}};
  const char* const labels[][2] = {{"#[Mean    = ", ", StdDeviation   = "},
                                   {"#[Max     = ", ", Total count    = "},
                                   {"#[Buckets = ", ", SubBuckets     = "}};
  for (size_t i = 0; i < 3; ++i) {
    out->put(labels[i][0]);
    out->put(footer[i][0]);
    out->put(labels[i][1]);
    out->put(footer[i][1]);
    out->put("]\n");
  }
}

}  // namespace caplat::stat
