#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace caplat::clockgen {

// Makes caplat's output for messages between two clocks whose relation is
// known: the floor of latency starts at floor_ms, grows by drift_ppm, and
// jumps at steps; above it each latency has a jitter, exponential or
// Pareto-distributed with shape 1.5 (heavy-tailed: infinite variance).
// Messages arrive as a Poisson process at rate a second. Shared by the tests
// of the clock estimator and by bench/clockgen.cpp and bench/clocksim.cpp.

// A jump of the floor, at_s seconds after the start, by ms.
struct Step {
  double at_s;
  double ms;
};

enum class Jitter { Exponential, Pareto };

// The clocks and the traffic.
struct Clocks {
  double drift_ppm = 0;
  double floor_ms = 5;
  std::vector<Step> steps = {};
  // Jumps of the receive clock: the printed receive times jump with the
  // latencies from there on.
  std::vector<Step> receive_steps = {};
  Jitter jitter = Jitter::Exponential;
  double jitter_ms = 1;  // the mean of the exponential, the scale of the Pareto
  double rate = 200;
  double duration_s = 3600;
  bool ms_stamps = false;  // the application time truncated to the ms, as the `E` key has it
  double reorder_ms = 0;   // messages logged out of order by up to this much
  uint64_t start_ns = 1700000000000000000;
  uint64_t seed = 1;
};

// One message: the two times and the latency caplat prints (ns), and the
// latency with the drift and the steps of both clocks removed, the floor kept
// at its value at the first message: what removing them should give back.
struct Message {
  uint64_t app_ns;
  uint64_t receive_ns;
  int64_t latency_ns;
  int64_t truth_ns;
};

// A uniform number in (0, 1], from 53 bits of the generator (the same on every
// platform, unlike the standard distributions).
inline double uniform(std::mt19937_64& random) {
  return (static_cast<double>(random() >> 11) + 1) * 0x1p-53;
}

// The messages, in the order they are logged.
inline std::vector<Message> generate(const Clocks& c) {
  std::mt19937_64 random(c.seed);
  std::vector<Message> messages;
  std::vector<double> order;
  double t = 0;
  double first_moved_ms = 0;
  for (;;) {
    t += -std::log(uniform(random)) / c.rate;
    if (t >= c.duration_s) break;
    double jitter = c.jitter == Jitter::Exponential
                        ? -std::log(uniform(random)) * c.jitter_ms
                        : c.jitter_ms * (std::pow(uniform(random), -1 / 1.5) - 1);
    double moved_ms = c.drift_ppm * 1e-6 * t * 1e3;
    for (const Step& s : c.steps) moved_ms += t >= s.at_s ? s.ms : 0;
    double receive_moved_ms = 0;
    for (const Step& s : c.receive_steps) receive_moved_ms += t >= s.at_s ? s.ms : 0;
    uint64_t receive = c.start_ns + static_cast<uint64_t>(std::llround(t * 1e9 + receive_moved_ms * 1e6));
    auto latency = static_cast<int64_t>(std::llround((c.floor_ms + moved_ms + jitter) * 1e6 +
                                                     receive_moved_ms * 1e6));
    uint64_t app = receive - static_cast<uint64_t>(latency);
    if (c.ms_stamps) app -= app % 1000000;
    latency = static_cast<int64_t>(receive - app);
    if (messages.empty()) first_moved_ms = moved_ms + receive_moved_ms;
    messages.push_back({app, receive, latency,
                        latency - std::llround((moved_ms + receive_moved_ms - first_moved_ms) * 1e6)});
    order.push_back(t + uniform(random) * c.reorder_ms / 1e3);
  }
  if (c.reorder_ms > 0) {
    std::vector<size_t> index(messages.size());
    for (size_t i = 0; i < index.size(); ++i) index[i] = i;
    std::stable_sort(index.begin(), index.end(),
                     [&](size_t a, size_t b) { return order[a] < order[b]; });
    std::vector<Message> logged;
    logged.reserve(messages.size());
    for (size_t i : index) logged.push_back(messages[i]);
    messages.swap(logged);
  }
  return messages;
}

// The line caplat -2 prints for m: both times in ns and the latency in ms.
inline std::string line(const Message& m) {
  char text[80];
  uint64_t magnitude = m.latency_ns < 0 ? 0 - static_cast<uint64_t>(m.latency_ns)
                                        : static_cast<uint64_t>(m.latency_ns);
  snprintf(text, sizeof text, "%llu %llu %s%llu.%06llu\n",
           static_cast<unsigned long long>(m.app_ns), static_cast<unsigned long long>(m.receive_ns),
           m.latency_ns < 0 ? "-" : "", static_cast<unsigned long long>(magnitude / 1000000),
           static_cast<unsigned long long>(magnitude % 1000000));
  return text;
}

}  // namespace caplat::clockgen
