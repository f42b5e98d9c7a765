#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "hgrm.h"
#include "svg.h"
#include "svg_canvas.h"
#include "svg_layout.h"

namespace caplat::stat {

using namespace svg_layout;

void SvgWriter::draw_percentiles(Canvas* canvas, const Histogram& histogram,
                                 const Histogram* baseline, const Confidence& confidence,
                                 double panel_top) const {
  // x is log10(1 / (1 - p)), up to the nines either histogram reaches.
  std::vector<PercentileRow> rows = percentile_rows(histogram, hgrm_ticks);
  std::vector<PercentileRow> base_rows;
  if (baseline != nullptr) base_rows = percentile_rows(*baseline, hgrm_ticks);
  int nines = 2;
  std::vector<int64_t> values;
  for (const auto* list : {&rows, &base_rows}) {
    for (const PercentileRow& row : *list) {
      values.push_back(row.value);
      if (row.level < 100.0)
        nines = std::max(nines, static_cast<int>(std::ceil(std::log10(1 / (1 - row.level / 100)))));
    }
  }
  nines = std::min(nines, max_nines);
  double bottom = panel_top + panel_height;
  LogAxis axis(values, bottom, panel_height);
  axis.draw(canvas, unit_, left, right);
  auto px = [nines](double inverse) {
    return left + plot_width * std::log10(std::min(inverse, std::pow(10.0, nines))) / nines;
  };
  const char* const level_labels[] = {"0%", "90%", "99%", "99.9%", "99.99%", "99.999%", "99.9999%"};
  for (int n = 0; n <= nines; ++n) {
    double x = px(std::pow(10.0, n));
    canvas->line(x, panel_top, x, bottom, svg_grid_style);
    canvas->text(x, bottom + 18, level_labels[n], tick_text);
  }
  canvas->line(px(2), panel_top, px(2), bottom, svg_grid_style);
  canvas->text(px(2), bottom + 18, "50%", tick_text);
  auto curve = [&](const std::vector<PercentileRow>& list) {
    std::vector<std::pair<double, double>> points;
    for (const PercentileRow& row : list) {
      double inverse = row.level < 100.0 ? 1 / (1 - row.level / 100) : INFINITY;
      points.emplace_back(px(inverse), axis.y(row.value));
    }
    return points;
  };
  // The baseline beneath, and a legend that tells the two apart.
  if (baseline != nullptr) {
    canvas->polyline(curve(base_rows), baseline_style, 0);
    canvas->line(left + 10, panel_top + 14, left + 35, panel_top + 14, p50_style);
    canvas->text(left + 40, panel_top + 18, std::string("this run: ") + names(inputs_),
                 "font-size=\"12\"");
    canvas->line(left + 10, panel_top + 32, left + 35, panel_top + 32, baseline_style);
    canvas->text(left + 40, panel_top + 36, std::string("baseline: ") + names(baseline_inputs_),
                 "font-size=\"12\"");
  }
  canvas->polyline(curve(rows), p50_style, 0);
  canvas->text(left + plot_width / 2, bottom + 40, "percentile (log scale of 1/(1-p))", tick_text);
  if (histogram.total_count() == 0) return;
  // The percentiles people quote, with their values as the summary has them,
  // their intervals, and, against a baseline, whether they changed.
  const std::pair<const char*, double> marks[] = {{"p50", 50.0}, {"p99", 99.0}, {"p99.9", 99.9}};
  for (auto [name, p] : marks) {
    double inverse = 1 / (1 - p / 100);
    if (inverse > std::pow(10.0, nines) * 1.0001) continue;
    Mark mark{name, histogram.percentile(p), confidence.percentile(histogram, p),
              Verdict::Unknown};
    if (baseline != nullptr)
      mark.verdict = verdict(confidence.percentile(*baseline, p), mark.bounds);
    draw_mark(canvas, mark, px(inverse), axis);
  }
}

void SvgWriter::draw_mark(Canvas* canvas, const Mark& mark, double x, const LogAxis& axis) const {
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
  if (mark.verdict == Verdict::Higher || mark.verdict == Verdict::Lower) label += std::string(", ") + verdict_name(mark.verdict);
  bool on_left = x < left + plot_width / 2;
  canvas->text(x + (on_left ? 6 : -6), y - 8, label,
               std::string("font-size=\"12\" fill=\"") + colour + "\" text-anchor=\"" +
                   (on_left ? "start" : "end") + "\"");
}

}  // namespace caplat::stat
