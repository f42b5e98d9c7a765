#include "figures.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "decimal.h"

namespace caplat::stat {

namespace {

// The standard deviation in ns over the n latencies in range. With the
// sum s = q n + r (0 <= r < n), the sum of squared deviations, sum_squares -
// s^2 / n, is sum_squares - q s - q r - r^2 / n: exact in 128 bits but for the
// last term, which is below n.
long double deviation(const Totals& totals, int64_t n) {
  int128 q = totals.sum / n;
  int128 r = totals.sum % n;
  int128 whole = totals.sum_squares - q * totals.sum - q * r;
  long double squares = static_cast<long double>(whole) - static_cast<long double>(r) *
                                                              static_cast<long double>(r) /
                                                              static_cast<long double>(n);
  return std::sqrt(std::max(squares, 0.0L) / static_cast<long double>(n));
}

}  // namespace

std::string bounds_text(const Bounds& b, const Unit& unit) {
  auto text = [&](int64_t v) { return fixed_text(v, unit.decimals); };
  if (b.known()) return std::string("[") + text(*b.low) + ", " + text(*b.high) + "]";
  if (b.heavy_tail) return "(no interval: the tail is too heavy)";
  std::string one = b.low ? std::string("at least ") + text(*b.low) + "; "
                    : b.high ? std::string("at most ") + text(*b.high) + "; "
                             : std::string();
  if (b.needs == 0) return "";
  return std::string("(") + one + "needs >= " + fixed_text(b.needs, 0) + " messages)";
}

int64_t rounded_quotient(int128 n, int128 d) {
  return static_cast<int64_t>((2 * n + d) / (2 * d));
}

bool parse_percentiles(const char* text, std::vector<Percentile>* list) {
  list->clear();
  const char* p = text;
  for (;;) {
    const char* end = strchr(p, ',');
    std::string item(p, end != nullptr ? static_cast<size_t>(end - p) : strlen(p));
    double value;
    if (!parse_decimal(item, &value) || value > 100.0) return false;
    // A percentile asked for twice is given once, under its first spelling.
    if (std::none_of(list->begin(), list->end(),
                     [&](const Percentile& p) { return p.value == value; }))
      list->push_back({item, value});
    if (end == nullptr) return true;
    p = end + 1;
  }
}

Figures figures_of(const Totals& t, const Histogram& histogram,
                   const std::vector<Percentile>& percentiles, const LatencyRange& range,
                   int64_t skipped, const Confidence& confidence) {
  Figures f;
  f.count = t.count;
  f.timed = t.timed;
  f.range = range;
  f.in_range = histogram.total_count();
  f.have_span = t.have_receive;
  f.span_ns = t.last_receive - t.first_receive;
  f.have_rate = t.have_receive && f.span_ns != 0;
  if (f.have_rate)
    f.rate_tenths = rounded_quotient(static_cast<int128>(t.timed) * 10000000000, f.span_ns);
  f.names = percentiles;
  if (f.in_range != 0) {
    f.min = histogram.min();
    f.max = histogram.max();
    f.mean.value = rounded_quotient(t.sum, f.in_range);
    f.mean_milli = rounded_quotient(t.sum * 1000, f.in_range);
    long double sd = deviation(t, f.in_range);
    f.deviation_milli = std::llround(sd * 1000);
    // The mean's interval takes the sample's deviation, over n - 1.
    long double sample = f.in_range > 1 ? sd * std::sqrt(static_cast<long double>(f.in_range) /
                                                          static_cast<long double>(f.in_range - 1))
                                        : 0;
    f.mean.bounds =
        confidence.mean(histogram, static_cast<double>(t.sum) / static_cast<double>(f.in_range),
                        static_cast<double>(sample));
    // No mean lies beyond the latencies.
    if (f.mean.bounds.low) f.mean.bounds.low = std::max(*f.mean.bounds.low, f.min);
    if (f.mean.bounds.high) f.mean.bounds.high = std::min(*f.mean.bounds.high, f.max);
    for (const Percentile& p : percentiles) {
      f.percentiles.push_back(
          {histogram.percentile(p.value), confidence.percentile(histogram, p.value)});
    }
  }
  f.negative = t.negative;
  f.most_negative = t.most_negative;
  f.stale = t.stale;
  f.over_hour = t.over_hour;
  f.max_over_hour = t.max_over_hour;
  f.skipped = skipped;
  f.digits = histogram.digits();
  return f;
}

}  // namespace caplat::stat
