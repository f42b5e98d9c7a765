#include "clock_estimator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <limits>
#include <numeric>
#include <optional>
#include <string>

#include "step_search.h"

// Receive time is cut into stretches of one width, a power of two of ns; each
// keeps its least latency, where it was received, and its count. When the
// stretches that hold messages reach the capacity, the width doubles and
// neighbours merge, so that memory stays at capacity stretches whatever the
// input. A corner of the lower convex hull is lost only where a stretch held a
// lower latency that the slope makes higher, which moves the floor by at most
// drift x width: 54 us at 50 ppm in stretches of 1.07 s, a slope of 0.03 ppm
// over an hour.

namespace caplat::stat {

namespace {

// The largest bound on the drift's error that is reported, in ns per ns (1
// ppm): one a few times larger says nothing of a disciplined clock, and over
// the span that allows it, the drift moves latencies by about the noise of
// the floor.
constexpr double drift_resolution = 1e-6;

// The drift's bound is drift_bound_factor times the noise of the floor in runs
// of a drift_runs-th of the messages (at least least_drift_window), over the
// span: the floor at either end is pinned to about that noise.
// bench/clocksim.cpp measured the errors against it: see bench/README.md.
constexpr double drift_bound_factor = 6;
constexpr int64_t drift_runs = 32;
constexpr int64_t least_drift_window = 16;

// Rounds of the step search at most.
constexpr int search_rounds = 3;

// A reason, as printf would print it.
template <typename... Values>
std::string format(const char* pattern, Values... values) {
  char text[200];
  snprintf(text, sizeof text, pattern, values...);
  return text;
}

}  // namespace

const int64_t ClockEstimator::least_messages = drift_runs * least_drift_window;

ClockEstimator::ClockEstimator(size_t capacity) : capacity_(std::max<size_t>(capacity, 2)) {}

void ClockEstimator::merge(Stretch* a, const Stretch& b) {
  if (b.y < a->y || (b.y == a->y && b.x < a->x)) {
    a->x = b.x;
    a->y = b.y;
  }
  a->count += b.count;
}

void ClockEstimator::add_elsewhere(uint64_t receive_ns, int64_t latency_ns) {
  uint64_t before = timeline_.latest();
  uint64_t x;
  if (!timeline_.place(receive_ns, &x)) {
    ++left_out_;
    return;
  }
  Stretch message{x, latency_ns, 1};
  uint64_t width = uint64_t{1} << width_shift_;
  if (open_.count == 0 || x >= open_end_) {
    Stretch before_open = open_;
    open_ = message;
    open_end_ = (x >> width_shift_ << width_shift_) + width;
    if (before_open.count != 0) {
      closed_.push_back(before_open);
      if (closed_.size() >= capacity_) widen();
    }
    return;
  }
  if (x < before) ++out_of_order_;
  if (x >= open_end_ - width) {
    merge(&open_, message);
    return;
  }
  uint64_t index = x >> width_shift_;
  auto after = std::upper_bound(closed_.begin(), closed_.end(), index,
                                [&](uint64_t i, const Stretch& s) { return i < s.x >> width_shift_; });
  if (after != closed_.begin() && std::prev(after)->x >> width_shift_ == index) {
    merge(&*std::prev(after), message);
    return;
  }
  closed_.insert(after, message);
  if (closed_.size() >= capacity_) widen();
}

void ClockEstimator::widen() {
  while (closed_.size() >= capacity_) {
    ++width_shift_;
    size_t kept = 0;
    for (size_t k = 0; k < closed_.size(); ++k) {
      if (kept != 0 && closed_[kept - 1].x >> width_shift_ == closed_[k].x >> width_shift_) {
        merge(&closed_[kept - 1], closed_[k]);
      } else {
        closed_[kept++] = closed_[k];
      }
    }
    closed_.resize(kept);
  }
  uint64_t open_index = open_.x >> width_shift_;
  open_end_ = (open_index + 1) << width_shift_;
  if (!closed_.empty() && closed_.back().x >> width_shift_ == open_index) {
    merge(&open_, closed_.back());
    closed_.pop_back();
  }
}

ClockEstimate ClockEstimator::estimate() const {
  ClockEstimate estimate;
  estimate.out_of_order = out_of_order_;
  estimate.set_backs = static_cast<int64_t>(timeline_.set_backs().size());
  estimate.left_out = left_out_;
  auto point = [](const Stretch& s) {
    return FloorPoint{static_cast<int64_t>(s.x - ReceiveTimeline::origin), s.y, s.count};
  };
  std::vector<FloorPoint> points;
  points.reserve(closed_.size() + 1);
  std::transform(closed_.begin(), closed_.end(), std::back_inserter(points), point);
  if (open_.count != 0) points.push_back(point(open_));
  for (const FloorPoint& p : points) estimate.messages += p.count;
  estimate.first_ns = timeline_.first_receive();
  estimate.last_ns = timeline_.receive_at(timeline_.latest());

  FloorLine line;
  if (timeline_.given_up()) {
    estimate.drift_unknown = format(
        "the receive time went back by more than %.1f s more than %d times, or by more than "
        "a century in all: not one receive clock, or inputs joined",
        static_cast<double>(ReceiveTimeline::back_limit_ns) / 1e9, ReceiveTimeline::max_set_backs);
  } else if (estimate.messages < least_messages) {
    estimate.drift_unknown = format("too few messages: %lld; needs at least %lld",
                                    static_cast<long long>(estimate.messages),
                                    static_cast<long long>(least_messages));
  } else if (!fit_floor(points, {0}, &line)) {
    estimate.drift_unknown = "too short a span: all messages in one stretch of receive time";
  }
  if (!estimate.drift_unknown.empty()) {
    estimate.steps_unknown = estimate.drift_unknown;
    return estimate;
  }

  std::vector<size_t> starts{0};
  StepSearch search;
  if (estimate.messages < least_step_messages) {
    estimate.steps_unknown = format(
        "too few messages to tell steps from the jitter: %lld; needs at least %lld",
        static_cast<long long>(estimate.messages), static_cast<long long>(least_step_messages));
  } else {
    // The first search takes the slope fitted with an offset for each of
    // drift_runs runs of messages, which a step moves in one run only: fitted
    // as one segment, a step of a second in the middle of an hour tilts the
    // floor by 500 ppm, and the differences between windows with it. Then
    // search again with the slope fitted with the steps found, until they stay
    // the same.
    std::vector<size_t> runs{0};
    int64_t held = 0;
    for (size_t k = 0; k + 1 < points.size(); ++k) {
      held += points[k].count;
      if (held * drift_runs >= estimate.messages * static_cast<int64_t>(runs.size())) {
        runs.push_back(k + 1);
      }
    }
    FloorLine by_runs;
    double slope = fit_floor(points, runs, &by_runs) ? by_runs.slope : line.slope;
    for (int round = 0; round < search_rounds; ++round) {
      StepSearch next;
      if (!find_steps(points, slope, &next)) break;
      search = next;
      if (search.too_many) break;
      std::vector<size_t> found = starts_of(search.steps);
      line = search.line;
      slope = line.slope;
      if (found == starts) break;
      starts = found;
    }
    if (search.too_many) {
      search.steps.clear();
      starts = {0};
      fit_floor(points, starts, &line);
      estimate.steps_unknown = format(
          "the floor moves by more than its noise at more than %zu places: it wanders rather "
          "than steps",
          max_steps);
    }
  }
  estimate.floor.fitted_slope = line.slope;
  estimate.floor.first = line.offsets.front();

  // The drift's bound: the noise of the floor over runs of a thirty-second of
  // the messages, over the span of the longest segment.
  int64_t longest = 0;
  for (size_t j = 0; j < starts.size(); ++j) {
    size_t last = j + 1 < starts.size() ? starts[j + 1] - 1 : points.size() - 1;
    longest = std::max(longest, points[last].x - points[starts[j]].x);
  }
  std::optional<double> noise =
      floor_noise(points, line.slope, std::max(least_drift_window, estimate.messages / drift_runs));
  double bound = noise && longest > 0 ? drift_bound_factor * *noise / static_cast<double>(longest)
                                      : std::numeric_limits<double>::infinity();
  if (bound > drift_resolution) {
    estimate.drift_unknown =
        std::isinf(bound)
            ? std::string("too short a span: the messages fall in too few stretches of receive time")
            : format("too short a span: %.1f s; needs about %.0f s at this jitter",
                     static_cast<double>(longest) / 1e9,
                     static_cast<double>(longest) / 1e9 * bound / drift_resolution);
  } else {
    estimate.drift_ppm = line.slope * 1e6;
    estimate.drift_bound_ppm = bound * 1e6;
    estimate.floor.removed_slope = line.slope;
    estimate.floor_first_ns = std::llround(line.offsets.front());
    estimate.floor_last_ns = std::llround(
        line.offsets.back() +
        line.slope * static_cast<double>(timeline_.latest() - ReceiveTimeline::origin));
  }
  if (estimate.steps_unknown.empty()) {
    std::vector<ClockStep> steps;
    auto place = [&](size_t k) { return points[k].x + ReceiveTimeline::origin; };
    for (size_t j = 1; j < starts.size(); ++j) {
      const FoundStep& found = search.steps[j - 1];
      int64_t size = std::llround(line.offsets[j] - line.offsets[j - 1]);
      uint64_t before = place(found.crossing - 1), after = place(found.crossing);
      steps.push_back({timeline_.receive_at(before + (after - before) / 2), size});
      estimate.floor.steps.push_back(
          {place(found.from), size > 0 ? before + 1 : after, place(found.to) + 1, size});
    }
    estimate.steps = steps;
  }
  return estimate;
}

Deskew::Deskew(const ClockEstimate& estimate) : floor_(estimate.floor) {
  before_.assign(floor_.steps.size() + 1, 0);
  std::transform_inclusive_scan(floor_.steps.begin(), floor_.steps.end(), before_.begin() + 1,
                                std::plus<>(),
                                [](const ClockEstimate::PlacedStep& s) { return s.size_ns; });
}

int64_t Deskew::remove(uint64_t receive_ns, int64_t latency_ns) {
  uint64_t x;
  if (!timeline_.place(receive_ns, &x)) return latency_ns;
  double at = static_cast<double>(static_cast<int64_t>(x - ReceiveTimeline::origin));
  // The first step whose stretch ends after x: those before it are passed.
  auto next = std::upper_bound(
      floor_.steps.begin(), floor_.steps.end(), x,
      [](uint64_t place, const ClockEstimate::PlacedStep& s) { return place < s.to; });
  int64_t steps = before_[static_cast<size_t>(next - floor_.steps.begin())];
  if (next != floor_.steps.end() && x >= next->from) {
    double height = static_cast<double>(latency_ns) - floor_.first - floor_.fitted_slope * at -
                    static_cast<double>(steps);
    double middle = static_cast<double>(next->size_ns) / 2;
    bool after = height < middle ? next->size_ns < 0 : x >= next->place;
    if (after) steps += next->size_ns;
  }
  return latency_ns - steps - std::llround(floor_.removed_slope * at);
}

}  // namespace caplat::stat
