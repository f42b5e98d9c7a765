#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "units.h"

namespace caplat::stat {

// The layout and styles of the picture, which its panels share.
namespace svg_layout {

// The picture's size and the panels' margins, in pixels.
inline constexpr double width = 900;
inline constexpr double panel_height = 300;
inline constexpr double counts_height = 80;
inline constexpr double change_height = 200;
inline constexpr double left = 90;
inline constexpr double right = width - 30;
inline constexpr double plot_width = right - left;
inline constexpr double top = 70;
inline constexpr double gap = 80;
inline constexpr double bottom_margin = 50;

// Nines of the percentile axis, at most: 99.9999 %.
inline constexpr int max_nines = 6;
// Characters of input names in the title, at most.
inline constexpr size_t max_title_names = 60;


inline constexpr char tick_text[] = "font-size=\"12\" text-anchor=\"middle\"";
inline constexpr char p50_style[] = "stroke=\"#1f5fbf\" stroke-width=\"1.5\"";
inline constexpr char p99_style[] = "stroke=\"#e69f00\" stroke-width=\"1.5\"";
// The maximum, drawn where it lies above p99.
inline constexpr char max_style[] = "stroke=\"#c0392b\" stroke-width=\"1\" stroke-opacity=\"0.7\"";
// The baseline's percentile curve, beneath this run's.
inline constexpr char baseline_style[] =
    "stroke=\"#888\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"";
inline constexpr char count_style[] = "fill=\"#7f8c8d\"";
// The floor of an input's clocks, and a step of it.
inline constexpr char floor_style[] = "stroke=\"#2e7d32\" stroke-width=\"1.5\" stroke-dasharray=\"6 3\"";
inline constexpr char step_style[] = "stroke=\"#6a1b9a\" stroke-width=\"1\" stroke-dasharray=\"2 2\"";
// The change against the baseline: its confidence band, and the zero line.
inline constexpr char change_band_style[] = "fill=\"#1f5fbf\" fill-opacity=\"0.18\"";
inline constexpr char beyond_style[] = "fill=\"#1f5fbf\"";
inline constexpr char zero_style[] = "stroke=\"#333\" stroke-width=\"1\" stroke-dasharray=\"4 3\"";

// The names of inputs, as many as fit in the title.
inline std::string names(const std::vector<std::string>& inputs) {
  std::string text;
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::string next = (i == 0 ? "" : ", ") + inputs[i];
    if (i != 0 && text.size() + next.size() > max_title_names)
      return text + std::string(" and ") + std::to_string(inputs.size() - i) + " more";
    text += next;
  }
  return text;
}

}  // namespace svg_layout

}  // namespace caplat::stat
