#include <cstdio>
#include <string>

#include "checks.h"

namespace caplat::stat {

namespace {

bool holds(long double lhs, Check::Op op, long double rhs) {
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

// The figure a check reads from subject, and whether it exists: latencies
// only where there are some from 0 to 1 hour.
bool figure_of(const Check& c, const Subject& subject, const Confidence& confidence,
               Figure* figure) {
  const Figures& f = subject.figures;
  *figure = Figure();
  switch (c.metric) {
    case Check::Percentile:
      figure->ns = subject.histogram.percentile(c.percentile);
      figure->bounds = confidence.percentile(subject.histogram, c.percentile);
      break;
    case Check::Min:
      figure->ns = f.min;
      break;
    case Check::Mean:
      *figure = f.mean;
      break;
    case Check::Max:
      figure->ns = f.max;
      break;
    case Check::Count:
      figure->ns = f.count;
      return true;
    case Check::Negative:
      figure->ns = f.negative;
      return true;
    case Check::Stale:
      figure->ns = f.stale;
      return true;
    case Check::OverHour:
      figure->ns = f.over_hour;
      return true;
    case Check::Skipped:
      figure->ns = f.skipped;
      return true;
  }
  return f.in_range != 0;
}

// The name a check's figure is reported under.
std::string name_of(const Check& c) {
  static const char* const names[] = {"",         "min",   "mean",      "max",    "count",
                                      "negative", "stale", "over_hour", "skipped"};
  return c.metric == Check::Percentile ? std::string("p") + c.percentile_text : names[c.metric];
}

}  // namespace

Checker::Checker(const std::vector<Check>& checks, const Unit& unit, const Confidence& confidence)
    : checks_(checks), unit_(unit), confidence_(confidence), tallies_(checks.size()) {}

void Checker::interval(const Interval& closed) {
  const Histogram& h = closed.histogram;
  for (size_t i = 0; i < checks_.size(); ++i) {
    const Check& c = checks_[i];
    if (!c.per_interval) continue;
    int64_t v = 0;
    bool exists = true;
    switch (c.metric) {
      case Check::Percentile:
        exists = h.total_count() != 0;
        v = exists ? h.percentile(c.percentile) : 0;
        break;
      case Check::Min:
        exists = h.total_count() != 0;
        v = h.min();
        break;
      case Check::Max:
        exists = closed.count != 0;
        v = closed.max;
        break;
      case Check::Negative:
        v = closed.negative;
        break;
      case Check::Stale:
        v = closed.stale;
        break;
      default:
        v = closed.count;
    }
    // An interval without such a latency breaks no bound on it.
    if (!exists) continue;
    Tally& t = tallies_[i];
    ++t.seen;
    long double lhs = c.bound == Check::Share
                          ? (closed.count != 0 ? 100.0L * v / closed.count : 0.0L)
                          : static_cast<long double>(v);
    long double rhs = c.bound == Check::Share ? c.factor : static_cast<long double>(c.value);
    if (holds(lhs, c.op, rhs)) continue;
    if (t.failed++ == 0) {
      t.first_start = closed.start;
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
  if (t.failed == 0) {
    text += std::string("passed in ") + std::to_string(t.seen) + " intervals";
  } else {
    std::string value =
        c.latency() ? fixed_text(t.first_value, unit_.decimals) + std::string(" ") + unit_.name
                    : std::to_string(t.first_value);
    text += std::string("failed in ") + std::to_string(t.failed) + std::string(" of ") +
            std::to_string(t.seen) + std::string(" intervals, first at ") +
            fixed_text(t.first_start, 9) + std::string(" s: ") + name_of(c) + " = " + value;
  }
  fprintf(stderr, "%s\n", text.c_str());
  return t.failed == 0;
}

bool Checker::report_run(const Check& c, const Subject& run, const Subject* baseline) const {
  Figure figure, base;
  bool exists = figure_of(c, run, confidence_, &figure);
  bool base_exists = baseline != nullptr && figure_of(c, *baseline, confidence_, &base);
  auto describe = [&](const Figure& f) {
    if (!c.latency()) return std::to_string(f.ns);
    std::string text = fixed_text(f.ns, unit_.decimals) + std::string(" ") + unit_.name;
    if (f.bounds.known) {
      text += std::string(" [") + fixed_text(f.bounds.low, unit_.decimals) + ", " +
              fixed_text(f.bounds.high, unit_.decimals) + "]";
    }
    return text;
  };
  bool passed = false;
  std::string found = name_of(c) + std::string(" = ") + describe(figure);
  if (!exists) {
    found = "no latency from 0 to 1 h";
  } else if (c.bound == Check::Baseline && !base_exists) {
    found += ", and the baseline has none";
  } else if (c.op == Check::NotHigher || c.op == Check::NotLower) {
    Verdict v = verdict_of(base, figure);
    passed = v != (c.op == Check::NotHigher ? Verdict::Higher : Verdict::Lower);
    found += std::string(" against ") + describe(base) + std::string(": ") + verdict_name(v);
  } else if (c.bound == Check::Baseline) {
    long double bound = c.factor * static_cast<long double>(base.ns);
    passed = holds(figure.ns, c.op, bound);
    found += std::string(" against the baseline's ") + describe(base);
  } else if (c.bound == Check::Share) {
    int64_t count = run.figures.count;
    long double share = count != 0 ? 100.0L * figure.ns / count : 0.0L;
    passed = holds(share, c.op, c.factor);
    found += " (" +
             fixed_text(count != 0 ? rounded_quotient(int128{figure.ns} * 1000000, count) : 0, 4) +
             " %)";
  } else {
    passed = holds(figure.ns, c.op, c.value);
  }
  fprintf(stderr, "caplat-stat: check %s: %s, %s\n", c.text.c_str(), passed ? "passed" : "failed",
          found.c_str());
  return passed;
}

}  // namespace caplat::stat
