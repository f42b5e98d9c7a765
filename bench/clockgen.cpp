// Prints caplat -2 output for messages between two clocks of known relation
// (clock_gen.h): drift, floor, steps, jitter, rate, duration,
// stamps to the ns or to the ms. `clockgen --help` lists its options.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "clock_gen.h"

namespace {

const char usage[] =
    "usage: clockgen [--drift PPM] [--floor MS] [--step AT_S:MS]... [--receive-step AT_S:MS]...\n"
    "                [--jitter exp|pareto] [--scale MS] [--rate N] [--duration S]\n"
    "                [--stamps ns|ms] [--reorder MS] [--seed N] [--truth]\n";
const char help[] =
    "Prints caplat -2 output (application time, receive time, latency) of messages\n"
    "between a sender's clock and a receiver's of known relation, for trying\n"
    "caplat-stat --clock and --deskew: a floor that drifts and steps, and jitter\n"
    "above it.\n\n"
    "  --drift PPM         the floor's slope, positive when latencies grow (0)\n"
    "  --floor MS          the floor at the start (5)\n"
    "  --step AT_S:MS      the sender's clock stepped at AT_S seconds by MS (repeatable)\n"
    "  --receive-step AT_S:MS\n"
    "                      the receiver's clock stepped (repeatable)\n"
    "  --jitter exp|pareto exponential or Pareto 1.5 jitter above the floor (exp)\n"
    "  --scale MS          the jitter's mean, or the Pareto's scale (1)\n"
    "  --rate N            messages a second (200)\n"
    "  --duration S        seconds of messages (3600)\n"
    "  --stamps ns|ms      application times to the ns, or cut to the ms (ns)\n"
    "  --reorder MS        messages logged out of order by up to MS (0)\n"
    "  --seed N            the random numbers' seed (1)\n"
    "  --truth             a fourth field: the latency in ns without the drift and\n"
    "                      steps, the floor kept at its value at the start\n"
    "  --help              print this help\n";

}  // namespace

int main(int argc, char** argv) {
  caplat::clockgen::Clocks c;
  bool truth = false;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0)
      return fputs(usage, stdout) >= 0 && fputs(help, stdout) >= 0 && fflush(stdout) == 0 ? 0 : 1;
    if (strcmp(argv[i], "--truth") == 0) {
      truth = true;
      continue;
    }
    if (i + 1 == argc) {
      fprintf(stderr, "clockgen: %s needs a value\n%s", argv[i], usage);
      return 2;
    }
    const char* value = argv[++i];
    const char* colon = strchr(value, ':');
    if (strcmp(argv[i - 1], "--drift") == 0) c.drift_ppm = strtod(value, nullptr);
    else if (strcmp(argv[i - 1], "--floor") == 0) c.floor_ms = strtod(value, nullptr);
    else if (strcmp(argv[i - 1], "--step") == 0 && colon != nullptr)
      c.steps.push_back({strtod(value, nullptr), strtod(colon + 1, nullptr)});
    else if (strcmp(argv[i - 1], "--receive-step") == 0 && colon != nullptr)
      c.receive_steps.push_back({strtod(value, nullptr), strtod(colon + 1, nullptr)});
    else if (strcmp(argv[i - 1], "--jitter") == 0)
      c.jitter = strcmp(value, "pareto") == 0 ? caplat::clockgen::Jitter::Pareto
                                              : caplat::clockgen::Jitter::Exponential;
    else if (strcmp(argv[i - 1], "--scale") == 0) c.jitter_ms = strtod(value, nullptr);
    else if (strcmp(argv[i - 1], "--rate") == 0) c.rate = strtod(value, nullptr);
    else if (strcmp(argv[i - 1], "--duration") == 0) c.duration_s = strtod(value, nullptr);
    else if (strcmp(argv[i - 1], "--stamps") == 0) c.ms_stamps = strcmp(value, "ms") == 0;
    else if (strcmp(argv[i - 1], "--reorder") == 0) c.reorder_ms = strtod(value, nullptr);
    else if (strcmp(argv[i - 1], "--seed") == 0) c.seed = strtoull(value, nullptr, 10);
    else {
      fprintf(stderr, "clockgen: unknown option %s\n%s", argv[i - 1], usage);
      return 2;
    }
  }
  for (const caplat::clockgen::Message& m : caplat::clockgen::generate(c)) {
    std::string text = caplat::clockgen::line(m);
    if (truth) text.pop_back();
    if (fputs(text.c_str(), stdout) == EOF ||
        (truth && printf(" %lld\n", static_cast<long long>(m.truth_ns)) < 0)) {
      perror("clockgen");
      return 1;
    }
  }
  if (fflush(stdout) != 0) {
    perror("clockgen");
    return 1;
  }
  return 0;
}
