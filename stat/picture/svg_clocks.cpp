#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "svg.h"
#include "svg_canvas.h"
#include "svg_layout.h"

namespace caplat::stat {

using namespace svg_layout;

std::vector<std::vector<std::pair<uint64_t, int64_t>>> SvgWriter::floors() const {
  std::vector<std::vector<std::pair<uint64_t, int64_t>>> floors;
  if (clocks_ == nullptr) return floors;
  for (const InputClock& c : *clocks_) {
    if (!c.estimate || !c.estimate->drift_ppm) continue;
    const ClockEstimate& e = *c.estimate;
    // Deskewed latencies keep the floor at its first value; as read, it
    // climbs at the drift and jumps at each step.
    double slope = deskewed_ ? 0 : *e.drift_ppm / 1e6;
    auto at = [&](uint64_t t, int64_t jumped) {
      return std::pair(t, *e.floor_first_ns + jumped +
                              std::llround(slope * static_cast<double>(t - e.first_ns)));
    };
    std::vector<std::pair<uint64_t, int64_t>> points{at(e.first_ns, 0)};
    int64_t jumped = 0;
    if (e.steps && !deskewed_) {
      for (const ClockStep& step : *e.steps) {
        points.push_back(at(step.at_ns, jumped));
        jumped += step.size_ns;
        points.push_back(at(step.at_ns, jumped));
      }
    }
    points.push_back(at(e.last_ns, jumped));
    floors.push_back(std::move(points));
  }
  return floors;
}

std::vector<std::pair<uint64_t, int64_t>> SvgWriter::clock_steps() const {
  std::vector<std::pair<uint64_t, int64_t>> steps;
  if (clocks_ == nullptr) return steps;
  for (const InputClock& c : *clocks_) {
    if (!c.estimate || !c.estimate->steps) continue;
    std::transform(c.estimate->steps->begin(), c.estimate->steps->end(), std::back_inserter(steps),
                   [](const ClockStep& step) { return std::pair(step.at_ns, step.size_ns); });
  }
  return steps;
}

void SvgWriter::draw_floors(Canvas* canvas, const LogAxis& axis, double panel_top,
                            double bottom) const {
  // Receive times before the first row sit at its start.
  auto x = [&](uint64_t t) {
    return time_x(static_cast<double>(t - std::min(t, rows_.front().start)));
  };
  for (const auto& floor : floors()) {
    std::vector<std::pair<double, double>> points(floor.size());
    std::transform(floor.begin(), floor.end(), points.begin(),
                   [&](const auto& point) { return std::pair(x(point.first), axis.y(point.second)); });
    canvas->polyline(points, floor_style, 0);
  }
  for (auto [t, size] : clock_steps()) {
    canvas->line(x(t), panel_top, x(t), bottom, step_style);
    std::string label = svg_label(static_cast<double>(size), unit_) + " " + unit_.name;
    if (size >= 0) label.insert(label.begin(), '+');
    canvas->text(x(t) + 4, panel_top + 14, "step " + label, "font-size=\"11\" fill=\"#6a1b9a\"");
  }
  if (!floors().empty()) {
    canvas->line(right - 140, panel_top - 12, right - 115, panel_top - 12, floor_style);
    canvas->text(right - 110, panel_top - 8, deskewed_ ? "floor, deskewed" : "floor",
                 "font-size=\"12\"");
  }
}

}  // namespace caplat::stat
