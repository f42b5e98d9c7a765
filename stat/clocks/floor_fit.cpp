#include "floor_fit.h"

#include <algorithm>
#include <bit>
#include <cmath>
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

// The points of segment j of those cut at starts, as the indices of the first
// and of the one past the last.
std::pair<size_t, size_t> segment(const std::vector<FloorPoint>& points,
                                  const std::vector<size_t>& starts, size_t j) {
  return {starts[j], j + 1 < starts.size() ? starts[j + 1] : points.size()};
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
    auto [begin, end] = segment(points, starts, j);
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
    auto [begin, end] = segment(points, starts, j);
    for (size_t k = begin; k < end; ++k) {
      double offset = static_cast<double>(points[k].y) - line->slope * static_cast<double>(points[k].x);
      line->offsets[j] = std::min(line->offsets[j], offset);
    }
  }
  return true;
}

}  // namespace caplat::stat
