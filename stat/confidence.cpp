#include "confidence.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace caplat::stat {

namespace {

// From this n p (1 - p) on, the normal approximation of the binomial ranks is
// used; below it the exact binomial, whose smaller side then has a mean of at
// most twice this.
constexpr double normal_from = 100;

// Probabilities of the smaller side's counts are summed this many standard
// deviations, and then some, past its mean: beyond, they add nothing a double
// holds.
constexpr double tail_deviations = 40;
constexpr int64_t tail_margin = 100;

// The largest k in [from, to] for which holds(k), given that holds is true up
// to some k and false after; from - 1 if none.
template <typename Holds>
int64_t last_holding(int64_t from, int64_t to, Holds holds) {
  int64_t low = from - 1;
  while (low < to) {
    int64_t middle = low + (to - low + 1) / 2;
    if (holds(middle)) {
      low = middle;
    } else {
      to = middle - 1;
    }
  }
  return low;
}

}  // namespace

double normal_quantile(double p) {
  // Acklam's rational approximation, then one step of Halley's method on the
  // complementary error function, which brings it to a double's precision.
  static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02,  -2.759285104469687e+02,
                             1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
  static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                             6.680131188771972e+01, -1.328068155288572e+01};
  static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                             -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
  static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                             3.754408661907416e+00};
  constexpr double split = 0.02425;
  double x;
  if (p < split || p > 1 - split) {
    double q = std::sqrt(-2 * std::log(p < split ? p : 1 - p));
    x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
        ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    if (p > 1 - split) x = -x;
  } else {
    double q = p - 0.5;
    double r = q * q;
    x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
        (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
  }
  double e = 0.5 * std::erfc(-x / std::sqrt(2.0)) - p;
  double u = e * std::sqrt(2 * M_PI) * std::exp(x * x / 2);
  return x - u / (1 + x * u / 2);
}

Confidence::Confidence(double level)
    : alpha_(1 - level), z_(normal_quantile(1 - (1 - level) / 2)) {}

Ranks Confidence::ranks(int64_t n, double q) const {
  Ranks r;
  if (n <= 0 || q <= 0 || q >= 1) return r;
  auto count = static_cast<double>(n);
  double variance = count * q * (1 - q);
  if (variance >= normal_from) {
    // The quantiles of the normal approximation, with the continuity correction.
    double spread = z_ * std::sqrt(variance);
    r.low = static_cast<int64_t>(std::ceil(count * q - spread - 0.5));
    r.high = static_cast<int64_t>(std::ceil(count * q + spread - 0.5));
  } else {
    // B, the number of values at or below the quantile, is Binomial(n, q);
    // its smaller side S, Binomial(n, s) with s = min(q, 1 - q), has a small
    // mean, so its distribution is summed from 0 a term at a time.
    double s = std::min(q, 1 - q);
    bool flipped = q > 0.5;
    double smaller_mean = count * s;
    int64_t reach = std::min<int64_t>(
        n, static_cast<int64_t>(smaller_mean + tail_deviations * std::sqrt(smaller_mean)) +
               tail_margin);
    std::vector<double> at_most(static_cast<size_t>(reach) + 1);
    double sum = 0;
    for (int64_t k = 0; k <= reach; ++k) {
      auto j = static_cast<double>(k);
      sum += std::exp(std::lgamma(count + 1) - std::lgamma(j + 1) - std::lgamma(count - j + 1) +
                      j * std::log(s) + (count - j) * std::log1p(-s));
      at_most[static_cast<size_t>(k)] = std::min(sum, 1.0);
    }
    auto smaller = [&](int64_t k) {
      if (k < 0) return 0.0;
      return k > reach ? 1.0 : at_most[static_cast<size_t>(k)];
    };
    // P(B <= k): of S itself, or, with B = n - S, 1 - P(S <= n - k - 1).
    auto cdf = [&](int64_t k) { return flipped ? 1 - smaller(n - k - 1) : smaller(k); };
    // The smallest k at which P(B <= k) reaches a probability.
    auto quantile = [&](double probability) {
      return 1 + last_holding(-1, n, [&](int64_t k) { return cdf(k) < probability; });
    };
    r.low = quantile(alpha_ / 2);
    r.high = quantile(1 - alpha_ / 2);
  }
  // The rank of the smallest value, or of the largest, is outside: the data
  // cannot tell the quantile from the ends of the distribution.
  r.known = r.low >= 1 && r.high <= n - 1;
  return r;
}

int64_t Confidence::needs(double q) const {
  if (q <= 0 || q >= 1) return 0;
  // Both ranks lie within n values about when max(q, 1 - q)^n < alpha / 2.
  auto n = static_cast<int64_t>(std::ceil(std::log(alpha_ / 2) / std::log(std::max(q, 1 - q))));
  while (n > 1 && ranks(n - 1, q).known) --n;
  while (!ranks(n, q).known) ++n;
  return n;
}

Bounds Confidence::percentile(const Histogram& histogram, double percentile) const {
  Bounds b;
  double q = percentile / 100;
  int64_t n = histogram.total_count();
  Ranks r = ranks(n, q);
  if (!r.known) {
    b.needs = needs(q);
    return b;
  }
  b.known = true;
  b.low = std::max(histogram.lowest_equivalent(histogram.value_at_rank(r.low)), histogram.min());
  b.high = std::min(histogram.highest_equivalent(histogram.value_at_rank(r.high)), histogram.max());
  return b;
}

Bounds Confidence::mean(double mean, double deviation, int64_t n) const {
  Bounds b;
  if (n <= 0) return b;
  double spread = z_ * deviation / std::sqrt(static_cast<double>(n));
  b.known = true;
  b.low = std::llround(mean - spread);
  b.high = std::llround(mean + spread);
  return b;
}

Verdict verdict(const Bounds& baseline, const Bounds& run) {
  if (!baseline.known || !run.known) return Verdict::Same;
  if (run.low > baseline.high) return Verdict::Higher;
  if (run.high < baseline.low) return Verdict::Lower;
  return Verdict::Same;
}

const char* verdict_name(Verdict verdict) {
  switch (verdict) {
    case Verdict::Higher:
      return "higher";
    case Verdict::Lower:
      return "lower";
    case Verdict::Same:
      break;
  }
  return "same";
}

}  // namespace caplat::stat
