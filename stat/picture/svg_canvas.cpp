#include "svg_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace caplat::stat {

namespace {

// Labels a log axis needs at least, and the multiples of each power of ten
// that give more.
constexpr int min_labels = 4;
constexpr double multiples[] = {1.0, 2.0, 5.0};

std::string escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string svg_number(double v) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", v);
  return text;
}

std::string svg_label(double ns, const Unit& unit) {
  char text[64];
  snprintf(text, sizeof text, "%.9f", ns / static_cast<double>(unit.ns));
  std::string s = text;
  s.erase(s.find_last_not_of('0') + 1);
  if (s.back() == '.') s.pop_back();
  return s;
}

double nice_step(double span, double parts) {
  double raw = span / parts;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double steps[] = {1.0, 2.0, 5.0, 10.0};
  return power * *std::find_if(std::begin(steps), std::end(steps) - 1,
                               [&](double m) { return raw <= m * power; });
}

void Canvas::line(double x1, double y1, double x2, double y2, const char* style) {
  out_->put("<line x1=\"" + svg_number(x1) + "\" y1=\"" + svg_number(y1) + "\" x2=\"" +
            svg_number(x2) + "\" y2=\"" + svg_number(y2) + "\" " + style + "/>\n");
}

void Canvas::text(double x, double y, const std::string& s, const std::string& attributes) {
  out_->put("<text x=\"" + svg_number(x) + "\" y=\"" + svg_number(y) + "\" " + attributes + ">" +
            escaped(s) + "</text>\n");
}

void Canvas::dot(double x, double y, double r, const char* style) {
  out_->put("<circle cx=\"" + svg_number(x) + "\" cy=\"" + svg_number(y) + "\" r=\"" +
            svg_number(r) + "\" " + style + "/>\n");
}

void Canvas::polyline(const std::vector<std::pair<double, double>>& points, const char* style,
                      double r) {
  std::string run, dots;
  auto flush = [&] {
    if (!run.empty())
      out_->put("<polyline fill=\"none\" " + std::string(style) + " points=\"" + run + "\"/>\n");
    run.clear();
  };
  for (const auto& [x, y] : points) {
    if (std::isnan(y)) {
      flush();
      continue;
    }
    run += svg_number(x) + "," + svg_number(y) + " ";
    // One path of zero-length segments with round caps draws every dot.
    dots.append("M").append(svg_number(x)).append(" ").append(svg_number(y)).append("h0");
  }
  flush();
  if (r > 0 && !dots.empty()) {
    std::string caps = std::string(style) + " stroke-linecap=\"round\"";
    out_->put("<path fill=\"none\" " + caps + " style=\"stroke-width:" + svg_number(2 * r) +
              "\" d=\"" + dots + "\"/>\n");
  }
}

void Canvas::path(const std::string& d, const char* style) {
  out_->put("<path " + std::string(style) + " d=\"" + d + "\"/>\n");
}

PercentileAxis::PercentileAxis(int nines, double left, double right)
    : nines_(nines), left_(left), right_(right) {}

double PercentileAxis::x(double inverse) const {
  double end = std::pow(10.0, nines_);
  return left_ + (right_ - left_) * std::log10(std::clamp(inverse, 1.0, end)) / nines_;
}

void PercentileAxis::draw(Canvas* canvas, double top, double bottom) const {
  static const char* const labels[] = {"0%",     "90%",     "99%",     "99.9%",
                                       "99.99%", "99.999%", "99.9999%"};
  constexpr char tick[] = "font-size=\"12\" text-anchor=\"middle\"";
  for (int n = 0; n <= nines_ && n < static_cast<int>(std::size(labels)); ++n) {
    canvas->line(x(std::pow(10.0, n)), top, x(std::pow(10.0, n)), bottom, svg_grid_style);
    canvas->text(x(std::pow(10.0, n)), bottom + 18, labels[n], tick);
  }
  canvas->line(x(2), top, x(2), bottom, svg_grid_style);
  canvas->text(x(2), bottom + 18, "50%", tick);
}

LogAxis::LogAxis(const std::vector<int64_t>& values, double bottom, double height)
    : bottom_(bottom), height_(height) {
  int64_t lowest = INT64_MAX, highest = 1;
  for (int64_t v : values) {
    if (v > 0) {
      lowest = std::min(lowest, v);
      highest = std::max(highest, v);
    }
  }
  if (lowest == INT64_MAX) lowest = 1;
  low_ = std::floor(std::log10(static_cast<double>(lowest)));
  high_ = std::max(std::ceil(std::log10(static_cast<double>(highest))), low_ + 1);
}

double LogAxis::y(int64_t v) const {
  if (v < 0) return std::nan("");
  return at(std::max(std::log10(static_cast<double>(std::max<int64_t>(v, 1))), low_));
}

double LogAxis::at(double decade) const {
  return bottom_ - height_ * (decade - low_) / (high_ - low_);
}

void LogAxis::draw(Canvas* canvas, const Unit& unit, double left, double right) const {
  int decades = static_cast<int>(high_ - low_);
  bool fine = decades + 1 < min_labels;
  for (int i = 0; i <= decades; ++i) {
    for (double m : multiples) {
      if ((m != 1.0 && !fine) || (i == decades && m != 1.0)) continue;
      double d = low_ + i + std::log10(m);
      canvas->line(left, at(d), right, at(d), svg_grid_style);
      canvas->text(left - 6, at(d) + 4, svg_label(std::pow(10.0, d), unit),
                   "font-size=\"12\" text-anchor=\"end\"");
    }
  }
  canvas->line(left, bottom_, right, bottom_, svg_axis_style);
  canvas->line(left, bottom_ - height_, left, bottom_, svg_axis_style);
  double middle = bottom_ - height_ / 2;
  canvas->text(20, middle, std::string("latency (") + unit.name + ", log scale)",
               "font-size=\"12\" text-anchor=\"middle\" transform=\"rotate(-90 20 " +
                   svg_number(middle) + ")\"");
}

}  // namespace caplat::stat
