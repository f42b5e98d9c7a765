#pragma once

#include <cstdint>

namespace caplat::stat {

// Binomial(n, q), 0 < q < 1, its probabilities in long double. A tail is
// summed term by term from its inner end outwards, each term from the last by
// their ratio, until the terms no longer change the sum: some ten standard
// deviations of terms, exact to the sum's precision at every n.
class Binomial {
 public:
  // The distribution of n trials of probability q.
  Binomial(int64_t n, double q);

  // P(B = k), 0 <= k <= n.
  long double at(int64_t k) const;

  // P(B <= k).
  long double at_most(int64_t k) const;

  // P(B >= k).
  long double at_least(int64_t k) const;

 private:
  bool below_mode(int64_t k) const;
  long double lower_sum(int64_t k) const;
  long double upper_sum(int64_t k) const;

  int64_t n_;
  double q_;
  long double log_q_;
  long double log_p_;
  long double log_n_;
};

// The standard normal quantile of p, 0 < p < 1.
double normal_quantile(double p);

// The quantile p of Student's t with degrees of freedom (at least 30).
double student_quantile(double p, double degrees);

}  // namespace caplat::stat
