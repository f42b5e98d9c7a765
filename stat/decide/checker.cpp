#include <cstdio>
#include <string>

#include "checks.h"

namespace caplat::stat {

namespace {

template <typename T, typename U>
bool holds(T lhs, Check::Op op, U rhs) {
  switch (op) {
    case Check::Less:
      return lhs < rhs;
    case Check::AtMost:
      return lhs <= rhs;
    case Check::Greater:
      return lhs > rhs;
    case Check::AtLeast:
      return lhs >= rhs;
    case Check::Equal:
      return lhs == rhs;
    case Check::NotEqual:
      return lhs != rhs;
    case Check::NotHigher:
    case Check::NotLower:
      break;
  }
  return false;
}

// True if v, a figure of a window of count latencies, meets a bound of
// value or share.
bool meets(const Check& c, int64_t v, int64_t count) {
  if (c.bound != Check::Share) return holds(v, c.op, c.value);
  long double share = count != 0 ? 100.0L * v / count : 0.0L;
  return holds(share, c.op, static_cast<long double>(c.percent));
}

}  // namespace

Checker::Checker(const std::vector<Check>& checks, const Unit& unit, const Confidence& confidence,
                 std::string range_label)
    : checks_(checks),
      unit_(unit),
      confidence_(confidence),
      range_label_(std::move(range_label)),
      tallies_(checks.size()) {}

void Checker::interval(const Interval& closed) {
  for (size_t i = 0; i < checks_.size(); ++i) {
    const Check& c = checks_[i];
    if (!c.per_interval) continue;
    int64_t v = 0;
    bool exists = c.figure->of_interval(closed, c.percentile, &v);
    // An interval that received nothing has no latency to check; one whose
    // latencies all lie outside the range fails a check of a latency, as
    // the whole run does.
    if (!exists && closed.count == 0) continue;
    Tally& t = tallies_[i];
    ++t.seen;
    if (exists && meets(c, v, closed.count)) continue;
    if (t.failed++ == 0) {
      t.first_start = closed.start;
      t.first_has_value = exists;
      t.first_value = v;
    }
  }
}

bool Checker::report(const Subject& run, const Subject* baseline) {
  bool all = true;
  for (size_t i = 0; i < checks_.size(); ++i) {
    bool passed = checks_[i].per_interval ? report_interval(checks_[i], tallies_[i])
                                          : report_run(checks_[i], run, baseline);
    all = all && passed;
  }
  return all;
}

bool Checker::report_interval(const Check& c, const Tally& t) const {
  std::string text = std::string("caplat-stat: check ") + c.text + ": ";
  if (t.seen == 0) {
    text += std::string("failed, no interval had a latency from ") + range_label_;
  } else if (t.failed == 0) {
    text += std::string("passed in ") + std::to_string(t.seen) + " intervals";
  } else {
    std::string value =
        !t.first_has_value ? std::string("none from ") + range_label_
        : c.figure->latency
            ? fixed_text(t.first_value, unit_.decimals) + std::string(" ") + unit_.name
            : std::to_string(t.first_value);
    text += std::string("failed in ") + std::to_string(t.failed) + std::string(" of ") +
            std::to_string(t.seen) + std::string(" intervals, first at ") +
            fixed_text(t.first_start, 9) + std::string(" s: ") + c.figure_name() + " = " + value;
  }
  fprintf(stderr, "%s\n", text.c_str());
  return t.seen != 0 && t.failed == 0;
}

bool Checker::report_run(const Check& c, const Subject& run, const Subject* baseline) const {
  Figure figure, base;
  bool exists = c.figure->of_run(run, c.percentile, confidence_, &figure);
  bool base_exists =
      baseline != nullptr && c.figure->of_run(*baseline, c.percentile, confidence_, &base);
  auto describe = [&](const Figure& f) {
    if (!c.figure->latency) return std::to_string(f.value);
    std::string text = fixed_text(f.value, unit_.decimals) + std::string(" ") + unit_.name;
    std::string bounds = bounds_text(f.bounds, unit_);
    return bounds.empty() ? text : text + " " + bounds;
  };
  bool passed = false;
  std::string found = c.figure_name() + std::string(" = ") + describe(figure);
  if (!exists) {
    found = std::string("no latency from ") + range_label_;
  } else if (c.bound == Check::Baseline && !base_exists) {
    found += ", and the baseline has none";
  } else if (c.op == Check::NotHigher || c.op == Check::NotLower) {
    // Where the verdict is unknown, nothing shows that the run moved.
    Verdict v = verdict_of(base, figure);
    passed = v != (c.op == Check::NotHigher ? Verdict::Higher : Verdict::Lower);
    found += std::string(" against ") + describe(base) + std::string(": ") + verdict_name(v);
  } else if (c.bound == Check::Baseline) {
    passed = holds(static_cast<long double>(figure.value), c.op,
                   static_cast<long double>(c.factor) * base.value);
    found += std::string(" against the baseline's ") + describe(base);
  } else {
    int64_t count = run.figures.count;
    passed = meets(c, figure.value, count);
    if (c.bound == Check::Share) {
      found += " (" +
               fixed_text(count != 0 ? rounded_quotient(int128{figure.value} * 1000000, count) : 0,
                          4) +
               " %)";
    }
  }
  fprintf(stderr, "caplat-stat: check %s: %s, %s\n", c.text.c_str(), passed ? "passed" : "failed",
          found.c_str());
  return passed;
}

}  // namespace caplat::stat
