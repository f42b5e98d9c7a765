// Runs the clock estimator on generated inputs of known clocks, many seeds of
// each combination of the options, and prints per combination how often the
// drift was known, the spread of its error, how often each true step was
// found and how far off, how many steps were reported that were not there,
// and the error of the percentiles after the clocks' effects are removed.
// Its tables choose and check the thresholds of stat/clocks (bench/README.md).
//
//   clocksim [--drift PPM,...] [--rate N,...] [--jitter exp|pareto,...]
//            [--scale MS,...] [--stamps ns|ms,...] [--step AT_S:MS,...]
//            [--duration S] [--seeds N] [--first-seed N] [--reorder MS]
//            [--receive-step AT_S:MS,...] [--capacity N]
//
// Each list option gives one dimension of the grid, except --step and
// --receive-step, whose items all go into every input.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clock_estimator.h"
#include "clock_gen.h"

namespace {

using caplat::clockgen::Clocks;
using caplat::clockgen::Jitter;
using caplat::clockgen::Step;

std::vector<std::string> split(const char* text) {
  std::vector<std::string> items;
  std::string item;
  for (const char* p = text;; ++p) {
    if (*p == ',' || *p == 0) {
      if (!item.empty()) items.push_back(item);
      item.clear();
      if (*p == 0) break;
    } else {
      item += *p;
    }
  }
  return items;
}

std::vector<double> numbers(const char* text) {
  std::vector<double> values;
  for (const std::string& s : split(text)) values.push_back(strtod(s.c_str(), nullptr));
  return values;
}

std::vector<Step> steps(const char* text) {
  std::vector<Step> values;
  for (const std::string& s : split(text)) {
    const char* colon = strchr(s.c_str(), ':');
    if (colon == nullptr) continue;
    values.push_back({strtod(s.c_str(), nullptr), strtod(colon + 1, nullptr)});
  }
  return values;
}

// The q quantile of sorted values.
double quantile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return std::nan("");
  size_t i = static_cast<size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[i];
}

// The percentile p of values by rank, as caplat-stat counts it.
double percentile(std::vector<int64_t>& values, double p) {
  size_t rank = static_cast<size_t>(std::ceil(p / 100 * static_cast<double>(values.size())));
  rank = std::clamp<size_t>(rank, 1, values.size());
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                   values.end());
  return static_cast<double>(values[rank - 1]);
}

struct Totals {
  int runs = 0;
  int drift_known = 0;
  std::vector<double> drift_errors;  // ppm, absolute
  std::vector<double> bound_ratios;  // error over the bound
  int steps_true = 0;
  int steps_found = 0;
  double worst_at_s = 0;
  double worst_size_ms = 0;
  int false_steps = 0;
  int runs_with_false = 0;
  double worst_percentile = 0;  // relative error of p50, p90, p99, p99.9 beyond 0.1 ms
  double worst_percentile_ms = 0;
};

bool verbose = false;

