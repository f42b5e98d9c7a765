#pragma once

#include <cstdint>

namespace caplat::stat {

// An input read beside another in order of receive time: before the
// accumulator moves past a time, it takes from here what comes up to it, and
// the rest when it finishes.
class EarlierInput {
 public:
  virtual ~EarlierInput() = default;

  // Adds to the accumulator everything this input holds at or before time.
  virtual void add_until(uint64_t time) = 0;
};

// Where the interval logs merge with the latencies read: takes from the
// earlier input, if any, what comes up to a time, and never again while it
// adds, since what it adds moves time on too.
class Interleave {
 public:
  // Takes from earlier, which must outlive the last call.
  void set(EarlierInput* earlier) { earlier_ = earlier; }

  // Has the earlier input add everything at or before time; false if there
  // is none, or it is adding already.
  bool take_until(uint64_t time) {
    if (earlier_ == nullptr || adding_) return false;
    adding_ = true;
    earlier_->add_until(time);
    adding_ = false;
    return true;
  }

  // Has the earlier input add all it has left, and lets it go.
  void take_rest() {
    take_until(UINT64_MAX);
    earlier_ = nullptr;
  }

 private:
  EarlierInput* earlier_ = nullptr;
  // True while the earlier input is adding.
  bool adding_ = false;
};

}  // namespace caplat::stat
