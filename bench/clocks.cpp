// Micro-benchmarks of the clock estimator on an hour at 200 messages a second
// (720,000 messages, held in memory as caplat-stat's reader would hand them
// over): a message taken, in order, logged out of order by up to 20 ms, or
// on a convex curve (every point a corner of the lower hull); the estimate at
// the end; and a latency with the clocks removed. items_per_second gives the
// ns per message as 1e9 / it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "clock_estimator.h"
#include "clock_gen.h"

namespace caplat::stat {

namespace {

struct Pair {
  uint64_t receive_ns;
  int64_t latency_ns;
};

enum Input { InOrder, OutOfOrder, Convex };

// The messages of an input, made once.
const std::vector<Pair>& messages(Input input) {
  static std::vector<Pair> made[3];
  std::vector<Pair>& pairs = made[input];
  if (pairs.empty()) {
    clockgen::Clocks c;
    c.drift_ppm = 25;
    c.steps = {{1800, 3}};
    c.reorder_ms = input == OutOfOrder ? 20 : 0;
    for (const clockgen::Message& m : clockgen::generate(c)) {
      pairs.push_back({m.receive_ns, m.latency_ns});
    }
    if (input == Convex) {
      for (size_t i = 0; i < pairs.size(); ++i) {
        auto at = static_cast<int64_t>(i);
        pairs[i].latency_ns = at * at / 100;
      }
    }
  }
  return pairs;
}

ClockEstimator estimator_of(const std::vector<Pair>& pairs) {
  ClockEstimator estimator;
  for (const Pair& p : pairs) estimator.add(p.receive_ns, p.latency_ns);
  return estimator;
}

void TakeMessage(benchmark::State& state) {
  const std::vector<Pair>& pairs = messages(static_cast<Input>(state.range(0)));
  for (auto _ : state) {
    ClockEstimator estimator = estimator_of(pairs);
    benchmark::DoNotOptimize(estimator);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pairs.size()));
}
BENCHMARK(TakeMessage)->Arg(InOrder)->Arg(OutOfOrder)->Arg(Convex)->Unit(benchmark::kMillisecond);

void EstimateAtTheEnd(benchmark::State& state) {
  ClockEstimator estimator = estimator_of(messages(static_cast<Input>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(estimator.estimate());
}
BENCHMARK(EstimateAtTheEnd)->Arg(InOrder)->Arg(Convex)->Unit(benchmark::kMillisecond);

void DeskewMessage(benchmark::State& state) {
  const std::vector<Pair>& pairs = messages(InOrder);
  ClockEstimate estimate = estimator_of(pairs).estimate();
  for (auto _ : state) {
    Deskew deskew(estimate);
    int64_t sum = 0;
    for (const Pair& p : pairs) sum += deskew.remove(p.receive_ns, p.latency_ns);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pairs.size()));
}
BENCHMARK(DeskewMessage)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace caplat::stat
