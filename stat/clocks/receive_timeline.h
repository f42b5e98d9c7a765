#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

namespace caplat::stat {

// Places the messages of one input on a line of time in the order they are
// read, the same for the estimator and for the removal of the clocks' effects,
// so that a receive clock set back does not lay later messages over earlier.
class ReceiveTimeline {
 public:
  // How far a receive time may go back and still be a message logged out of
  // order, kept at its own place: far above the reordering of capture threads
  // (microseconds to milliseconds), below the 128 ms from which NTP daemons
  // step a clock rather than slew it; a receive time further back is the
  // receive clock set back, and the line goes on from the latest place, the
  // jump showing as a step of the floor.
  static constexpr uint64_t back_limit_ns = 100000000;

  // The times the receive clock may be set back before the line gives up (a
  // few in a capture of days; more is not one receive clock, or inputs were
  // joined), which also bounds the list of set-backs.
  static constexpr int max_set_backs = 32;

  // The place of the first message, well above zero so that one read out of
  // order before it stays positive.
  static constexpr uint64_t origin = uint64_t{1} << 62;

  // What all the set-backs together may add to the places, so that they stay
  // below 2^63 and their differences fit in an int64.
  static constexpr uint64_t max_total_set_back = uint64_t{1} << 62;

  // Where the receive clock was set back: the place it happened, and the
  // amount added to every receive time from there on.
  struct SetBack {
    uint64_t at;
    uint64_t shift;
  };

  // The place of a message received at receive_ns, read after all those
  // placed before it, in *place; false once the line has given up.
  bool place(uint64_t receive_ns, uint64_t* place) {
    if (given_up_) return false;
    if (!started_) {
      started_ = true;
      first_ = receive_ns;
    }
    uint64_t x = unchecked(receive_ns);
    if (x < latest_ && latest_ - x > back_limit_ns) {
      uint64_t back = latest_ - x;
      if (static_cast<int>(set_backs_.size()) == max_set_backs ||
          shift_ - origin + back > max_total_set_back) {
        given_up_ = true;
        return false;
      }
      shift_ += back;
      x = latest_;
      set_backs_.push_back({x, shift_});
    }
    if (x > latest_) latest_ = x;
    *place = x;
    return true;
  }

  // The place of a message received at receive_ns if the clock was not set
  // back just before it: right whenever the result is at or after latest().
  uint64_t unchecked(uint64_t receive_ns) const { return receive_ns - first_ + shift_; }

  // The latest place so far.
  uint64_t latest() const { return latest_; }

  // Moves the latest place on to x, which unchecked() gave and is after it.
  void advance(uint64_t x) { latest_ = x; }

  // The receive time of the first message read.
  uint64_t first_receive() const { return first_; }

  // The receive time of place x, by the set-back in force there.
  uint64_t receive_at(uint64_t x) const {
    auto after = std::upper_bound(set_backs_.begin(), set_backs_.end(), x,
                                  [](uint64_t place, const SetBack& s) { return place < s.at; });
    return x - (after == set_backs_.begin() ? origin : std::prev(after)->shift) + first_;
  }

  // Where the receive clock was set back, in order.
  const std::vector<SetBack>& set_backs() const { return set_backs_; }

  // True once the clock was set back too often or by too much in all.
  bool given_up() const { return given_up_; }

 private:
  bool started_ = false;
  bool given_up_ = false;
  uint64_t first_ = 0;
  uint64_t shift_ = origin;
  uint64_t latest_ = origin;
  std::vector<SetBack> set_backs_;
};

}  // namespace caplat::stat
