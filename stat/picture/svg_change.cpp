#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "svg.h"
#include "svg_canvas.h"
#include "svg_layout.h"

namespace caplat::stat {

using namespace svg_layout;

namespace {

// Points of the change curve, evenly spread over the percentile axis.
constexpr int change_points = 120;
// The change axis spans at least this many percent each side of zero, so
// that noise of a run like its baseline stays small on it.
constexpr double least_change = 10;
// The axis fits the changes up to p99, the body that a regression moves: a
// tail of stale replays would change by thousands of percent and flatten it.
constexpr double fitted_decades = 2;

// The change of a percentile: this run against the baseline in percent, and
// its band, from the two intervals' opposite ends where all four are known.
struct Change {
  double x;
  double value;
  bool banded;
  double low;
  double high;
};

}  // namespace

void SvgWriter::draw_change(Canvas* canvas, const Histogram& histogram, const Histogram& baseline,
                            const Confidence& confidence, const PercentileAxis& percentiles,
                            double panel_top) const {
  double bottom = panel_top + change_height;
  // The curve ends where the smaller count stops supporting percentiles.
  double last = std::min({std::log10(static_cast<double>(std::max<int64_t>(histogram.total_count(), 1))),
                          std::log10(static_cast<double>(std::max<int64_t>(baseline.total_count(), 1))),
                          static_cast<double>(percentiles.nines())});
  std::vector<Change> changes;
  double lowest = 0, highest = 0;
  for (int i = 1; i <= change_points && histogram.total_count() != 0 && baseline.total_count() != 0;
       ++i) {
    double decades = last * i / change_points;
    double p = 100 * (1 - std::pow(10.0, -decades));
    auto base = static_cast<double>(baseline.percentile(p));
    if (base <= 0) continue;
    Change c{percentiles.x(std::pow(10.0, decades)),
             100 * (static_cast<double>(histogram.percentile(p)) / base - 1), false, 0, 0};
    Bounds run = confidence.percentile(histogram, p), from = confidence.percentile(baseline, p);
    if (run.known() && from.known() && *from.low > 0) {
      c.banded = true;
      c.low = 100 * (static_cast<double>(*run.low) / static_cast<double>(*from.high) - 1);
      c.high = 100 * (static_cast<double>(*run.high) / static_cast<double>(*from.low) - 1);
    }
    if (decades <= fitted_decades) {
      lowest = std::min(lowest, c.value);
      highest = std::max(highest, c.value);
    }
    changes.push_back(c);
  }
  // The axis fits the change itself, not its band, which the tail widens;
  // changes beyond it are marked at its edge.
  double step = nice_step(std::max({highest - lowest, 2 * least_change}), 4);
  double from = std::min(std::floor(lowest / step) * step, -least_change);
  double to = std::max(std::ceil(highest / step) * step, least_change);
  auto y = [&](double change) {
    return bottom - change_height * (std::clamp(change, from, to) - from) / (to - from);
  };
  const Unit percent{"%", 1, 0};
  auto ticks = std::lround((to - from) / step);
  for (long i = 0; i <= ticks; ++i) {
    // From the tick's index, so that zero is 0 and not -0.
    double tick = static_cast<double>(std::lround(from / step) + i) * step;
    canvas->line(left, y(tick), right, y(tick), svg_grid_style);
    std::string label = svg_label(tick, percent);
    if (tick > 0) label.insert(label.begin(), '+');
    label.append(" %");
    canvas->text(left - 6, y(tick) + 4, label, "font-size=\"12\" text-anchor=\"end\"");
  }
  percentiles.draw(canvas, panel_top, bottom);
  canvas->line(left, panel_top, left, bottom, svg_axis_style);
  // The band as one filled shape per run of points that have one.
  std::string band;
  for (size_t i = 0; i < changes.size();) {
    if (!changes[i].banded) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < changes.size() && changes[end].banded) ++end;
    for (size_t k = i; k < end; ++k) {
      band.append(k == i ? "M" : "L").append(svg_number(changes[k].x)).append(" ");
      band.append(svg_number(y(changes[k].high)));
    }
    for (size_t k = end; k-- > i;)
      band.append("L").append(svg_number(changes[k].x)).append(" ").append(svg_number(y(changes[k].low)));
    band.append("Z");
    i = end;
  }
  if (!band.empty()) canvas->path(band, change_band_style);
  canvas->line(left, y(0), right, y(0), zero_style);
  std::vector<std::pair<double, double>> curve;
  std::string beyond;
  for (const Change& c : changes) {
    bool inside = c.value >= from && c.value <= to;
    curve.emplace_back(c.x, inside ? y(c.value) : std::nan(""));
    if (inside) continue;
    // A small triangle at the edge, pointing the way the change went.
    double edge = y(c.value), tip = c.value > to ? -6 : 6;
    beyond.append("M").append(svg_number(c.x - 3)).append(" ").append(svg_number(edge));
    beyond.append("L").append(svg_number(c.x + 3)).append(" ").append(svg_number(edge));
    beyond.append("L").append(svg_number(c.x)).append(" ").append(svg_number(edge + tip));
    beyond.append("Z");
  }
  canvas->polyline(curve, p50_style, 0);
  if (!beyond.empty()) canvas->path(beyond, beyond_style);
  canvas->text(left + 10, panel_top - 8,
               "this run against the baseline at each percentile (%), with its confidence band",
               "font-size=\"12\"");
}

}  // namespace caplat::stat
