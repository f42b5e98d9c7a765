#include "step_search.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace caplat::stat {

namespace {

// The least of values over a window that only moves forward, each index
// entering at its end and leaving at its start once: a queue of the indices
// whose values no later one undercuts, in O(1) a step on the average and
// memory that does not grow with the window's width.
class SlidingLeast {
 public:
  explicit SlidingLeast(const std::vector<double>& values) : values_(values) {}

  // Takes index i, past every index taken before.
  void enter(size_t i) {
    while (queue_.size() > head_ && values_[queue_.back()] >= values_[i]) queue_.pop_back();
    queue_.push_back(i);
  }

  // Lets go of the indices before begin.
  void leave_before(size_t begin) {
    while (head_ < queue_.size() && queue_[head_] < begin) ++head_;
  }

  // The least value of the window, which holds an index.
  double least() const { return values_[queue_[head_]]; }

 private:
  const std::vector<double>& values_;
  std::vector<size_t> queue_;
  size_t head_ = 0;
};

}  // namespace

// The narrowest windows hold 128 messages. The least of n latencies lies
// above the floor by about the jitter's scale / n, so a window of 128 pins the
// floor to about a hundredth of the jitter, and a step is placed to within a
// window of messages or better (0.64 s at 200 messages a second). Steps are
// kept 4 windows apart, and from the ends, so that the floors either side of
// one rest on more messages than the windows that found it.
const int64_t step_window = 128;
const int64_t step_stretch = 4 * step_window;

