#include "distributions.h"

#include <cmath>

namespace caplat::stat {

namespace {

// A term this small against the sum changes nothing a long double holds.
constexpr long double negligible = 1e-21L;

}  // namespace

Binomial::Binomial(int64_t n, double q)
    : n_(n),
      q_(q),
      log_q_(std::log(static_cast<long double>(q))),
      log_p_(std::log1p(-static_cast<long double>(q))),
      log_n_(std::lgamma(static_cast<long double>(n) + 1)) {}

long double Binomial::at(int64_t k) const {
  auto j = static_cast<long double>(k);
  auto rest = static_cast<long double>(n_ - k);
  return std::exp(log_n_ - std::lgamma(j + 1) - std::lgamma(rest + 1) + j * log_q_ +
                  rest * log_p_);
}

long double Binomial::at_most(int64_t k) const {
  if (k < 0) return 0;
  if (k >= n_) return 1;
  if (below_mode(k)) return lower_sum(k);
  return 1 - upper_sum(k + 1);
}

long double Binomial::at_least(int64_t k) const {
  if (k <= 0) return 1;
  if (k > n_) return 0;
  if (below_mode(k)) return 1 - lower_sum(k - 1);
  return upper_sum(k);
}

// True if k lies below the mode, where the terms grow towards k.
bool Binomial::below_mode(int64_t k) const {
  return static_cast<long double>(k) < (static_cast<long double>(n_) + 1) * q_;
}

// The sum of P(B = j) for j from k down to 0, for k below the mode.
long double Binomial::lower_sum(int64_t k) const {
  long double term = at(k), sum = term;
  long double odds = (1 - static_cast<long double>(q_)) / q_;
  for (int64_t j = k; j > 0 && term > sum * negligible; --j) {
    term *= static_cast<long double>(j) / static_cast<long double>(n_ - j + 1) * odds;
    sum += term;
  }
  return sum;
}

// The sum of P(B = j) for j from k up to n, for k above the mode.
long double Binomial::upper_sum(int64_t k) const {
  long double term = at(k), sum = term;
  long double odds = static_cast<long double>(q_) / (1 - static_cast<long double>(q_));
  for (int64_t j = k; j < n_ && term > sum * negligible; ++j) {
    term *= static_cast<long double>(n_ - j) / static_cast<long double>(j + 1) * odds;
    sum += term;
  }
  return sum;
}

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

double student_quantile(double p, double degrees) {
  // The Cornish-Fisher expansion in 1 / degrees (Abramowitz and Stegun,
  // 26.7.5), to better than 1e-6 from 30 degrees on.
  double z = normal_quantile(p);
  double z2 = z * z;
  double g1 = z * (z2 + 1) / 4;
  double g2 = z * ((5 * z2 + 16) * z2 + 3) / 96;
  double g3 = z * (((3 * z2 + 19) * z2 + 17) * z2 - 15) / 384;
  double g4 = z * ((((79 * z2 + 776) * z2 + 1482) * z2 - 1920) * z2 - 945) / 92160;
  double v = degrees;
  return z + g1 / v + g2 / (v * v) + g3 / (v * v * v) + g4 / (v * v * v * v);
}

}  // namespace caplat::stat
