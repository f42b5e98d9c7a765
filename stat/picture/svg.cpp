#include "svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <string>
#include <utility>

#include "hgrm.h"
#include "svg_canvas.h"
#include "svg_layout.h"

namespace caplat::stat {

using namespace svg_layout;

namespace {

// Rows kept at most; beyond, neighbours are merged in pairs.
constexpr size_t max_rows = 2000;

// The share of n in count, in percent, as a short label.
std::string share(int64_t n, int64_t count) {
  char text[32];
  snprintf(text, sizeof text, "%.4g %%",
           count != 0 ? 100.0 * static_cast<double>(n) / static_cast<double>(count) : 0.0);
  return text;
}

}  // namespace

SvgWriter::SvgWriter(const Unit& unit, std::vector<std::string> inputs,
                     std::vector<std::string> baseline_inputs, std::string range_label)
    : unit_(unit),
      inputs_(std::move(inputs)),
      baseline_inputs_(std::move(baseline_inputs)),
      range_label_(std::move(range_label)) {}

void SvgWriter::interval(const Interval& closed) {
  if (row_length_ == 0) row_length_ = closed.length;
  while (row_length_ < closed.length) merge_pairs();
  const Histogram& h = closed.histogram;
  bool any = h.total_count() != 0;
  Row row{closed.start, closed.count, any ? h.percentile(50.0) : -1, any ? h.percentile(99.0) : -1,
          closed.count != 0 ? closed.max : -1};
  if (!rows_.empty() && closed.start - rows_.back().start < row_length_) {
    Row& last = rows_.back();
    last.count += row.count;
    last.p50 = std::max(last.p50, row.p50);
    last.p99 = std::max(last.p99, row.p99);
    last.max = std::max(last.max, row.max);
    return;
  }
  rows_.push_back(row);
  if (rows_.size() == max_rows) merge_pairs();
}

void SvgWriter::merge_pairs() {
  size_t kept = 0;
  for (size_t i = 0; i < rows_.size(); i += 2, ++kept) {
    Row merged = rows_[i];
    if (i + 1 < rows_.size()) {
      const Row& next = rows_[i + 1];
      merged.count += next.count;
      merged.p50 = std::max(merged.p50, next.p50);
      merged.p99 = std::max(merged.p99, next.p99);
      merged.max = std::max(merged.max, next.max);
    }
    rows_[kept] = merged;
  }
  rows_.resize(kept);
  row_length_ *= 2;
}

void SvgWriter::write(const Histogram& histogram, const Totals& totals,
                      const Confidence& confidence, const Histogram* baseline,
                      CheckedWriter* out) const {
  bool over_time = !rows_.empty();
  double change = baseline != nullptr ? change_height + gap : 0;
  double height = top + panel_height + gap + change +
                  (over_time ? panel_height + gap + counts_height + bottom_margin : 0);
  Canvas canvas(out);
  std::string w = svg_number(width), h = svg_number(height);
  out->put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  out->put(std::string("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"") + w +
           std::string("\" height=\"") + h + std::string("\" viewBox=\"0 0 ") + w +
           std::string(" ") + h +
           "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n");
  out->put("<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");
  draw_title(&canvas, histogram, totals);
  PercentileAxis percentiles(nines_of(histogram, baseline), left, right);
  draw_percentiles(&canvas, histogram, baseline, confidence, percentiles, top);
  if (baseline != nullptr)
    draw_change(&canvas, histogram, *baseline, confidence, percentiles, top + panel_height + gap);
  if (over_time) {
    draw_over_time(&canvas, top + panel_height + gap + change);
    draw_counts(&canvas, top + 2 * (panel_height + gap) + change);
  }
  out->put("</svg>\n");
}

void SvgWriter::draw_title(Canvas* canvas, const Histogram& histogram, const Totals& t) const {
  std::string title = std::string("Latency of ") + std::to_string(t.count) + " messages (" +
                      std::to_string(histogram.total_count()) + " from " + range_label_ + ")";
  if (!inputs_.empty()) title += std::string(": ") + names(inputs_);
  canvas->text(left, 28, title, "font-size=\"16\" font-weight=\"bold\"");
  // The latencies that the curves leave out, in red when there are any.
  std::string apart = std::string("negative: ") + std::to_string(t.negative) + std::string(" (") +
                      share(t.negative, t.count) + ")";
  if (t.negative != 0) {
    apart += std::string(", most negative ") +
             svg_label(static_cast<double>(t.most_negative), unit_) + " " + unit_.name;
  }
  apart += std::string("  \u00b7  10 s or more: ") + std::to_string(t.stale) + std::string(" (") +
           share(t.stale, t.count) + std::string(")  \u00b7  over 1 h: ") +
           std::to_string(t.over_hour);
  bool any = t.negative != 0 || t.stale != 0;
  canvas->text(left, 50, apart,
               std::string("font-size=\"13\" xml:space=\"preserve\" fill=\"") +
                   (any ? "#a00" : "#555") + "\"");
}

double SvgWriter::time_x(double t) const {
  double span = static_cast<double>(rows_.back().start - rows_.front().start) +
                static_cast<double>(row_length_);
  return left + plot_width * t / span;
}

void SvgWriter::draw_over_time(Canvas* canvas, double panel_top) const {
  std::vector<int64_t> values;
  for (const Row& row : rows_) values.insert(values.end(), {row.p50, row.p99, row.max});
  for (const auto& floor : floors()) {
    for (auto [t, v] : floor) values.push_back(v);
  }
  double bottom = panel_top + panel_height;
  LogAxis axis(values, bottom, panel_height);
  axis.draw(canvas, unit_, left, right);
  double span = static_cast<double>(rows_.back().start - rows_.front().start) +
                static_cast<double>(row_length_);
  double step = nice_step(span, 6);
  for (int i = 0; i * step <= span + step / 1000; ++i) {
    double t = i * step;
    canvas->line(time_x(t), panel_top, time_x(t), bottom + counts_height + gap, svg_grid_style);
    canvas->text(time_x(t), bottom + 18, svg_label(t, second), tick_text);
  }
  struct Series {
    int64_t Row::*field;
    const char* style;
    double dot;
    const char* name;
  };
  // The maximum first, beneath the percentiles, and only where it lies above
  // p99: where the two meet, p99 shows it.
  const Series series[] = {{&Row::max, max_style, 2, "max"},
                           {&Row::p99, p99_style, 2, "p99"},
                           {&Row::p50, p50_style, 2, "p50"}};
  draw_floors(canvas, axis, panel_top, bottom);
  double legend_x = left + 10;
  for (const Series& s : series) {
    std::vector<std::pair<double, double>> points;
    for (const Row& row : rows_) {
      double middle = static_cast<double>(row.start - rows_.front().start) +
                      static_cast<double>(row_length_) / 2;
      bool hidden = s.field == &Row::max && row.max <= row.p99;
      points.emplace_back(time_x(middle), hidden ? std::nan("") : axis.y(row.*s.field));
    }
    canvas->polyline(points, s.style, s.dot);
    canvas->line(legend_x, panel_top - 12, legend_x + 25, panel_top - 12, s.style);
    canvas->text(legend_x + 30, panel_top - 8, s.name, "font-size=\"12\"");
    legend_x += 70;
  }
  auto start_seconds = static_cast<time_t>(rows_.front().start / second.ns);
  tm utc{};
  gmtime_r(&start_seconds, &utc);
  char when[64];
  strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
  canvas->text(left + plot_width / 2, bottom + 40,
               std::string("receive time (s since ") + when + "), a point per " +
                   svg_label(static_cast<double>(row_length_), second) + " s",
               tick_text);
}

void SvgWriter::draw_counts(Canvas* canvas, double panel_top) const {
  // Messages per row as bars on a linear axis from 0.
  int64_t most = 1;
  for (const Row& row : rows_) most = std::max(most, row.count);
  auto step = static_cast<int64_t>(std::max(1.0, nice_step(static_cast<double>(most), 2)));
  int64_t steps = (most + step - 1) / step;
  double bottom = panel_top + counts_height;
  auto y = [&](double n) { return bottom - counts_height * n / static_cast<double>(steps * step); };
  for (int64_t i = 0; i <= steps; ++i) {
    auto n = static_cast<double>(i * step);
    canvas->line(left, y(n), right, y(n), svg_grid_style);
    canvas->text(left - 6, y(n) + 4, std::to_string(i * step),
                 "font-size=\"12\" text-anchor=\"end\"");
  }
  std::string bars;
  for (const Row& row : rows_) {
    if (row.count == 0) continue;
    double from = time_x(static_cast<double>(row.start - rows_.front().start));
    double to = time_x(static_cast<double>(row.start - rows_.front().start + row_length_));
    // At least a pixel wide, so that a lone interval shows.
    to = std::max(to, from + 1);
    bars.append("M").append(svg_number(from)).append(" ").append(svg_number(bottom));
    bars.append("V").append(svg_number(y(static_cast<double>(row.count))));
    bars.append("H").append(svg_number(to)).append("V").append(svg_number(bottom)).append("Z");
  }
  if (!bars.empty()) canvas->path(bars, count_style);
  canvas->line(left, bottom, right, bottom, svg_axis_style);
  canvas->line(left, panel_top, left, bottom, svg_axis_style);
  canvas->text(left + plot_width / 2, bottom + 22,
               std::string("messages per point (") +
                   svg_label(static_cast<double>(row_length_), second) + " s)",
               tick_text);
}

}  // namespace caplat::stat
