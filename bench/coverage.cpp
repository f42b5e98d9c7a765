// Measures what caplat-stat's confidence intervals hold. For percentiles, the
// exact coverage P(low <= B < high) of the ranks at every count up to a limit,
// B ~ Binomial(n, q), and its least value; for the mean, the share of samples
// with an interval and the share of those that hold the true mean, by
// simulation of several distributions.
//
//   coverage [--percentiles N] [--draws D] [--level L] [--counts N,N,...]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "confidence.h"
#include "distributions.h"
#include "histogram.h"
#include "units.h"

using namespace caplat::stat;

namespace {

// Uniform numbers in (0, 1) from a seed (splitmix64).
struct Random {
  uint64_t state;
  double next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return (static_cast<double>((z ^ (z >> 31)) >> 11) + 0.5) * 0x1.0p-53;
  }
};

// The coverage of the ranks of n values for q, summing the distribution from
// its mode outwards.
double coverage(const Confidence& confidence, int64_t n, double q) {
  Ranks r = confidence.ranks(n, q);
  auto mode = static_cast<int64_t>(static_cast<double>(n + 1) * q);
  if (mode > n) mode = n;
  long double m = n, j = mode, odds = q / (1 - static_cast<long double>(q));
  long double at_mode = std::exp(std::lgamma(m + 1) - std::lgamma(j + 1) - std::lgamma(m - j + 1) +
                                 j * std::log(static_cast<long double>(q)) +
                                 (m - j) * std::log1p(-static_cast<long double>(q)));
  long double held = 0, p = at_mode;
  for (int64_t k = mode; k <= n; ++k) {
    if (k >= r.low && k < r.high) held += p;
    p *= static_cast<long double>(n - k) / static_cast<long double>(k + 1) * odds;
  }
  p = at_mode;
  for (int64_t k = mode; k > 0; --k) {
    p *= static_cast<long double>(k) / static_cast<long double>(n - k + 1) / odds;
    if (k - 1 >= r.low && k - 1 < r.high) held += p;
  }
  return static_cast<double>(held);
}

struct Distribution {
  const char* name;
  std::function<double(double)> quantile;
  double mean;
};

}  // namespace

int main(int argc, char** argv) {
  int64_t limit = 20000;
  int draws = 2000;
  double level = 0.95;
  std::vector<int64_t> counts = {100, 300, 1000, 3000, 10000};
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--counts") == 0) {
      counts.clear();
      for (char* p = argv[i + 1]; *p != '\0';) {
        counts.push_back(strtoll(p, &p, 10));
        if (*p == ',') ++p;
      }
    }
    if (strcmp(argv[i], "--percentiles") == 0) limit = atoll(argv[i + 1]);
    if (strcmp(argv[i], "--draws") == 0) draws = atoi(argv[i + 1]);
    if (strcmp(argv[i], "--level") == 0) level = atof(argv[i + 1]);
  }
  const Confidence confidence(level);
  printf("percentiles at %g: least exact coverage over n = 1 to %lld where both ranks exist\n",
         level, static_cast<long long>(limit));
  for (double q : {0.5, 0.9, 0.99, 0.999, 0.9999}) {
    double least = 1;
    int64_t at = 0;
    for (int64_t n = 1; n <= limit; ++n) {
      Ranks r = confidence.ranks(n, q);
      if (r.low < 1 || r.high > n) continue;
      double c = coverage(confidence, n, q);
      if (c < least) {
        least = c;
        at = n;
      }
    }
    printf("  p%-7g %.4f at n = %lld\n", 100 * q, least, static_cast<long long>(at));
  }
  const double sigma = 0.8;
  const Distribution distributions[] = {
      {"log-normal 0.8", [&](double u) { return std::exp(sigma * normal_quantile(u)); },
       std::exp(sigma * sigma / 2)},
      {"exponential", [](double u) { return -std::log1p(-u); }, 1},
      {"Pareto 2.5", [](double u) { return std::pow(1 - u, -1 / 2.5); }, 2.5 / 1.5},
      {"Pareto 1.5", [](double u) { return std::pow(1 - u, -1 / 1.5); }, 3},
  };
  printf("\nthe mean at %g, %d samples each: share with an interval, share of those holding it\n",
         level, draws);
  printf("%-16s", "n");
  for (int64_t n : counts) printf("%16lld", static_cast<long long>(n));
  printf("\n");
  Random random{41};
  Histogram h(1, hour_ns, 3);
  // Latencies of about a millisecond, in ns.
  constexpr double scale = 1e6;
  for (const Distribution& d : distributions) {
    printf("%-16s", d.name);
    for (int64_t n : counts) {
      int stated = 0, held = 0;
      int samples = n >= 3000 ? draws / 4 : draws;
      for (int s = 0; s < samples; ++s) {
        h.reset();
        long double sum = 0, squares = 0;
        for (int64_t k = 0; k < n; ++k) {
          auto v = static_cast<int64_t>(std::llround(std::min(d.quantile(random.next()) * scale, 3.6e12)));
          h.record(v);
          sum += v;
          squares += static_cast<long double>(v) * v;
        }
        long double mean = sum / n;
        long double deviation = std::sqrt((squares - sum * mean) / (n - 1));
        Bounds b = confidence.mean(h, static_cast<double>(mean), static_cast<double>(deviation));
        if (!b.known()) continue;
        ++stated;
        held += *b.low <= d.mean * scale && d.mean * scale <= *b.high ? 1 : 0;
      }
      printf("     %4.2f %6.3f", static_cast<double>(stated) / samples,
             stated != 0 ? static_cast<double>(held) / stated : NAN);
    }
    printf("\n");
  }
  return 0;
}
