#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "clock_estimate.h"
#include "receive_timeline.h"

namespace caplat::stat {

// Keeps the lower envelope of (receive time, latency) of one input as its
// messages stream by, in bounded memory, and estimates from it the drift and
// the steps between the sender's clock and the receiver's.
class ClockEstimator {
 public:
  // Stretches of receive time kept, 24 bytes each (96 KiB): an hour is kept
  // in stretches of 1.07 s, a day in stretches of 34 s. The work and the
  // memory at the end grow with the stretches: at four times as many, --clock
  // took twice the summary's time on an hour at 200 a second, for no
  // accuracy the tables of bench/README.md could see.
  static constexpr size_t default_capacity = size_t{1} << 12;

  // The width of a stretch at the start, 2^20 ns (1 ms): fine enough for a
  // short input, and coarse enough that a message read out of order by up to
  // ReceiveTimeline::back_limit_ns looks back over at most a hundred.
  static constexpr int first_width_shift = 20;

  // Messages needed to estimate the drift: enough runs of messages to
  // measure the noise of the floor.
  static const int64_t least_messages;

  // Keeps at most capacity stretches (at least 2).
  explicit ClockEstimator(size_t capacity = default_capacity);

  // Takes a message received at receive_ns (ns since the epoch) with
  // latency_ns, read after those taken before it.
  void add(uint64_t receive_ns, int64_t latency_ns) {
    uint64_t x = timeline_.unchecked(receive_ns);
    if (x >= timeline_.latest() && x < open_end_) {
      timeline_.advance(x);
      ++open_.count;
      if (latency_ns < open_.y) {
        open_.x = x;
        open_.y = latency_ns;
      }
    } else {
      add_elsewhere(receive_ns, latency_ns);
    }
  }

  // The estimate from the messages taken so far.
  ClockEstimate estimate() const;

  // The stretches kept: at most the capacity.
  size_t stretches() const { return closed_.size() + (open_.count != 0); }

 private:
  // A stretch of receive time: the place of its least latency, that latency,
  // and the messages it held.
  struct Stretch {
    uint64_t x;
    int64_t y;
    int64_t count;
  };

  // Takes a message that is not in the open stretch at or after the latest
  // place: the first, one in a new stretch, or one read out of order.
  void add_elsewhere(uint64_t receive_ns, int64_t latency_ns);

  // Doubles the width until fewer than capacity stretches are closed.
  void widen();

  // Folds b into a, the lower latency kept.
  static void merge(Stretch* a, const Stretch& b);

  size_t capacity_;
  int width_shift_ = first_width_shift;
  ReceiveTimeline timeline_;
  std::vector<Stretch> closed_;  // in order of place
  Stretch open_{0, 0, 0};        // the stretch of the latest place
  uint64_t open_end_ = 0;        // where it ends; 0 before the first message
  int64_t out_of_order_ = 0;
  int64_t left_out_ = 0;
};

}  // namespace caplat::stat
