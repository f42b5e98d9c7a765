#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "receive_timeline.h"

namespace caplat::stat {

// A jump of the floor of latency: the receive time where it happened (ns
// since the epoch) and its size (ns, positive when latencies jump up).
struct ClockStep {
  uint64_t at_ns;
  int64_t size_ns;
};

// What the floor of latency (the path's least delay plus the clocks' offset)
// of one input tells about its two clocks: its slope and its jumps, each
// absent where the data cannot tell, with the reason.
struct ClockEstimate {
  // A step on the receive timeline as the removal of the floor needs it: a
  // message from `from` on and before `to`, where the step may be, goes to the
  // lower floor if it is below the middle of the two, else by its place, to
  // the floor after the step from `place` on.
  struct PlacedStep {
    uint64_t from;
    uint64_t place;
    uint64_t to;
    int64_t size_ns;
  };

  // What the removal of the floor needs: the floor's slope as fitted, and
  // as removed (0 when the drift is unknown), per ns; the fitted floor at
  // the first message; the steps (none when they are unknown).
  struct Floor {
    double fitted_slope = 0;
    double removed_slope = 0;
    double first = 0;
    std::vector<PlacedStep> steps;
  };

  // The messages the estimate rests on.
  int64_t messages = 0;

  // The first receive time read and the latest (ns since the epoch).
  uint64_t first_ns = 0;
  uint64_t last_ns = 0;

  // The floor's slope in ppm, positive when latencies grow with time.
  std::optional<double> drift_ppm;

  // A bound on the drift's error (ppm) from the jitter, known with the drift,
  // within which every simulated input stayed unless a step too small to see
  // moved the floor (bench/README.md).
  std::optional<double> drift_bound_ppm;

  // The floor at first_ns and at last_ns (ns), known with the drift.
  std::optional<int64_t> floor_first_ns;
  std::optional<int64_t> floor_last_ns;

  // Why the drift and the floor are unknown, and what would tell them; empty
  // when they are known.
  std::string drift_unknown;

  // The steps, in order of receive time.
  std::optional<std::vector<ClockStep>> steps;

  // Why the steps are unknown; empty when they are known.
  std::string steps_unknown;

  // Messages received before one read earlier, by at most
  // ReceiveTimeline::back_limit_ns: logged out of order, kept at their time.
  int64_t out_of_order = 0;

  // Times the receive time went back by more: the receive clock set back.
  int64_t set_backs = 0;

  // Messages left out: those read after the receive timeline gave up.
  int64_t left_out = 0;

  // What Deskew removes.
  Floor floor;
};

// What the clocks of one input showed: its name, and the estimate, or why
// there is none (an interval log holds no time of each message).
struct InputClock {
  std::string input;
  std::optional<ClockEstimate> estimate;
  std::string unknown;
};

// Removes the drift and the steps that an estimate found from the latencies
// of its input, read again in the order the estimator read them, keeping the
// floor at its value at the first receive time.
class Deskew {
 public:
  // Removes what estimate found.
  explicit Deskew(const ClockEstimate& estimate);

  // The latency of a message received at receive_ns, read after those before
  // it, with the drift and the steps removed.
  int64_t remove(uint64_t receive_ns, int64_t latency_ns);

 private:
  ReceiveTimeline timeline_;
  ClockEstimate::Floor floor_;
  std::vector<int64_t> before_;  // the sizes of the steps before each, and of all, summed
};

}  // namespace caplat::stat