void run(const Clocks& c, size_t capacity, Totals* totals) {
  std::vector<caplat::clockgen::Message> messages = caplat::clockgen::generate(c);
  caplat::stat::ClockEstimator estimator(capacity);
  for (const auto& m : messages) estimator.add(m.receive_ns, m.latency_ns);
  caplat::stat::ClockEstimate e = estimator.estimate();
  ++totals->runs;
  if (verbose) {
    printf("seed %llu: drift %s %.4f (bound %.4f), floor %lld..%lld, steps:", static_cast<unsigned long long>(c.seed),
           e.drift_unknown.c_str(), e.drift_ppm.value_or(0), e.drift_bound_ppm.value_or(0), static_cast<long long>(e.floor_first_ns.value_or(0)),
           static_cast<long long>(e.floor_last_ns.value_or(0)));
    for (const auto& s : e.steps.value_or(std::vector<caplat::stat::ClockStep>{}))
      printf(" %.3f s %+.3f ms", static_cast<double>(s.at_ns - c.start_ns) / 1e9, static_cast<double>(s.size_ns) / 1e6);
    printf(" %s\n", e.steps_unknown.c_str());
  }
  if (e.drift_ppm) {
    ++totals->drift_known;
    totals->drift_errors.push_back(std::fabs(*e.drift_ppm - c.drift_ppm));
    totals->bound_ratios.push_back(std::fabs(*e.drift_ppm - c.drift_ppm) / *e.drift_bound_ppm);
  }
  std::vector<bool> used(e.steps ? e.steps->size() : 0, false);
  std::vector<Step> truth = c.steps;
  truth.insert(truth.end(), c.receive_steps.begin(), c.receive_steps.end());
  for (const Step& s : truth) {
    ++totals->steps_true;
    if (!e.steps) continue;
    double best = 1e18;
    size_t at = 0;
    for (size_t i = 0; i < e.steps->size(); ++i) {
      double from_start = static_cast<double>((*e.steps)[i].at_ns - c.start_ns) / 1e9;
      double off = std::fabs(from_start - s.at_s);
      if (!used[i] && off < best && ((*e.steps)[i].size_ns > 0) == (s.ms > 0)) {
        best = off;
        at = i;
      }
    }
    if (best > 10) continue;
    used[at] = true;
    ++totals->steps_found;
    totals->worst_at_s = std::max(totals->worst_at_s, best);
    totals->worst_size_ms = std::max(
        totals->worst_size_ms,
        std::fabs(static_cast<double>((*e.steps)[at].size_ns) / 1e6 - s.ms));
  }
  int unmatched = static_cast<int>(std::count(used.begin(), used.end(), false));
  totals->false_steps += unmatched;
  totals->runs_with_false += unmatched > 0;

  caplat::stat::Deskew deskew(e);
  std::vector<int64_t> removed, truths;
  for (const auto& m : messages) {
    removed.push_back(deskew.remove(m.receive_ns, m.latency_ns));
    truths.push_back(m.truth_ns);
  }
  for (double p : {50.0, 90.0, 99.0, 99.9}) {
    double want = percentile(truths, p), got = percentile(removed, p);
    double off = std::fabs(got - want);
    if (off > 1e5) totals->worst_percentile = std::max(totals->worst_percentile, off / want);
    totals->worst_percentile_ms = std::max(totals->worst_percentile_ms, off / 1e6);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<double> drifts{0}, rates{200}, scales{1};
  std::vector<std::string> jitters{"exp"}, stamps{"ns"};
  std::vector<Step> floor_steps, receive_steps;
  double duration = 3600, reorder = 0;
  int seeds = 10;
  uint64_t first_seed = 1;
  size_t capacity = caplat::stat::ClockEstimator::default_capacity;
  for (int i = 1; i < argc; i += 2) {
    if (strcmp(argv[i], "--verbose") == 0) {
      verbose = true;
      --i;
      continue;
    }
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    if (strcmp(argv[i], "--drift") == 0) drifts = numbers(value);
    else if (strcmp(argv[i], "--rate") == 0) rates = numbers(value);
    else if (strcmp(argv[i], "--scale") == 0) scales = numbers(value);
    else if (strcmp(argv[i], "--jitter") == 0) jitters = split(value);
    else if (strcmp(argv[i], "--stamps") == 0) stamps = split(value);
    else if (strcmp(argv[i], "--step") == 0) floor_steps = steps(value);
    else if (strcmp(argv[i], "--receive-step") == 0) receive_steps = steps(value);
    else if (strcmp(argv[i], "--duration") == 0) duration = strtod(value, nullptr);
    else if (strcmp(argv[i], "--reorder") == 0) reorder = strtod(value, nullptr);
    else if (strcmp(argv[i], "--seeds") == 0) seeds = atoi(value);
    else if (strcmp(argv[i], "--first-seed") == 0) first_seed = strtoull(value, nullptr, 10);
    else if (strcmp(argv[i], "--capacity") == 0) capacity = strtoull(value, nullptr, 10);
    else {
      fprintf(stderr, "clocksim: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  printf("%7s %6s %6s %6s %5s %5s %6s %9s %9s %9s %7s %6s %8s %8s %6s %8s %8s\n", "drift", "rate",
         "jitter", "scale", "stamp", "runs", "known", "err p50", "err p95", "err max", "/bound",
         "found", "at s", "size ms", "false", "pct %", "pct ms");
  for (double drift : drifts) {
    for (double rate : rates) {
      for (const std::string& jitter : jitters) {
        for (double scale : scales) {
          for (const std::string& stamp : stamps) {
            Totals totals;
            for (int s = 0; s < seeds; ++s) {
              Clocks c;
              c.drift_ppm = drift;
              c.rate = rate;
              c.jitter = jitter == "pareto" ? Jitter::Pareto : Jitter::Exponential;
              c.jitter_ms = scale;
              c.ms_stamps = stamp == "ms";
              c.steps = floor_steps;
              c.receive_steps = receive_steps;
              c.duration_s = duration;
              c.reorder_ms = reorder;
              c.seed = first_seed + static_cast<uint64_t>(s);
              run(c, capacity, &totals);
            }
            std::sort(totals.drift_errors.begin(), totals.drift_errors.end());
            std::sort(totals.bound_ratios.begin(), totals.bound_ratios.end());
            printf("%7.1f %6.0f %6s %6.2f %5s %5d %5.0f%% %9.4f %9.4f %9.4f %7.3f %3d/%-3d %8.3f %8.3f "
                   "%6d %8.3f %8.3f\n",
                   drift, rate, jitter.c_str(), scale, stamp.c_str(), totals.runs,
                   100.0 * totals.drift_known / totals.runs, quantile(totals.drift_errors, 0.5),
                   quantile(totals.drift_errors, 0.95),
                   totals.drift_errors.empty() ? std::nan("") : totals.drift_errors.back(),
                   totals.bound_ratios.empty() ? std::nan("") : totals.bound_ratios.back(),
                   totals.steps_found, totals.steps_true, totals.worst_at_s, totals.worst_size_ms,
                   totals.false_steps, 100 * totals.worst_percentile, totals.worst_percentile_ms);
            fflush(stdout);
          }
        }
      }
    }
  }
  return 0;
}
