#include "svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <string>

#include "hgrm.h"
#include "summary.h"

namespace {

// Rows kept at most; beyond, neighbours are merged in pairs.
constexpr size_t max_rows = 2000;

// The picture's size and the panels' margins, in pixels.
constexpr double width = 900;
constexpr double panel_height = 300;
constexpr double left = 90;
constexpr double right = 30;
constexpr double top = 70;
constexpr double gap = 80;

// Nines of the percentile axis, at most: 99.9999 %.
constexpr int max_nines = 6;

std::string number(double v) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// A latency in ns as a short label in unit, without an exponent or trailing
// zeros.
std::string label(double ns, const Unit& unit) {
  char text[64];
  snprintf(text, sizeof text, "%.9f", ns / static_cast<double>(unit.ns));
  std::string s = text;
  s.erase(s.find_last_not_of('0') + 1);
  if (s.back() == '.') s.pop_back();
  return s;
}

// A step of 1, 2 or 5 times a power of ten that cuts span into about six.
double nice_step(double span) {
  double raw = span / 6;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double multiples[] = {1.0, 2.0, 5.0, 10.0};
  return power * *std::find_if(std::begin(multiples), std::end(multiples) - 1,
                               [&](double m) { return raw <= m * power; });
}

}  // namespace

// Writes the SVG elements of the picture to an output.
class Canvas {
 public:
  explicit Canvas(Output* out) : out_(out) {}

  void line(double x1, double y1, double x2, double y2, const char* style) {
    out_->put("<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) +
              "\" y2=\"" + number(y2) + "\" " + style + "/>\n");
  }

  void text(double x, double y, const std::string& s, const char* attributes) {
    out_->put("<text x=\"" + number(x) + "\" y=\"" + number(y) + "\" " + attributes + ">" + s +
              "</text>\n");
  }

  // A polyline through points, broken where a point is missing (NaN).
  void polyline(const std::vector<std::pair<double, double>>& points, const char* style) {
    std::string run;
    auto flush = [&] {
      if (!run.empty()) {
        out_->put("<polyline fill=\"none\" " + std::string(style) + " points=\"" + run + "\"/>\n");
      }
      run.clear();
    };
    for (const auto& [x, y] : points) {
      if (std::isnan(y)) {
        flush();
        continue;
      }
      run += number(x) + "," + number(y) + " ";
    }
    flush();
  }

 private:
  Output* out_;
};

namespace {

const char axis_style[] = "stroke=\"#333\" stroke-width=\"1\"";
const char grid_style[] = "stroke=\"#ddd\" stroke-width=\"1\"";
const char tick_text[] = "font-size=\"12\" text-anchor=\"middle\"";
const char value_text[] = "font-size=\"12\" text-anchor=\"end\"";
const char p50_style[] = "stroke=\"#1f5fbf\" stroke-width=\"1.5\"";

// The share of n in count, in percent, as a short label.
std::string share(int64_t n, int64_t count) {
  char text[32];
  snprintf(text, sizeof text, "%.4g %%",
           count != 0 ? 100.0 * static_cast<double>(n) / static_cast<double>(count) : 0.0);
  return text;
}

}  // namespace

