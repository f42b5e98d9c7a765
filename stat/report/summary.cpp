#include "summary.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace caplat::stat {

namespace {

// Decimals of the shares, in percent, and of the changes against a baseline.
constexpr int share_decimals = 4;
constexpr int change_decimals = 2;
// Labels are padded to one column, so that the values line up.
constexpr size_t label_column = 15;

std::string integer(int64_t v) {
  return fixed_text(v, 0);
}

// v / whole in percent, with decimals.
std::string share(int64_t v, int64_t whole, int decimals) {
  int64_t scale = 100;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  int128 n = static_cast<int128>(v < 0 ? -v : v) * scale;
  int64_t magnitude = whole != 0 ? rounded_quotient(n, whole < 0 ? -whole : whole) : 0;
  return fixed_text((v < 0) != (whole < 0) ? -magnitude : magnitude, decimals);
}

std::string value(int64_t ns, const Unit& unit) {
  return fixed_text(ns, unit.decimals) + std::string(" ") + unit.name;
}

std::string count_share(int64_t n, int64_t count) {
  return integer(n) + std::string(" (") + share(n, count, share_decimals) + " %)";
}

void put_line(const std::string& label, const std::string& text, CheckedWriter* out) {
  out->put(label);
  for (size_t i = label.size(); i < label_column || i == label.size(); ++i) out->put(' ');
  out->put(text);
  out->put('\n');
}

std::string with_interval(const Figure& f, const Unit& unit) {
  std::string text = value(f.value, unit);
  std::string bounds = bounds_text(f.bounds, unit);
  return bounds.empty() ? text : text + std::string("  ") + bounds;
}

// A drift in ppm, to the ten-thousandth, with its sign unless it is 0.
std::string ppm(double drift) {
  auto v = static_cast<int64_t>(std::llround(drift * 1e4));
  std::string text = fixed_text(v, 4);
  return v > 0 ? "+" + text : text;
}

// The lines of the clocks of each input, the baseline's named as such: the
// drift with its bound and the floor at the first and last receive time, or
// why they are unknown; then a line for each step, or why they are unknown.
void put_clocks(const std::vector<InputClock>& clocks, const char* side, const Unit& unit,
                CheckedWriter* out) {
  for (const InputClock& c : clocks) {
    std::string name = side + c.input;
    if (!c.estimate) {
      put_line("clock", name + ": unknown, " + c.unknown, out);
      continue;
    }
    const ClockEstimate& e = *c.estimate;
    if (e.drift_ppm) {
      put_line("clock", name + ": drift " + ppm(*e.drift_ppm) + " ppm (+- " +
                            fixed_text(static_cast<int64_t>(std::llround(*e.drift_bound_ppm * 1e4)), 4) +
                            "), floor " + value(*e.floor_first_ns, unit) + " to " +
                            value(*e.floor_last_ns, unit),
               out);
    } else {
      put_line("clock", name + ": drift unknown, " + e.drift_unknown, out);
    }
    if (!e.steps) {
      if (e.drift_ppm) put_line("steps", name + ": unknown, " + e.steps_unknown, out);
      continue;
    }
    for (const ClockStep& step : *e.steps) {
      std::string size = value(step.size_ns, unit);
      put_line("step", name + " at " + fixed_text(step.at_ns, 9) + " s: " +
                           (step.size_ns >= 0 ? "+" + size : size),
               out);
    }
  }
}

// The lines that say how the latencies were read and what their clocks
// showed, after the summary of figures.
void put_clock_lines(const Figures& f, const char* side, const Unit& unit, CheckedWriter* out) {
  if (f.deskewed) {
    put_line("deskewed", std::string(side) + "drift and steps removed, floor kept at the start",
             out);
  }
  if (f.clocks_shown) put_clocks(f.clocks, side, unit, out);
}

}  // namespace

void write_summary(const Figures& f, const Unit& unit, CheckedWriter* out) {
  put_line("count", integer(f.count), out);
  if (f.have_span) {
    std::string span = fixed_text(static_cast<int64_t>(f.span_ns), 9) + " s";
    if (f.have_rate) span += std::string(", ") + fixed_text(f.rate_tenths, 1) + " messages/s";
    put_line("span", span, out);
  }
  put_line(f.range.label(), count_share(f.in_range, f.count), out);
  if (f.in_range != 0) {
    put_line("min", value(f.min, unit), out);
    put_line("mean", with_interval(f.mean, unit), out);
    put_line("stddev", value((f.deviation_milli + 500) / 1000, unit), out);
    put_line("max", value(f.max, unit), out);
    for (size_t i = 0; i < f.percentiles.size(); ++i)
      put_line(std::string("p") + f.names[i].text, with_interval(f.percentiles[i], unit), out);
  }
  std::string negative = count_share(f.negative, f.count);
  if (f.negative != 0) negative += std::string(", most negative ") + value(f.most_negative, unit);
  put_line("negative", negative, out);
  put_line("10 s or more", count_share(f.stale, f.count), out);
  std::string over = count_share(f.over_hour, f.count);
  if (f.over_hour != 0) over += std::string(", largest ") + value(f.max_over_hour, unit);
  put_line("over 1 h", over, out);
  put_line("skipped lines", integer(f.skipped), out);
  put_clock_lines(f, "", unit, out);
}

void write_comparison(const Figures& base, const Figures& run, const Unit& unit,
                      CheckedWriter* out) {
  using Row = std::array<std::string, 5>;
  std::vector<Row> rows = {{"", "baseline", "this run", "change", "verdict"}};
  auto change = [&](int64_t from, int64_t to, bool latency) {
    std::string sign = to >= from ? "+" : "";
    std::string text = sign + (latency ? value(to - from, unit) : integer(to - from));
    if (from != 0)
      text += std::string(" (") + sign + share(to - from, from, change_decimals) + " %)";
    return text;
  };
  auto counts = [&](const std::string& label, int64_t from, int64_t to) {
    rows.push_back({label, integer(from), integer(to), change(from, to, false), ""});
  };
  auto latency = [&](const std::string& label, const Figure& from, const Figure& to, bool judged) {
    rows.push_back({label, value(from.value, unit), value(to.value, unit), change(from.value, to.value, true),
                    judged ? verdict_name(verdict_of(from, to)) : ""});
  };
  counts("count", base.count, run.count);
  counts(run.range.label(), base.in_range, run.in_range);
  if (base.in_range != 0 && run.in_range != 0) {
    latency("min", {base.min, {}}, {run.min, {}}, false);
    latency("mean", base.mean, run.mean, true);
    latency("max", {base.max, {}}, {run.max, {}}, false);
    for (size_t i = 0; i < run.percentiles.size(); ++i)
      latency(std::string("p") + run.names[i].text, base.percentiles[i], run.percentiles[i], true);
  }
  counts("negative", base.negative, run.negative);
  counts("10 s or more", base.stale, run.stale);
  counts("over 1 h", base.over_hour, run.over_hour);
  counts("skipped lines", base.skipped, run.skipped);
  std::array<size_t, 5> widths = {label_column, 0, 0, 0, 0};
  for (const Row& row : rows) {
    widths[0] = std::max(widths[0], row[0].size() + 1);
    for (size_t c = 1; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size() + 2);
  }
  for (const Row& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line.append(widths[c] - row[c].size(), ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out->put(line);
    out->put('\n');
  }
  put_clock_lines(run, "", unit, out);
  put_clock_lines(base, "baseline ", unit, out);
}

}  // namespace caplat::stat
