// Feeds the clock estimator the receive times and latencies of caplat -2
// output on standard input, one line at a time, and prints the estimate: for
// the estimator's memory on long inputs (its peak resident memory, under
// /usr/bin/time, against the line count) and for a look at real captures.
//
//   clockread < latency.txt
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "clock_estimator.h"

int main() {
  caplat::stat::ClockEstimator estimator;
  char line[256];
  while (fgets(line, sizeof line, stdin) != nullptr) {
    char* end;
    strtoull(line, &end, 10);
    uint64_t receive = strtoull(end, &end, 10);
    double ms = strtod(end, nullptr);
    estimator.add(receive, static_cast<int64_t>(ms * 1e6 + (ms < 0 ? -0.5 : 0.5)));
  }
  caplat::stat::ClockEstimate e = estimator.estimate();
  printf("messages %" PRId64 ", %zu stretches kept\n", e.messages, estimator.stretches());
  if (e.drift_ppm) {
    printf("drift %.4f ppm (within %.4f), floor %.6f ms to %.6f ms\n", *e.drift_ppm,
           *e.drift_bound_ppm, static_cast<double>(*e.floor_first_ns) / 1e6,
           static_cast<double>(*e.floor_last_ns) / 1e6);
  } else {
    printf("drift unknown: %s\n", e.drift_unknown.c_str());
  }
  if (e.steps) {
    for (const caplat::stat::ClockStep& s : *e.steps) {
      printf("step at %" PRIu64 " by %.6f ms\n", s.at_ns, static_cast<double>(s.size_ns) / 1e6);
    }
  } else {
    printf("steps unknown: %s\n", e.steps_unknown.c_str());
  }
  printf("out of order %" PRId64 ", set back %" PRId64 ", left out %" PRId64 "\n", e.out_of_order,
         e.set_backs, e.left_out);
  return fflush(stdout) == 0 ? 0 : 1;
}
