#include "exposition.h"

#include <algorithm>
#include <charconv>
#include <iterator>

#include "units.h"

namespace caplat::stat {

namespace {

__extension__ typedef unsigned __int128 uint128;


// ns as seconds in decimal, exactly, without trailing zeros: "0.00001",
// "2.5", "3600".
std::string seconds(uint128 ns) {
  auto whole = static_cast<uint64_t>(ns / ns_per_s);
  auto fraction = static_cast<uint64_t>(ns % ns_per_s);
  std::string text = std::to_string(whole);
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 9 - digits.size(), '0');
    digits.erase(digits.find_last_not_of('0') + 1);
    text += "." + digits;
  }
  return text;
}

// A bucket's bound of ns as its le label, written as Prometheus's own clients
// and node_exporter write it (Go's shortest form of the number of seconds,
// with an exponent below 1e-4: "1e-05", "0.0001", "3600"; bounds of an hour
// at most never reach its exponents of 1e6 and up), so that the buckets of
// every source are the same series.
std::string le(int64_t ns) {
  char digits[32];
  double value = static_cast<double>(ns) / static_cast<double>(ns_per_s);
  char* end =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::scientific).ptr;
  std::string text(digits, end);
  size_t e = text.find('e');
  const char* from = text.data() + e + 1;
  if (*from == '+') ++from;
  int exponent = 0;
  std::from_chars(from, text.data() + text.size(), exponent);
  if (exponent < -4) return text;
  std::string mantissa = text.substr(0, e);
  mantissa.erase(std::remove(mantissa.begin(), mantissa.end(), '.'), mantissa.end());
  if (exponent < 0) return "0." + std::string(static_cast<size_t>(-exponent) - 1, '0') + mantissa;
  size_t point = static_cast<size_t>(exponent) + 1;
  if (mantissa.size() <= point) return mantissa + std::string(point - mantissa.size(), '0');
  return mantissa.substr(0, point) + "." + mantissa.substr(point);
}

// A label's value as the format quotes it.
std::string escaped(const std::string& value) {
  std::string text;
  for (char c : value) {
    switch (c) {
      case '\\':
        text += "\\\\";
        break;
      case '"':
        text += "\\\"";
        break;
      case '\n':
        text += "\\n";
        break;
      default:
        text.push_back(c);
    }
  }
  return text;
}

// Appends the help and type lines of a metric.
void family(std::string* out, const char* name, const char* type, const std::string& help) {
  *out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

Exposition::Exposition(const std::vector<int64_t>& bounds, const std::vector<Label>& labels,
                       bool intervals, const std::string& range)
    : intervals_(intervals), range_(range) {
  for (const Label& label : labels) {
    if (!labels_.empty()) labels_ += ",";
    labels_ += label.name + "=\"" + escaped(label.value) + "\"";
  }
  std::transform(bounds.begin(), bounds.end(), std::back_inserter(le_),
                 [](int64_t bound) { return "le=\"" + le(bound) + "\""; });
  le_.emplace_back("le=\"+Inf\"");
}

void Exposition::series(std::string* out, const char* name, const std::string& extra,
                        const std::string& value) const {
  *out += name;
  if (!labels_.empty() || !extra.empty()) {
    *out += "{" + labels_;
    if (!labels_.empty() && !extra.empty()) *out += ",";
    *out += extra + "}";
  }
  *out += " " + value + "\n";
}

std::string Exposition::text(const MetricsSnapshot& s) const {
  std::string out;
  family(&out, "caplat_latency_seconds", "histogram",
         "Latencies from " + range_ +
             " (receive time minus application time) since the start; negative ones and those "
             "over 1 hour are counted apart. A latency read from the output of caplat counts in "
             "the bucket of the first bound at or above it; one of an interval log, known to the "
             "precision of its histogram, by the lowest value of its range.");
  int64_t cumulative = 0;
  for (size_t i = 0; i < s.buckets.size(); ++i) {
    cumulative += s.buckets[i];
    series(&out, "caplat_latency_seconds_bucket", le_[i], std::to_string(cumulative));
  }
  const std::string sum = seconds(static_cast<uint128>(s.totals.sum));
  series(&out, "caplat_latency_seconds_sum", "", sum);
  series(&out, "caplat_latency_seconds_count", "", std::to_string(cumulative));
  const struct {
    const char* name;
    const char* help;
    int64_t value;
  } counters[] = {
      {"caplat_messages_total", "Latencies read, one per message, whatever their value.",
       s.totals.count},
      {"caplat_negative_latencies_total", "Latencies below zero: clocks that disagree.",
       s.totals.negative},
      {"caplat_stale_latencies_total",
       "Latencies of 10 s or more, stale or replayed data, those over 1 hour included.",
       s.totals.stale},
      {"caplat_over_hour_latencies_total", "Latencies over 1 hour.", s.totals.over_hour},
      {"caplat_skipped_lines_total", "Input lines that could not be read.", s.skipped}};
  for (const auto& counter : counters) {
    family(&out, counter.name, "counter", counter.help);
    series(&out, counter.name, "", std::to_string(counter.value));
  }
  if (s.totals.have_receive) {
    family(&out, "caplat_last_receive_time_seconds", "gauge",
           "The latest receive time read, in seconds since the epoch.");
    series(&out, "caplat_last_receive_time_seconds", "", seconds(s.totals.last_receive));
  }
  if (intervals_ && s.interval_closed) {
    // A summary: quantiles of a recent window, the last interval, beside the
    // sum and count since the start, those of the histogram.
    family(&out, "caplat_interval_latency_seconds", "summary",
           "Quantiles of the latencies from " + range_ +
               " of the last closed interval, to the histogram's precision, for this process "
               "alone: quantiles do not aggregate, sum the buckets of caplat_latency_seconds "
               "instead. Sum and count are those since the start.");
    for (size_t i = 0; i < MetricsSnapshot::quantile_count; ++i) {
      int64_t ns = s.quantiles[i];
      series(&out, "caplat_interval_latency_seconds",
             std::string("quantile=\"") + exported_quantiles[i].label + "\"",
             ns < 0 ? "NaN" : seconds(static_cast<uint128>(ns)));
    }
    series(&out, "caplat_interval_latency_seconds_sum", "", sum);
    series(&out, "caplat_interval_latency_seconds_count", "", std::to_string(cumulative));
  }
  return out;
}

}  // namespace caplat::stat
