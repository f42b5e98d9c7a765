#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "summary.h"

namespace caplat::stat {

namespace {

// Writes the members of one JSON object in order, with keys that need no
// escaping.
class JsonObject {
 public:
  explicit JsonObject(CheckedWriter* out) : out_(out) { out_->put('{'); }

  // Starts the member name.
  void key(const std::string& name) {
    out_->put(first_ ? "\"" : ",\"");
    first_ = false;
    out_->put(name);
    out_->put("\":");
  }

  // The member name, the number v / 10^decimals, or null without v.
  void fixed(const std::string& name, std::optional<int64_t> v, int decimals = 0) {
    key(name);
    if (v) {
      out_->put_fixed(*v, decimals);
    } else {
      out_->put("null");
    }
  }

  // The member name, an interval as [low, high] with null for a bound not
  // known, or null where neither is.
  void bounds(const std::string& name, const Bounds& b) {
    key(name);
    if (!b.low && !b.high) {
      out_->put("null");
      return;
    }
    auto bound = [&](const std::optional<int64_t>& v) {
      if (v) {
        out_->put_int(*v);
      } else {
        out_->put("null");
      }
    };
    out_->put('[');
    bound(b.low);
    out_->put(',');
    bound(b.high);
    out_->put(']');
  }

  // The member name and text as a JSON string, escaped, or null without it.
  void text(const std::string& name, const std::optional<std::string>& text) {
    key(name);
    if (!text) {
      out_->put("null");
      return;
    }
    out_->put('"');
    for (char c : *text) {
      if (c == '"' || c == '\\') {
        out_->put('\\');
        out_->put(c);
      } else if (static_cast<unsigned char>(c) < 0x20) {
        static const char hex[] = "0123456789abcdef";
        out_->put("\\u00");
        out_->put(hex[c >> 4]);
        out_->put(hex[c & 15]);
      } else {
        out_->put(c);
      }
    }
    out_->put('"');
  }

  // The member name and a string that needs no escaping.
  void word(const std::string& name, const char* text) {
    key(name);
    out_->put('"');
    out_->put(text);
    out_->put('"');
  }

  // Ends the object.
  void end() { out_->put('}'); }

