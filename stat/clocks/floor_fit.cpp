#include "floor_fit.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <utility>
#include <limits>

namespace caplat::stat {

namespace {

__extension__ typedef __int128 wide;

// True if b lies strictly below the line from a to c, a, b and c in order of
// x: b is then a corner of the lower hull of the three.
bool below(const FloorPoint& a, const FloorPoint& b, const FloorPoint& c) {
  return static_cast<wide>(b.x - a.x) * (c.y - a.y) - static_cast<wide>(b.y - a.y) * (c.x - a.x) >
         0;
}

// The least of values over each run of trailing messages: element k is the
// least of values[s..k], s the latest index such that counts[s..k] hold at
// least window messages; NaN where the points up to k hold fewer.
std::vector<double> trailing_minima(const std::vector<double>& values,
                                    const std::vector<int64_t>& counts, int64_t window) {
  std::vector<double> minima(values.size(), std::nan(""));
  std::deque<size_t> candidates;  // indices of increasing values
  size_t start = 0;
  int64_t held = 0;  // messages of points start..k
  for (size_t k = 0; k < values.size(); ++k) {
    while (!candidates.empty() && values[candidates.back()] >= values[k]) candidates.pop_back();
    candidates.push_back(k);
    held += counts[k];
    while (start < k && held - counts[start] >= window) held -= counts[start++];
    while (candidates.front() < start) candidates.pop_front();
    if (held >= window) minima[k] = values[candidates.front()];
  }
  return minima;
}

// The points of segment j of those cut at starts that fit_floor uses.
struct Segment {
  size_t begin;
  size_t end;
};
Segment fitted(const std::vector<FloorPoint>& points, const std::vector<size_t>& starts, size_t j) {
  Segment s{starts[j], j + 1 < starts.size() ? starts[j + 1] : points.size()};
  if (s.end - s.begin > 2) {
    s.begin += j > 0;
    s.end -= j + 1 < starts.size();
  }
  return s;
}

}  // namespace

bool fit_floor(const std::vector<FloorPoint>& points, const std::vector<size_t>& starts,
               FloorLine* line) {
  // Moving the common slope b up past the slope of a hull edge p-q of segment
  // j moves that segment's line from touching p to touching q, and changes
  // the derivative of the total height of the lines under the messages by
  // -n_j (x_q - x_p). That total is concave in b: it is greatest at the edge
  // where its derivative, n_j (mean x_j - first x_j) summed at the lowest b,
  // reaches zero.
  struct Edge {
    double slope;
    double weight;
  };
  std::vector<Edge> edges;
  std::vector<FloorPoint> hull;
  double derivative = 0;
  for (size_t j = 0; j < starts.size(); ++j) {
    auto [begin, end] = fitted(points, starts, j);
    double messages = 0, moment = 0;
    hull.clear();
    for (size_t k = begin; k < end; ++k) {
      const FloorPoint& p = points[k];
      messages += static_cast<double>(p.count);
      moment += static_cast<double>(p.count) * static_cast<double>(p.x - points[begin].x);
      while (hull.size() >= 2 && !below(hull[hull.size() - 2], hull.back(), p)) hull.pop_back();
      hull.push_back(p);
    }
    derivative += moment;
    for (size_t k = 1; k < hull.size(); ++k) {
      double dx = static_cast<double>(hull[k].x - hull[k - 1].x);
      edges.push_back({static_cast<double>(hull[k].y - hull[k - 1].y) / dx, messages * dx});
    }
  }
  if (edges.empty()) return false;
  std::sort(edges.begin(), edges.end(),
            [](const Edge& a, const Edge& b) { return a.slope < b.slope; });
  for (const Edge& e : edges) {
    line->slope = e.slope;
    derivative -= e.weight;
    if (derivative <= 0) break;
  }
  line->offsets.assign(starts.size(), std::numeric_limits<double>::infinity());
  for (size_t j = 0; j < starts.size(); ++j) {
    auto [begin, end] = fitted(points, starts, j);
    for (size_t k = begin; k < end; ++k) {
      double offset = static_cast<double>(points[k].y) - line->slope * static_cast<double>(points[k].x);
      line->offsets[j] = std::min(line->offsets[j], offset);
    }
  }
  return true;
}

// Each window holds 128 messages. The least of n latencies lies above the
// floor by about the jitter's scale / n, so a window of 128 pins the floor to
// a hundredth of the jitter, and a step is placed to within a window of
// messages or better (0.64 s at 200 messages a second). Wider windows lower
// the noise further but miss steps closer together than a window and need
// longer inputs (steps need 4 windows, see the estimator); measured in
// bench/clocksim.cpp.
const int64_t step_window = 128;
const int64_t step_stretch = 4 * step_window;

namespace {

// The widths of window compared: narrow ones place a step best, wide ones see
// smaller steps in long inputs.
constexpr int64_t step_windows[] = {step_window, step_stretch, 4 * step_stretch};

}  // namespace

namespace {

// How many times the noise (the median difference between the least
// latencies of neighbouring runs of messages) a difference between the windows
// either side of a place must be for the place to be a candidate, and the
// difference between the floors of the whole stretches either side for a
// candidate to be a step; and the least step at any noise. The least of n
// latencies lies about exponentially above the floor, so the difference of
// two is about Laplace: it passes k times its median with probability
// 2^-k. At 20 times, one window in 10^6 is a false candidate; stretches hold
// 4 windows or more, and their difference passes 12 times the median of
// 4-window runs with probability 2^-12, so that one input in some 10^8 of an
// hour at 200 a second would show a false step (bench/clocksim.cpp measured
// the rates). The least step only matters when the noise is nil, as with
// latencies that are whole milliseconds.
constexpr double candidate_factor = 20;
constexpr double step_factor = 12;
constexpr double least_step_ns = 1000;

// The fewest runs of a width of window whose differences measure the noise.
constexpr size_t least_runs = 3;

// The median of values.
double median(std::vector<double> values) {
  auto at = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

}  // namespace

StepSearch find_steps(const std::vector<FloorPoint>& points, double slope) {
  StepSearch search;
  size_t n = points.size();
  std::vector<double> residual(n), reversed(n);
  std::vector<int64_t> counts(n), reversed_counts(n), held(n);
  int64_t total = 0;
  for (size_t k = 0; k < n; ++k) {
    residual[k] = static_cast<double>(points[k].y) - slope * static_cast<double>(points[k].x);
    counts[k] = points[k].count;
    total += counts[k];
    held[k] = total;
    reversed[n - 1 - k] = residual[k];
    reversed_counts[n - 1 - k] = counts[k];
  }
  // Between point k and k + 1, at each width of window: the least residual of
  // the window after less that of the window before, and how many thresholds
  // that is at the width it is most.
  // Candidates with narrow windows first, which place a step best, then
  // those only wide windows see. The most significant first at each width;
  // one within a stretch of messages of one kept is the same step seen from a
  // neighbouring place, or too close to it to tell. The stretch keeps the
  // floors on either side of a step pinned far better than a window's: one
  // window of unlucky jitter between two candidates would otherwise be a
  // step up and down.
  struct Candidate {
    size_t start;  // the first point after it
    int64_t window;
  };
  std::vector<Candidate> kept;
  std::vector<std::pair<int64_t, double>> thresholds;  // window, threshold
  for (int64_t window : step_windows) {
    // The noise: the median difference between the least residuals of
    // neighbouring runs of window messages that do not overlap, so that a
    // step moves one difference only.
    std::vector<double> differences;
    double last = std::nan(""), least = std::numeric_limits<double>::infinity();
    int64_t in_run = 0;
    for (size_t k = 0; k < n; ++k) {
      least = std::min(least, residual[k]);
      in_run += counts[k];
      if (in_run < window) continue;
      if (!std::isnan(last)) differences.push_back(std::fabs(least - last));
      last = least;
      least = std::numeric_limits<double>::infinity();
      in_run = 0;
    }
    if (differences.size() < least_runs) break;
    search.noise = median(differences);
    thresholds.emplace_back(window, std::max(step_factor * search.noise, least_step_ns));
    double candidate = std::max(candidate_factor * search.noise, least_step_ns);
    std::vector<double> before = trailing_minima(residual, counts, window);
    std::vector<double> after = trailing_minima(reversed, reversed_counts, window);
    std::vector<std::pair<double, size_t>> found;  // jump, k
    for (size_t k = 0; k + 1 < n; ++k) {
      double jump = std::fabs(after[n - 2 - k] - before[k]);
      if (jump >= candidate && held[k] >= step_stretch && total - held[k] >= step_stretch) {
        found.emplace_back(jump, k);
      }
    }
    std::sort(found.begin(), found.end(), std::greater<>());
    for (auto [jump, k] : found) {
      bool near = std::any_of(kept.begin(), kept.end(), [&](const Candidate& other) {
        return std::llabs(held[k] - held[other.start - 1]) < step_stretch;
      });
      if (near) continue;
      if (kept.size() == 4 * max_steps) {
        search.too_many = true;
        return search;
      }
      kept.push_back({k + 1, window});
    }
  }
  std::sort(kept.begin(), kept.end(),
            [](const Candidate& a, const Candidate& b) { return a.start < b.start; });

  // A step moves the whole stretch up to the next one: compare the floors of
  // the stretches on either side, drop the steps by less than the threshold
  // of the widest window that the shorter stretch holds, and again until none
  // is dropped.
  FloorLine line;
  for (;;) {
    std::vector<size_t> starts{0};
    for (const Candidate& c : kept) starts.push_back(c.start);
    if (!fit_floor(points, starts, &line)) break;
    std::vector<Candidate> still;
    for (size_t j = 1; j < starts.size(); ++j) {
      int64_t first = starts[j - 1] == 0 ? 0 : held[starts[j - 1] - 1];
      int64_t last = j + 1 < starts.size() ? held[starts[j + 1] - 1] : total;
      int64_t shorter = std::min(held[starts[j] - 1] - first, last - held[starts[j] - 1]);
      double threshold = thresholds.front().second;
      for (auto [window, at] : thresholds) {
        if (window <= shorter) threshold = at;
      }
      if (std::fabs(line.offsets[j] - line.offsets[j - 1]) >= threshold) still.push_back(kept[j - 1]);
    }
    if (still.size() == kept.size()) break;
    kept = still;
  }
  std::vector<size_t> starts{0};
  for (const Candidate& c : kept) starts.push_back(c.start);

  // Each step is sought within the width of window that found it either side
  // of where the jump was largest, against the floors of the stretches
  // beyond, which the place sought cannot disturb. For the fit, a point on the
  // wrong side may not pull a floor down: a step up starts after the last
  // point below the floor after it, a step down at the first point below the
  // floor before it. The best guess of the place is where the points cross
  // the middle of the two floors.
  if (starts.size() == 1 || !fit_floor(points, starts, &line)) starts = {0};
  std::vector<double> height(n);
  for (size_t k = 0; k < n; ++k) {
    height[k] = static_cast<double>(points[k].y) - line.slope * static_cast<double>(points[k].x);
  }
  auto least = [&](size_t begin, size_t end, double otherwise) {
    return begin < end ? *std::min_element(height.begin() + static_cast<std::ptrdiff_t>(begin),
                                           height.begin() + static_cast<std::ptrdiff_t>(end))
                       : otherwise;
  };
  for (size_t j = 1; j < starts.size(); ++j) {
    size_t low = starts[j - 1] + 1, high = j + 1 < starts.size() ? starts[j + 1] - 1 : n - 1;
    FoundStep step{starts[j], starts[j], starts[j], starts[j]};
    int64_t window = kept[j - 1].window;
    while (step.from > low && held[starts[j] - 1] - held[step.from - 1] < window) --step.from;
    while (step.to < high && held[step.to] - held[starts[j] - 1] < window) ++step.to;
    double before = least(starts[j - 1], step.from, line.offsets[j - 1]);
    double after = least(step.to + 1, high + 1, line.offsets[j]);
    double middle = (before + after) / 2;
    if (after > before) {
      step.start = step.from;
      for (size_t k = step.from; k <= step.to; ++k) {
        if (height[k] < after) step.start = k + 1;
        if (height[k] < middle) step.crossing = k + 1;
      }
    } else {
      step.start = step.to + 1;
      for (size_t k = step.to + 1; k-- > step.from;) {
        if (height[k] < before) step.start = k;
        if (height[k] < middle) step.crossing = k;
      }
    }
    step.start = std::clamp(step.start, low, high);
    step.crossing = std::clamp(step.crossing, low, high);
    search.steps.push_back(step);
  }
  if (search.steps.size() > max_steps) search.too_many = true;
  return search;
}

}  // namespace caplat::stat
