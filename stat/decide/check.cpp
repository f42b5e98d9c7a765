#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string_view>
#include <utility>

#include "checks.h"
#include "decimal.h"

namespace caplat::stat {

namespace {

constexpr std::string_view interval_prefix = "interval.";
constexpr std::string_view baseline_suffix = "*baseline";

// The latencies of a histogram: its percentile, least and largest.
bool percentile_of(const Histogram& h, double p, int64_t* v) {
  *v = h.percentile(p);
  return h.total_count() != 0;
}
bool min_of(const Histogram& h, double, int64_t* v) {
  *v = h.min();
  return h.total_count() != 0;
}
bool max_of(const Histogram& h, double, int64_t* v) {
  *v = h.max();
  return h.total_count() != 0;
}

// A latency of the whole run, read from its histogram as the summary does.
template <bool (*of)(const Histogram&, double, int64_t*)>
bool run_latency(const Subject& run, double p, const Confidence&, Figure* f) {
  return of(run.histogram, p, &f->value);
}
// A latency of one interval, from the interval's histogram.
template <bool (*of)(const Histogram&, double, int64_t*)>
bool interval_latency(const Interval& closed, double p, int64_t* v) {
  return of(closed.histogram, p, v);
}
// A count of the whole run, which always exists.
template <int64_t Figures::*field>
bool run_count(const Subject& run, double, const Confidence&, Figure* f) {
  f->value = run.figures.*field;
  return true;
}
// A count of one interval.
template <int64_t Counts::*field>
bool interval_count(const Interval& closed, double, int64_t* v) {
  *v = closed.*field;
  return true;
}

// Every figure a check can name, once.
const CheckFigure check_figures[] = {
    {"p", true, false, true,
     [](const Subject& run, double p, const Confidence& confidence, Figure* f) {
       f->bounds = confidence.percentile(run.histogram, p);
       return percentile_of(run.histogram, p, &f->value);
     },
     interval_latency<percentile_of>},
    {"min", true, false, false, run_latency<min_of>, interval_latency<min_of>},
    {"mean", true, false, true,
     [](const Subject& run, double, const Confidence&, Figure* f) {
       *f = run.figures.mean;
       return run.figures.in_range != 0;
     },
     nullptr},
    {"max", true, false, false, run_latency<max_of>, interval_latency<max_of>},
    {"count", false, false, false, run_count<&Figures::count>, interval_count<&Interval::count>},
    {"negative", false, true, false, run_count<&Figures::negative>,
     interval_count<&Interval::negative>},
    {"stale", false, true, false, run_count<&Figures::stale>, interval_count<&Interval::stale>},
    {"over_hour", false, true, false, run_count<&Figures::over_hour>, nullptr},
    {"skipped", false, false, false, run_count<&Figures::skipped>, nullptr},
};

// Two-character operators first, so that "<=" is not read as "<".
const std::pair<std::string_view, Check::Op> op_names[] = {
    {"<=", Check::AtMost},   {">=", Check::AtLeast}, {"==", Check::Equal},
    {"!=", Check::NotEqual}, {"<", Check::Less},     {">", Check::Greater}};

// A latency such as "50ms", "-2ms" or "0" into ns; what is wrong, or empty.
std::string parse_latency(std::string_view text, int64_t* ns) {
  bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  DurationFault fault = read_duration(text, ns);
  if (fault != DurationFault::None) return duration_fault_text(fault);
  if (negative) *ns = -*ns;
  return "";
}

// A count, digits alone, into an int64_t exactly; what is wrong, or empty.
std::string parse_count(std::string_view text, int64_t* count) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
    return "expected a count";
  int64_t v = 0;
  for (char digit : text) {
    // cppcheck-suppress useStlAlgorithm
    if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, digit - '0', &v))
      return "count out of range";
  }
  *count = v;
  return "";
}

std::string figure_names() {
  std::string names = "pN";
  for (const CheckFigure& f : check_figures) {
    if (f.name != "p") names.append(", ").append(f.name);
  }
  return names;
}

}  // namespace

std::string Check::figure_name() const {
  return std::string(figure->name) + percentile_text;
}

std::string parse_check(const char* text, Check* c) {
  c->text = text;
  std::string_view s = text;
  if (s.find_first_of(" \t\n") != std::string_view::npos)
    return "no spaces in a check, as in p99<=50ms";
  c->per_interval = s.starts_with(interval_prefix);
  if (c->per_interval) s.remove_prefix(interval_prefix.size());
  size_t end = s.find_first_of("<>=!:");
  if (end == std::string_view::npos) return "expected a comparison, as in p99<=50ms";
  std::string_view name = s.substr(0, end);
  s.remove_prefix(end);
  auto figure = std::find_if(std::begin(check_figures), std::end(check_figures),
                             [&](const CheckFigure& f) { return f.name == name; });
  if (figure == std::end(check_figures) && name.starts_with('p') &&
      parse_decimal(name.substr(1), &c->percentile) && c->percentile <= 100) {
    figure = std::begin(check_figures);
    c->percentile_text = name.substr(1);
  }
  if (figure == std::end(check_figures) || (figure->name == "p" && c->percentile_text.empty()))
    return std::string("unknown figure; figures are ") + figure_names();
  c->figure = &*figure;
  if (s == ":not-higher" || s == ":not-lower") {
    if (!c->figure->judged) return "only the mean and percentiles have verdicts";
    if (c->per_interval) return "verdicts are of the whole run";
    c->op = s == ":not-higher" ? Check::NotHigher : Check::NotLower;
    c->bound = Check::Baseline;
    return "";
  }
  auto op = std::find_if(std::begin(op_names), std::end(op_names),
                         [&](const auto& o) { return s.starts_with(o.first); });
  if (op == std::end(op_names)) return "unknown comparison";
  c->op = op->second;
  s.remove_prefix(op->first.size());
  if (c->per_interval && c->figure->of_interval == nullptr) return "not known per interval";
  if (s.ends_with(baseline_suffix)) {
    if (c->per_interval) return "intervals have no baseline";
    c->bound = Check::Baseline;
    return parse_decimal(s.substr(0, s.size() - baseline_suffix.size()), &c->factor)
               ? ""
               : "expected a factor, as in 1.05*baseline";
  }
  if (c->figure->latency) return parse_latency(s, &c->value);
  if (s.ends_with('%')) {
    if (!c->figure->shares) return "a share of what?";
    c->bound = Check::Share;
    return parse_decimal(s.substr(0, s.size() - 1), &c->percent) ? "" : "expected a percentage";
  }
  return parse_count(s, &c->value);
}

}  // namespace caplat::stat
