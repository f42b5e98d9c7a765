#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>
#include <utility>

#include "checks.h"

namespace caplat::stat {

namespace {

constexpr std::string_view interval_prefix = "interval.";
constexpr std::string_view baseline_suffix = "*baseline";

const std::pair<std::string_view, Check::Metric> metric_names[] = {{"min", Check::Min},
                                                                   {"mean", Check::Mean},
                                                                   {"max", Check::Max},
                                                                   {"count", Check::Count},
                                                                   {"negative", Check::Negative},
                                                                   {"stale", Check::Stale},
                                                                   {"over_hour", Check::OverHour},
                                                                   {"skipped", Check::Skipped}};

// Two-character operators first, so that "<=" is not read as "<".
const std::pair<std::string_view, Check::Op> op_names[] = {
    {"<=", Check::AtMost},   {">=", Check::AtLeast}, {"==", Check::Equal},
    {"!=", Check::NotEqual}, {"<", Check::Less},     {">", Check::Greater}};

// A plain decimal number, digits with at most one point, into v.
bool parse_number(std::string_view text, double* v) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos ||
      text.find('.') != text.rfind('.') || text == ".")
    return false;
  *v = strtod(std::string(text).c_str(), nullptr);
  return true;
}

// A latency such as "50ms", "-2ms" or "0s" into ns.
bool parse_latency(std::string_view text, int64_t* ns) {
  bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  size_t digits = std::min(text.find_first_not_of("0123456789."), text.size());
  std::string_view number = text.substr(0, digits);
  // Zero, which durations are not, in any unit a duration takes.
  if (number.find('0') != std::string_view::npos &&
      number.find_first_not_of("0.") == std::string_view::npos) {
    if (!parse_duration(std::string("1").append(text.substr(digits)).c_str(), ns)) return false;
    *ns = 0;
    return true;
  }
  if (!parse_duration(std::string(text).c_str(), ns)) return false;
  if (negative) *ns = -*ns;
  return true;
}

}  // namespace

const char* parse_check(const char* text, Check* c) {
  c->text = text;
  std::string_view s = text;
  c->per_interval = s.starts_with(interval_prefix);
  if (c->per_interval) s.remove_prefix(interval_prefix.size());
  size_t end = s.find_first_of("<>=!:");
  if (end == std::string_view::npos) return "expected a comparison, as in p99<=50ms";
  std::string_view name = s.substr(0, end);
  s.remove_prefix(end);
  auto metric = std::find_if(std::begin(metric_names), std::end(metric_names),
                             [&](const auto& m) { return m.first == name; });
  if (metric != std::end(metric_names)) {
    c->metric = metric->second;
  } else if (name.starts_with('p') && parse_number(name.substr(1), &c->percentile) &&
             c->percentile <= 100) {
    c->metric = Check::Percentile;
    c->percentile_text = name.substr(1);
  } else {
    return "unknown figure";
  }
  if (s == ":not-higher" || s == ":not-lower") {
    if (c->metric != Check::Percentile && c->metric != Check::Mean)
      return "only the mean and percentiles have verdicts";
    if (c->per_interval) return "verdicts are of the whole run";
    c->op = s == ":not-higher" ? Check::NotHigher : Check::NotLower;
    c->bound = Check::Baseline;
    return nullptr;
  }
  auto op = std::find_if(std::begin(op_names), std::end(op_names),
                         [&](const auto& o) { return s.starts_with(o.first); });
  if (op == std::end(op_names)) return "unknown comparison";
  c->op = op->second;
  s.remove_prefix(op->first.size());
  if (c->per_interval &&
      (c->metric == Check::Mean || c->metric == Check::OverHour || c->metric == Check::Skipped))
    return "not known per interval";
  if (s.ends_with(baseline_suffix)) {
    if (c->per_interval) return "intervals have no baseline";
    c->bound = Check::Baseline;
    return parse_number(s.substr(0, s.size() - baseline_suffix.size()), &c->factor)
               ? nullptr
               : "expected a factor, as in 1.05*baseline";
  }
  if (c->latency())
    return parse_latency(s, &c->value) ? nullptr : "expected a duration, as in 50ms";
  if (s.ends_with('%')) {
    if (c->metric == Check::Count || c->metric == Check::Skipped) return "a share of what?";
    c->bound = Check::Share;
    return parse_number(s.substr(0, s.size() - 1), &c->factor) ? nullptr : "expected a percentage";
  }
  double count;
  if (!parse_number(s, &count) || s.find('.') != std::string_view::npos) return "expected a count";
  c->value = static_cast<int64_t>(count);
  return nullptr;
}

}  // namespace caplat::stat