void SvgWriter::interval(const Interval& closed) {
  if (row_length_ == 0) row_length_ = closed.length;
  while (row_length_ < closed.length) merge_pairs();
  const Histogram& h = closed.histogram;
  bool any = h.total_count() != 0;
  Row row{closed.start, closed.count, any ? clamped_percentile(h, 50.0) : -1,
          any ? clamped_percentile(h, 99.0) : -1, closed.count != 0 ? closed.max : -1};
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

namespace {

// A vertical log axis over whole decades, from the panel's bottom up.
struct LogAxis {
  double low;
  double high;
  double bottom;

  // Covers the positive values among values, and at least one decade.
  LogAxis(const std::vector<int64_t>& values, double panel_bottom) : bottom(panel_bottom) {
    int64_t lowest = INT64_MAX, highest = 1;
    for (int64_t v : values) {
      if (v > 0) {
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
      }
    }
    if (lowest == INT64_MAX) lowest = 1;
    low = std::floor(std::log10(static_cast<double>(lowest)));
    high = std::max(std::ceil(std::log10(static_cast<double>(highest))), low + 1);
  }

  // The height of v in ns; values below the axis sit on it, a negative one is
  // missing (NaN).
  double y(int64_t v) const {
    if (v < 0) return std::nan("");
    double decades = std::max(std::log10(static_cast<double>(std::max<int64_t>(v, 1))), low);
    return at(decades);
  }

  double at(double decade) const { return bottom - panel_height * (decade - low) / (high - low); }

  // Grid lines and labels at each decade, in unit, and the axis title.
  void draw(Canvas* canvas, const Unit& unit) const {
    for (int i = 0; i <= static_cast<int>(high - low); ++i) {
      double d = low + i;
      canvas->line(left, at(d), width - right, at(d), grid_style);
      canvas->text(left - 6, at(d) + 4, label(std::pow(10.0, d), unit), value_text);
    }
    canvas->line(left, bottom, width - right, bottom, axis_style);
    canvas->line(left, bottom - panel_height, left, bottom, axis_style);
    double middle = bottom - panel_height / 2;
    canvas->text(20, middle, std::string("latency (") + unit.name + ", log scale)",
                 ("font-size=\"12\" text-anchor=\"middle\" transform=\"rotate(-90 20 " +
                  number(middle) + ")\"")
                     .c_str());
  }
};

}  // namespace

void SvgWriter::write(const Histogram& histogram, const Totals& totals, Output* out) const {
  bool over_time = !rows_.empty();
  double panel_space = panel_height + gap;
  double height = top + panel_space * (over_time ? 2 : 1);
  Canvas canvas(out);
  out->put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  out->put("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) + "\" height=\"" +
           number(height) + "\" viewBox=\"0 0 " + number(width) + " " + number(height) +
           "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n");
  out->put("<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");

  // Title, and the latencies that the curves leave out.
  canvas.text(left, 28,
              "Latency of " + std::to_string(totals.count) + " messages (" +
                  std::to_string(histogram.total_count()) + " from 0 to 1 h)",
              "font-size=\"16\" font-weight=\"bold\"");
  std::string apart = "negative: " + std::to_string(totals.negative) + " (" +
                      share(totals.negative, totals.count) + ")";
  if (totals.negative != 0) {
    apart += ", most negative " + label(static_cast<double>(totals.most_negative), unit_) + " " +
             unit_.name;
  }
  apart += "  \u00b7  10 s or more: " + std::to_string(totals.stale) + " (" +
           share(totals.stale, totals.count) +
           ")  \u00b7  over 1 h: " + std::to_string(totals.over_hour);
  canvas.text(left, 50, apart, "font-size=\"13\" fill=\"#a00\" xml:space=\"preserve\"");

  // The percentile curve: x is log10(1 / (1 - p)) up to the nines reached.
  double plot_width = width - left - right;
  std::vector<PercentileRow> rows = percentile_rows(histogram, hgrm_ticks);
  int nines = 2;
  std::vector<int64_t> values;
  for (const PercentileRow& row : rows) {
    values.push_back(row.value);
    if (row.level < 100.0)
      nines = std::max(nines, static_cast<int>(std::ceil(std::log10(1 / (1 - row.level / 100)))));
  }
  nines = std::min(nines, max_nines);
  LogAxis axis(values, top + panel_height);
  axis.draw(&canvas, unit_);
  auto px = [&](double inverse) {
    return left + plot_width * std::log10(std::min(inverse, std::pow(10.0, nines))) / nines;
  };
  const char* const level_labels[] = {"0%", "90%", "99%", "99.9%", "99.99%", "99.999%", "99.9999%"};
  for (int n = 0; n <= nines; ++n) {
    double x = px(std::pow(10.0, n));
    canvas.line(x, top, x, axis.bottom, grid_style);
    canvas.text(x, axis.bottom + 18, level_labels[n], tick_text);
  }
  canvas.line(px(2), top, px(2), axis.bottom, grid_style);
  canvas.text(px(2), axis.bottom + 18, "50%", tick_text);
  std::vector<std::pair<double, double>> curve;
  for (const PercentileRow& row : rows) {
    double inverse = row.level < 100.0 ? 1 / (1 - row.level / 100) : INFINITY;
    curve.emplace_back(px(inverse), axis.y(row.value));
  }
  canvas.polyline(curve, p50_style);
  canvas.text(left + plot_width / 2, axis.bottom + 40, "percentile (log scale of 1/(1-p))",
              tick_text);
  if (over_time) draw_over_time(&canvas, top + panel_space);
  out->put("</svg>\n");
}

void SvgWriter::draw_over_time(Canvas* canvas, double panel_top) const {
  // p50, p99 and max per row, against receive time.
  double plot_width = width - left - right;
  std::vector<int64_t> values;
  for (const Row& row : rows_) values.insert(values.end(), {row.p50, row.p99, row.max});
  LogAxis axis(values, panel_top + panel_height);
  axis.draw(canvas, unit_);
  const Unit seconds_unit{"s", 1000000000, 9};
  double span = static_cast<double>(rows_.back().start - rows_.front().start) +
                static_cast<double>(row_length_);
  auto tx = [&](double ns) { return left + plot_width * ns / span; };
  double step = nice_step(span);
  for (int i = 0; i * step <= span + step / 1000; ++i) {
    double t = i * step;
    canvas->line(tx(t), panel_top, tx(t), axis.bottom, grid_style);
    canvas->text(tx(t), axis.bottom + 18, label(t, seconds_unit), tick_text);
  }
  // The maximum is dashed and drawn last, so that it shows where it is the p99.
  struct Series {
    int64_t Row::*field;
    const char* style;
    const char* name;
  };
  const Series series[] = {
      {&Row::p50, p50_style, "p50"},
      {&Row::p99, "stroke=\"#e69f00\" stroke-width=\"1.5\"", "p99"},
      {&Row::max, "stroke=\"#c0392b\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\"", "max"}};
  double legend_x = left + 10;
  for (const Series& s : series) {
    std::vector<std::pair<double, double>> points;
    for (const Row& row : rows_) {
      double middle = static_cast<double>(row.start - rows_.front().start) +
                      static_cast<double>(row_length_) / 2;
      points.emplace_back(tx(middle), axis.y(row.*s.field));
    }
    canvas->polyline(points, s.style);
    canvas->line(legend_x, panel_top - 12, legend_x + 25, panel_top - 12, s.style);
    canvas->text(legend_x + 30, panel_top - 8, s.name, "font-size=\"12\"");
    legend_x += 70;
  }
  auto start_seconds = static_cast<time_t>(rows_.front().start / seconds_unit.ns);
  tm utc{};
  gmtime_r(&start_seconds, &utc);
  char when[64];
  strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
  canvas->text(left + plot_width / 2, axis.bottom + 40,
               std::string("receive time (s since ") + when + "), a point per " +
                   label(static_cast<double>(row_length_), seconds_unit) + " s",
               tick_text);
}
