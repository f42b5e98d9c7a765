#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>

namespace caplat::stat {

namespace {

// Decimals of the shares, in percent.
constexpr int share_decimals = 4;

// n / d rounded half up, for n >= 0 and d > 0.
int64_t rounded_quotient(int128 n, int128 d) {
  return static_cast<int64_t>((2 * n + d) / (2 * d));
}

// The mean in ns times scale, rounded, from the exact sum.
int64_t scaled_mean(const Totals& totals, int64_t in_range, int64_t scale) {
  return rounded_quotient(totals.sum * scale, in_range);
}

// The standard deviation in ns over the n latencies from 0 to 1 hour. With the
// sum s = q n + r (0 <= r < n), the sum of squared deviations, sum_squares -
// s^2 / n, is sum_squares - q s - q r - r^2 / n: exact in 128 bits but for the
// last term, which is below n.
long double deviation(const Totals& totals, int64_t n) {
  int128 q = totals.sum / n;
  int128 r = totals.sum % n;
  int128 whole = totals.sum_squares - q * totals.sum - q * r;
  long double squares = static_cast<long double>(whole) - static_cast<long double>(r) *
                                                              static_cast<long double>(r) /
                                                              static_cast<long double>(n);
  return std::sqrt(std::max(squares, 0.0L) / static_cast<long double>(n));
}

// Tenths of messages per second: the messages that came with receive times
// over the span of those times; false if the span is empty.
bool rate_tenths(const Totals& totals, int64_t* tenths) {
  uint64_t span = totals.last_receive - totals.first_receive;
  if (!totals.have_receive || span == 0) return false;
  *tenths = rounded_quotient(static_cast<int128>(totals.timed) * 10000000000, span);
  return true;
}

// Writes the members of one JSON object in order, with keys that need no
// escaping.
class JsonObject {
 public:
  explicit JsonObject(CheckedWriter* out) : out_(out) { out_->put('{'); }

  // Starts the member name.
  void key(const char* name) {
    out_->put(first_ ? "\"" : ",\"");
    first_ = false;
    out_->put(name);
    out_->put("\":");
  }

  // The member name, the number v / 10^decimals, or null without v.
  void fixed(const char* name, std::optional<int64_t> v, int decimals = 0) {
    key(name);
    if (v) {
      out_->put_fixed(*v, decimals);
    } else {
      out_->put("null");
    }
  }

  // Ends the object.
  void end() { out_->put('}'); }