namespace {

// The widths of window compared: narrow ones place a step best, wide ones see
// smaller steps in long inputs.
constexpr int64_t step_windows[] = {step_window, step_stretch, 4 * step_stretch};

// How many times the noise (the median difference between the least heights
// of neighbouring runs of window messages) a difference between the windows
// either side of a place must be for the place to be a candidate, and the
// difference between the floors of the whole stretches either side for a
// candidate to be a step; and the least step at any noise. The least of n
// latencies lies about exponentially above the floor, so the difference of
// two is about Laplace: it passes k times its median with probability 2^-k.
// At 20 times, about one window in 10^6 is a false candidate. Candidates are
// where the jitter happened to be unusual, so their stretches pass the
// threshold far more often than any stretch would: at 12 times the median,
// one input of 30 minutes at 200 a second in 100 showed a false step (a floor
// 22 us high for 3 s, with a jitter of 1 ms); at 30 times none did in 600
// such inputs, nor in 360 at 10 to 1,000 a second and jitters of 0.1 to 10
// ms, while steps of 1 ms and more at 200 a second were all found, with
// stamps to the ms too (bench/README.md). The least step only matters when
// the noise is nil, as with latencies that are whole milliseconds.
constexpr double candidate_factor = 20;
constexpr double step_factor = 30;
constexpr double least_step_ns = 1000;

// Differences between runs that measure the noise: its median is then within
// about a quarter of the truth.
constexpr size_t least_differences = 16;

// The median of values.
double median(std::vector<double> values) {
  auto at = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

// What the search for steps works on: each point's height above the slope,
// its count, and the messages up to and including it.
struct Heights {
  Heights(const std::vector<FloorPoint>& points, double slope) {
    for (const FloorPoint& p : points) {
      height.push_back(static_cast<double>(p.y) - slope * static_cast<double>(p.x));
      counts.push_back(p.count);
      total += p.count;
      held.push_back(total);
    }
  }

  // Messages before point k.
  int64_t before(size_t k) const { return held[k] - counts[k]; }

  // The least height of points begin..end-1, otherwise when there are none.
  double least(size_t begin, size_t end, double otherwise) const {
    return begin < end ? *std::min_element(height.begin() + static_cast<std::ptrdiff_t>(begin),
                                           height.begin() + static_cast<std::ptrdiff_t>(end))
                       : otherwise;
  }

  std::vector<double> height;
  std::vector<int64_t> counts;
  std::vector<int64_t> held;
  int64_t total = 0;
};

std::optional<double> run_noise(const Heights& h, int64_t window) {
  std::vector<double> differences;
  double last = std::nan(""), least = std::numeric_limits<double>::infinity();
  int64_t in_run = 0;
  for (size_t k = 0; k < h.height.size(); ++k) {
    least = std::min(least, h.height[k]);
    in_run += h.counts[k];
    if (in_run < window) continue;
    if (!std::isnan(last)) differences.push_back(std::fabs(least - last));
    last = least;
    least = std::numeric_limits<double>::infinity();
    in_run = 0;
  }
  if (differences.size() < least_differences) return std::nullopt;
  return median(differences);
}

// A place where the floor may jump: the first point after it, and the width
// of window that saw it.
struct Candidate {
  size_t start;
  int64_t window;
};

// Places each candidate step among the points within its window of messages
// either side, no further than half-way to its neighbours, against the
// floors of the points between those places, which the place sought cannot
// disturb. For the fit, a point on the wrong side may not pull a floor down:
// a step up starts after the last point below the floor after it, a step down
// at the first point below the floor before it. The best guess of the place
// is where the points cross the middle of the two floors.
std::vector<FoundStep> place(const std::vector<FloorPoint>& points,
                             const std::vector<Candidate>& kept) {
  std::vector<size_t> starts = starts_of(kept);
  FloorLine line;
  if (!fit_floor(points, starts, &line)) return {};
  Heights h(points, line.slope);
  size_t n = points.size();
  std::vector<FoundStep> steps;
  for (size_t j = 1; j < starts.size(); ++j) {
    int64_t at = h.before(starts[j]);
    int64_t lowest = j > 1 ? (h.before(starts[j - 1]) + at) / 2 : 0;
    int64_t highest = j + 1 < starts.size() ? (at + h.before(starts[j + 1])) / 2 : h.total;
    int64_t window = kept[j - 1].window;
    FoundStep step{starts[j], starts[j], starts[j], starts[j]};
    while (step.from > 1 && at - h.before(step.from) < window &&
           h.before(step.from - 1) >= lowest) {
      --step.from;
    }
    while (step.to + 1 < n && h.held[step.to] - at < window && h.held[step.to + 1] <= highest) {
      ++step.to;
    }
    steps.push_back(step);
  }
  for (size_t j = 0; j < steps.size(); ++j) {
    FoundStep& step = steps[j];
    size_t begin = j > 0 ? steps[j - 1].to + 1 : 0;
    size_t end = j + 1 < steps.size() ? steps[j + 1].from : n;
    double before = h.least(begin, step.from, line.offsets[j]);
    double after = h.least(step.to + 1, end, line.offsets[j + 1]);
    double middle = (before + after) / 2;
    if (after > before) {
      step.start = step.from;
      for (size_t k = step.from; k <= step.to; ++k) {
        if (h.height[k] < after) step.start = k + 1;
        if (h.height[k] < middle) step.crossing = k + 1;
      }
    } else {
      step.start = step.to + 1;
      for (size_t k = step.to + 1; k-- > step.from;) {
        if (h.height[k] < before) step.start = k;
        if (h.height[k] < middle) step.crossing = k;
      }
    }
    size_t low = j > 0 ? steps[j - 1].start + 1 : 1;
    step.start = std::clamp(step.start, low, n - 1);
    step.crossing = std::clamp(step.crossing, step.from, step.to + 1 < n ? step.to + 1 : n - 1);
  }
  return steps;
}

}  // namespace

const int64_t least_step_messages = (least_differences + 1) * step_window;

std::optional<double> floor_noise(const std::vector<FloorPoint>& points, double slope,
                                  int64_t window) {
  return run_noise(Heights(points, slope), window);
}

bool find_steps(const std::vector<FloorPoint>& points, double slope, StepSearch* search) {
  *search = StepSearch{};
  Heights h(points, slope);
  size_t n = points.size();

  // Candidates with narrow windows first, which place a step best, then
  // those only wide windows see; the largest first at each width. One within
  // a stretch of messages of one kept is the same step seen from a
  // neighbouring place, or too close to it to tell; so is one whose windows
  // reach one kept.
  std::vector<Candidate> kept;
  std::vector<std::pair<int64_t, double>> thresholds;  // window, threshold
  for (int64_t window : step_windows) {
    std::optional<double> noise = run_noise(h, window);
    if (!noise) break;
    thresholds.emplace_back(window, std::max(step_factor * *noise, least_step_ns));
    double least = std::max(candidate_factor * *noise, least_step_ns);
    // Between point k and k + 1: the points begin..k and k+1..end-1, the
    // fewest on either side that hold window messages.
    std::vector<std::pair<double, size_t>> found;  // jump, k
    SlidingLeast before(h.height), after(h.height);
    size_t begin = 0, end = 0, entered = 0;
    for (size_t k = 0; k + 1 < n; ++k) {
      while (begin < k && h.held[k] - h.held[begin] >= window) ++begin;
      end = std::max(end, k + 1);
      while (end < n && h.held[end - 1] - h.held[k] < window) ++end;
      before.enter(k);
      before.leave_before(begin);
      for (; entered < end; ++entered) after.enter(entered);
      after.leave_before(k + 1);
      if (h.held[k] - h.before(begin) < window || h.held[end - 1] - h.held[k] < window) continue;
      double jump = std::fabs(after.least() - before.least());
      if (jump >= least && h.held[k] >= step_stretch && h.total - h.held[k] >= step_stretch) {
        found.emplace_back(jump, k);
      }
    }
    std::sort(found.begin(), found.end(), std::greater<>());
    for (const auto& [jump, place] : found) {
      size_t k = place;
      bool near = std::any_of(kept.begin(), kept.end(), [&](const Candidate& other) {
        return std::llabs(h.held[k] - h.held[other.start - 1]) < std::max(step_stretch, window);
      });
      if (near) continue;
      if (kept.size() == 4 * max_steps) {
        search->too_many = true;
        return true;
      }
      kept.push_back({k + 1, window});
    }
  }
  std::sort(kept.begin(), kept.end(),
            [](const Candidate& a, const Candidate& b) { return a.start < b.start; });

  // A step moves the whole stretch up to the next one: once placed, each
  // needs a difference between the floors either side of at least the
  // threshold of the widest window the shorter stretch holds, and a stretch
  // either side. Those by less are dropped; else the least of those too close
  // to a neighbour; and the rest placed again, until none is dropped.
  for (;;) {
    if (kept.empty()) return fit_floor(points, {0}, &search->line);
    std::vector<FoundStep> placed = place(points, kept);
    std::vector<size_t> starts = starts_of(placed);
    FloorLine& line = search->line;
    if (!fit_floor(points, starts, &line)) return false;
    std::vector<Candidate> still;
    size_t weakest = 0;  // the least of those too close, plus one
    double least = std::numeric_limits<double>::infinity();
    for (size_t j = 1; j < starts.size(); ++j) {
      int64_t first = h.before(starts[j - 1]), at = h.before(starts[j]);
      int64_t last = j + 1 < starts.size() ? h.before(starts[j + 1]) : h.total;
      int64_t shorter = std::min(at - first, last - at);
      double threshold = thresholds.front().second;
      for (auto [window, at_window] : thresholds) {
        if (window <= shorter) threshold = at_window;
      }
      double size = std::fabs(line.offsets[j] - line.offsets[j - 1]) / threshold;
      if (size < 1) continue;
      still.push_back(kept[j - 1]);
      if (shorter < step_stretch && size < least) {
        least = size;
        weakest = still.size();
      }
    }
    if (still.size() == kept.size() && weakest != 0) still.erase(still.begin() + static_cast<std::ptrdiff_t>(weakest - 1));
    if (still.size() == kept.size()) {
      search->steps = placed;
      break;
    }
    kept = still;
  }
  if (search->steps.size() > max_steps) search->too_many = true;
  return true;
}

}  // namespace caplat::stat
