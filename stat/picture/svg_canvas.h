#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "checked_writer.h"
#include "units.h"

namespace caplat::stat {

// The styles of axes and of grid lines.
inline constexpr char svg_axis_style[] = "stroke=\"#333\" stroke-width=\"1\"";
inline constexpr char svg_grid_style[] = "stroke=\"#ddd\" stroke-width=\"1\"";

// Writes the elements of a self-contained SVG picture to an output, numbers
// to a tenth of a pixel.
class Canvas {
 public:
  // Writes to out, which must outlive the canvas.
  explicit Canvas(CheckedWriter* out) : out_(out) {}

  // A straight line; style holds its attributes.
  void line(double x1, double y1, double x2, double y2, const char* style);

  // Text at (x, y), escaped for XML; attributes hold its font and anchor.
  void text(double x, double y, const std::string& s, const std::string& attributes);

  // A circle of radius r.
  void dot(double x, double y, double r, const char* style);

  // A line through points, broken where a point is missing (NaN), with a dot
  // of radius r (if not 0) on every point, so that a point alone shows too.
  void polyline(const std::vector<std::pair<double, double>>& points, const char* style, double r);

  // An SVG path of the commands d.
  void path(const std::string& d, const char* style);

 private:
  CheckedWriter* out_;
};

// A number to a tenth, as coordinates are written.
std::string svg_number(double v);

// A latency in ns as a short label in unit, without an exponent or trailing
// zeros.
std::string svg_label(double ns, const Unit& unit);

// A vertical log axis of latencies over whole decades, from a panel's bottom
// up, with ticks at 1, 2 and 5 times each power of ten when the decades are
// too few to give four labels.
class LogAxis {
 public:
  // Covers the positive values among values, and at least one decade, in a
  // panel of height pixels whose bottom is at bottom.
  LogAxis(const std::vector<int64_t>& values, double bottom, double height);

  // The height of v in ns; values below the axis sit on it, a negative one is
  // missing (NaN).
  double y(int64_t v) const;

  // Grid lines from left to right and labels in unit, and the axis title.
  void draw(Canvas* canvas, const Unit& unit, double left, double right) const;

 private:
  double at(double decade) const;

  double low_;
  double high_;
  double bottom_;
  double height_;
};

// A horizontal axis of percentiles, log10(1 / (1 - p)) from 0 to a number of
// nines, on which panels of one picture line up.
class PercentileAxis {
 public:
  // Spans nines nines from left to right.
  PercentileAxis(int nines, double left, double right);

  // The x of the percentile whose 1 / (1 - p) is inverse, at most the axis's end.
  double x(double inverse) const;

  // The nines the axis spans.
  int nines() const { return nines_; }

  // Grid lines from top to bottom and labels under bottom, 50 % among them.
  void draw(Canvas* canvas, double top, double bottom) const;

 private:
  int nines_;
  double left_;
  double right_;
};

// A step of 1, 2 or 5 times a power of ten that cuts span into about parts.
double nice_step(double span, double parts);

}  // namespace caplat::stat