 private:
  CheckedWriter* out_;
  bool first_ = true;
};

// A text that is empty where nothing is to be said, as JSON: null then.
std::optional<std::string> unless_empty(const std::string& text) {
  return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

// The clocks of each input as an array of objects: the drift and its bound
// in ppm, the floor at the first and last receive time and each step's size
// in ms, the steps' receive times in ns, each null where unknown, with why.
void put_clocks(const std::vector<InputClock>& clocks, CheckedWriter* out) {
  out->put('[');
  for (size_t i = 0; i < clocks.size(); ++i) {
    if (i != 0) out->put(',');
    const InputClock& c = clocks[i];
    const ClockEstimate* e = c.estimate ? &*c.estimate : nullptr;
    JsonObject clock(out);
    clock.text("input", c.input);
    auto ppm = [](const std::optional<double>& v) {
      return v ? std::optional<int64_t>(static_cast<int64_t>(std::llround(*v * 1e4))) : std::nullopt;
    };
    clock.fixed("drift_ppm", e ? ppm(e->drift_ppm) : std::nullopt, 4);
    clock.fixed("drift_bound_ppm", e ? ppm(e->drift_bound_ppm) : std::nullopt, 4);
    constexpr int ms_decimals = 6;
    clock.key("floor_ms");
    if (e != nullptr && e->floor_first_ns) {
      out->put('[');
      out->put_fixed(*e->floor_first_ns, ms_decimals);
      out->put(',');
      out->put_fixed(*e->floor_last_ns, ms_decimals);
      out->put(']');
    } else {
      out->put("null");
    }
    clock.key("steps");
    if (e != nullptr && e->steps) {
      out->put('[');
      for (size_t k = 0; k < e->steps->size(); ++k) {
        if (k != 0) out->put(',');
        JsonObject step(out);
        step.key("at");
        out->put_int((*e->steps)[k].at_ns);
        step.fixed("ms", (*e->steps)[k].size_ns, ms_decimals);
        step.end();
      }
      out->put(']');
    } else {
      out->put("null");
    }
    clock.text("drift_unknown", unless_empty(e ? e->drift_unknown : c.unknown));
    clock.text("steps_unknown", unless_empty(e ? e->steps_unknown : c.unknown));
    clock.end();
  }
  out->put(']');
}

// A member is null where its value does not exist.
std::optional<int64_t> only(bool present, int64_t v) {
  return present ? std::optional<int64_t>(v) : std::nullopt;
}

// Puts the members of figures' object into json.
void put_figures(const Figures& f, const char* level, JsonObject& json, CheckedWriter* out) {
  bool any = f.in_range != 0;
  json.fixed("count", f.count);
  json.key("span_ns");
  if (f.have_span) {
    out->put_int(f.span_ns);
  } else {
    out->put("null");
  }
  json.fixed("messages_per_s", only(f.have_rate, f.rate_tenths), 1);
  json.key("range_ns");
  out->put('[');
  out->put_int(f.range.low);
  out->put(',');
  out->put_int(f.range.high);
  out->put(']');
  json.fixed("in_range", f.in_range);
  json.fixed("min_ns", only(any, f.min));
  json.fixed("mean_ns", only(any, f.mean_milli), 3);
  json.fixed("stddev_ns", only(any, f.deviation_milli), 3);
  json.fixed("max_ns", only(any, f.max));
  json.key("percentiles");
  JsonObject percentiles(out);
  for (size_t i = 0; i < f.names.size(); ++i)
    percentiles.fixed(f.names[i].text, only(any, any ? f.percentiles[i].value : 0));
  percentiles.end();
  json.fixed("negative", f.negative);
  json.fixed("most_negative_ns", only(f.negative != 0, f.most_negative));
  json.fixed("stale", f.stale);
  json.fixed("over_hour", f.over_hour);
  json.fixed("max_over_hour_ns", only(f.over_hour != 0, f.max_over_hour));
  json.fixed("skipped_lines", f.skipped);
  json.fixed("digits", f.digits);
  json.key("confidence");
  out->put(level);
  json.key("intervals");
  JsonObject intervals(out);
  intervals.bounds("mean", f.mean.bounds);
  for (size_t i = 0; i < f.names.size(); ++i)
    intervals.bounds(f.names[i].text, any ? f.percentiles[i].bounds : Bounds());
  intervals.end();
  if (f.deskewed) {
    json.key("deskewed");
    out->put("true");
  }
  if (f.clocks_shown) {
    json.key("clock");
    put_clocks(f.clocks, out);
  }
}

}  // namespace

void write_json(const Figures& run, const Figures* baseline, const char* level,
                CheckedWriter* out) {
  JsonObject json(out);
  put_figures(run, level, json, out);
  if (baseline != nullptr) {
    json.key("baseline");
    JsonObject base(out);
    put_figures(*baseline, level, base, out);
    base.end();
    // Changes and verdicts of the mean and the percentiles, where both runs
    // have latencies from 0 to 1 hour.
    bool both = run.in_range != 0 && baseline->in_range != 0;
    auto change = [&](const Figure& from, const Figure& to) { return only(both, to.value - from.value); };
    auto judge = [&](const Figure& from, const Figure& to) {
      return verdict_name(both ? verdict_of(from, to) : Verdict::Unknown);
    };
    json.key("changes");
    JsonObject changes(out);
    changes.fixed("mean", change(baseline->mean, run.mean));
    for (size_t i = 0; i < run.names.size(); ++i) {
      changes.fixed(run.names[i].text,
                    both ? change(baseline->percentiles[i], run.percentiles[i]) : std::nullopt);
    }
    changes.end();
    json.key("verdicts");
    JsonObject verdicts(out);
    verdicts.word("mean", judge(baseline->mean, run.mean));
    for (size_t i = 0; i < run.names.size(); ++i) {
      verdicts.word(run.names[i].text,
                    both ? judge(baseline->percentiles[i], run.percentiles[i]) : "unknown");
    }
    verdicts.end();
  }
  json.end();
  out->put('\n');
}

}  // namespace caplat::stat
