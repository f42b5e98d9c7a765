#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "hgrm.h"
#include "svg.h"
#include "svg_canvas.h"
#include "svg_layout.h"

namespace caplat::stat {

using namespace svg_layout;

namespace {

// The 1 / (1 - p) of a percentile row of a histogram of count values: no
// further than count, where the largest value is, so that a curve ends at the
// highest percentile the count supports.
double inverse_of(const PercentileRow& row, int64_t count) {
  double inverse = row.level < 100.0 ? 1 / (1 - row.level / 100) : INFINITY;
  return std::min(inverse, static_cast<double>(count));
}

}  // namespace

int SvgWriter::nines_of(const Histogram& histogram, const Histogram* baseline) {
  int64_t most = std::max(histogram.total_count(), baseline ? baseline->total_count() : 0);
  int nines = static_cast<int>(std::ceil(std::log10(static_cast<double>(std::max<int64_t>(most, 1)))));
  return std::clamp(nines, 2, max_nines);
}

void SvgWriter::draw_percentiles(Canvas* canvas, const Histogram& histogram,
                                 const Histogram* baseline, const Confidence& confidence,
                                 const PercentileAxis& percentiles, double panel_top) const {
  std::vector<PercentileRow> rows = percentile_rows(histogram, hgrm_ticks);
  std::vector<PercentileRow> base_rows;
  if (baseline != nullptr) base_rows = percentile_rows(*baseline, hgrm_ticks);
  std::vector<int64_t> values;
  for (const auto* list : {&rows, &base_rows}) {
    std::transform(list->begin(), list->end(), std::back_inserter(values),
                   [](const PercentileRow& row) { return row.value; });
  }
  double bottom = panel_top + panel_height;
  LogAxis axis(values, bottom, panel_height);
  axis.draw(canvas, unit_, left, right);
  percentiles.draw(canvas, panel_top, bottom);
  auto curve = [&](const std::vector<PercentileRow>& list, int64_t count) {
    std::vector<std::pair<double, double>> points(list.size());
    std::transform(list.begin(), list.end(), points.begin(), [&](const PercentileRow& row) {
      return std::pair(percentiles.x(inverse_of(row, count)), axis.y(row.value));
    });
    return points;
  };
  // The baseline beneath, and a legend that tells the two apart.
  if (baseline != nullptr) {
    canvas->polyline(curve(base_rows, baseline->total_count()), baseline_style, 0);
    canvas->line(left + 10, panel_top + 14, left + 35, panel_top + 14, p50_style);
    canvas->text(left + 40, panel_top + 18, std::string("this run: ") + names(inputs_),
                 "font-size=\"12\"");
    canvas->line(left + 10, panel_top + 32, left + 35, panel_top + 32, baseline_style);
    canvas->text(left + 40, panel_top + 36, std::string("baseline: ") + names(baseline_inputs_),
                 "font-size=\"12\"");
  }
  canvas->polyline(curve(rows, histogram.total_count()), p50_style, 0);
  canvas->text(left + plot_width / 2, bottom + 40, "percentile (log scale of 1/(1-p))", tick_text);
  if (histogram.total_count() == 0) return;
  // The percentiles people quote, with their values as the summary has them,
  // their intervals, and, against a baseline, whether they changed.
  const std::pair<const char*, double> marks[] = {{"p50", 50.0}, {"p99", 99.0}, {"p99.9", 99.9}};
  for (auto [name, p] : marks) {
    double inverse = 1 / (1 - p / 100);
    if (inverse > static_cast<double>(histogram.total_count())) continue;
    Mark mark{name, histogram.percentile(p), confidence.percentile(histogram, p),
              Verdict::Unknown};
    if (baseline != nullptr)
      mark.verdict = verdict(confidence.percentile(*baseline, p), mark.bounds);
    draw_mark(canvas, mark, percentiles.x(inverse), axis);
  }
}

void SvgWriter::draw_mark(Canvas* canvas, const Mark& mark, double x, const LogAxis& axis) const {
  bool changed = mark.verdict == Verdict::Higher || mark.verdict == Verdict::Lower;
  const char* colour = mark.verdict == Verdict::Higher  ? "#c0392b"
                       : mark.verdict == Verdict::Lower ? "#1e8449"
                                                        : "#222";
  double y = axis.y(mark.value);
  if (mark.bounds.known()) {
    std::string style = std::string("stroke=\"") + colour + "\" stroke-width=\"1.5\"";
    double low = axis.y(*mark.bounds.low), high = axis.y(*mark.bounds.high);
    canvas->line(x, low, x, high, style.c_str());
    canvas->line(x - 4, low, x + 4, low, style.c_str());
    canvas->line(x - 4, high, x + 4, high, style.c_str());
  }
  canvas->dot(x, y, 3.5, (std::string("fill=\"") + colour + "\"").c_str());
  std::string label = std::string(mark.name) + " " +
                      svg_label(static_cast<double>(mark.value), unit_) + std::string(" ") +
                      unit_.name;
  if (changed) label += std::string(", ") + verdict_name(mark.verdict);
  // The curve never falls to the right of a point: a label below it to the
  // right, or above it to the left, stays clear of the curve.
  bool on_left = x < left + plot_width / 2;
  canvas->text(x + (on_left ? 8 : -8), y + (on_left ? 18 : -10), label,
               std::string("font-size=\"12\" fill=\"") + colour + "\" text-anchor=\"" +
                   (on_left ? "start" : "end") + "\"");
}

}  // namespace caplat::stat