 private:
  CheckedWriter* out_;
  bool first_ = true;
};

void put_share(int64_t n, int64_t count, CheckedWriter* out) {
  int64_t scale = 100;
  for (int i = 0; i < share_decimals; ++i) scale *= 10;
  out->put_fixed(count != 0 ? rounded_quotient(static_cast<int128>(n) * scale, count) : 0,
                 share_decimals);
}

void put_value(int64_t ns, const Unit& unit, CheckedWriter* out) {
  out->put_fixed(ns, unit.decimals);
  out->put(' ');
  out->put(unit.name);
}

void put_label(const char* label, CheckedWriter* out) {
  // Labels are padded to one column, so that the values line up.
  constexpr size_t column = 15;
  out->put(label);
  for (size_t i = strlen(label); i < column; ++i) out->put(' ');
}

void put_count_line(const char* label, int64_t n, int64_t count, CheckedWriter* out) {
  put_label(label, out);
  out->put_int(n);
  out->put(" (");
  put_share(n, count, out);
  out->put(" %)");
}

}  // namespace

bool parse_percentiles(const char* text, std::vector<Percentile>* list) {
  list->clear();
  const char* p = text;
  for (;;) {
    const char* end = strchr(p, ',');
    std::string item(p, end != nullptr ? static_cast<size_t>(end - p) : strlen(p));
    // Digits with at most one point, nothing else, and 0 to 100.
    if (item.empty() || item.find_first_not_of("0123456789.") != std::string::npos ||
        item.find('.') != item.rfind('.') || item == ".")
      return false;
    double value = strtod(item.c_str(), nullptr);
    if (value > 100.0) return false;
    // A percentile asked for twice is given once, under its first spelling.
    if (std::none_of(list->begin(), list->end(),
                     [&](const Percentile& p) { return p.value == value; }))
      list->push_back({item, value});
    if (end == nullptr) return true;
    p = end + 1;
  }
}

std::vector<Percentile> default_percentiles() {
  return {{"50", 50.0}, {"90", 90.0}, {"99", 99.0}, {"99.9", 99.9}, {"99.99", 99.99}};
}

void write_summary(const Summary& s, const Unit& unit, CheckedWriter* out) {
  const Totals& t = s.totals;
  int64_t in_range = s.histogram.total_count();
  put_label("count", out);
  out->put_int(t.count);
  out->put('\n');
  if (t.have_receive) {
    put_label("span", out);
    out->put_fixed(t.last_receive - t.first_receive, 9);
    out->put(" s");
    int64_t tenths;
    if (rate_tenths(t, &tenths)) {
      out->put(", ");
      out->put_fixed(tenths, 1);
      out->put(" messages/s");
    }
    out->put('\n');
  }
  put_count_line("0 to 1 h", in_range, t.count, out);
  out->put('\n');
  struct Row {
    std::string label;
    int64_t ns;
  };
  std::vector<Row> rows;
  if (in_range != 0) {
    rows.push_back({"min", s.histogram.min()});
    rows.push_back({"mean", scaled_mean(t, in_range, 1)});
    rows.push_back({"stddev", static_cast<int64_t>(std::llround(deviation(t, in_range)))});
    rows.push_back({"max", s.histogram.max()});
    std::transform(s.percentiles.begin(), s.percentiles.end(), std::back_inserter(rows),
                   [&s](const Percentile& p) {
                     return Row{"p" + p.text, s.histogram.percentile(p.value)};
                   });
  }
  for (const Row& row : rows) {
    put_label(row.label.c_str(), out);
    put_value(row.ns, unit, out);
    out->put('\n');
  }
  put_count_line("negative", t.negative, t.count, out);
  if (t.negative != 0) {
    out->put(", most negative ");
    put_value(t.most_negative, unit, out);
  }
  out->put('\n');
  put_count_line("10 s or more", t.stale, t.count, out);
  out->put('\n');
  put_count_line("over 1 h", t.over_hour, t.count, out);
  if (t.over_hour != 0) {
    out->put(", largest ");
    put_value(t.max_over_hour, unit, out);
  }
  out->put('\n');
  put_label("skipped lines", out);
  out->put_int(s.skipped);
  out->put('\n');
}

void write_json(const Summary& s, CheckedWriter* out) {
  const Totals& t = s.totals;
  int64_t in_range = s.histogram.total_count();
  // A member is null where its value does not exist.
  auto only = [](bool present, int64_t v) {
    return present ? std::optional<int64_t>(v) : std::nullopt;
  };
  int64_t tenths = 0;
  bool rate = rate_tenths(t, &tenths);
  JsonObject json(out);
  json.fixed("count", t.count);
  json.key("span_ns");
  if (t.have_receive) {
    out->put_int(t.last_receive - t.first_receive);
  } else {
    out->put("null");
  }
  json.fixed("messages_per_s", only(rate, tenths), 1);
  json.fixed("in_range", in_range);
  json.fixed("min_ns", only(in_range != 0, s.histogram.min()));
  // Mean and deviation divide by the count, which must not be 0.
  json.fixed("mean_ns", in_range != 0 ? scaled_mean(t, in_range, 1000) : std::optional<int64_t>(),
             3);
  json.fixed("stddev_ns",
             in_range != 0 ? std::llround(deviation(t, in_range) * 1000) : std::optional<int64_t>(),
             3);
  json.fixed("max_ns", only(in_range != 0, s.histogram.max()));
  json.key("percentiles");
  JsonObject percentiles(out);
  for (const Percentile& p : s.percentiles)
    percentiles.fixed(p.text.c_str(), only(in_range != 0, s.histogram.percentile(p.value)));
  percentiles.end();
  json.fixed("negative", t.negative);
  json.fixed("most_negative_ns", only(t.negative != 0, t.most_negative));
  json.fixed("stale", t.stale);
  json.fixed("over_hour", t.over_hour);
  json.fixed("max_over_hour_ns", only(t.over_hour != 0, t.max_over_hour));
  json.fixed("skipped_lines", s.skipped);
  json.fixed("digits", s.histogram.digits());
  json.end();
  out->put('\n');
}

}  // namespace caplat::stat
