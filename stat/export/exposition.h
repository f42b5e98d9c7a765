#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export_options.h"
#include "metrics_snapshot.h"

namespace caplat::stat {

// Writes the metrics in Prometheus's text exposition format, version 0.0.4:
// names, help, labels and bucket bounds are fixed at the start, and each text
// shows the values of one snapshot.
class Exposition {
 public:
  // The content type of the text, as a scrape's answer names it.
  static constexpr const char* content_type = "text/plain; version=0.0.4; charset=utf-8";

  // Shows the buckets of bounds (increasing, in ns), labels on every series,
  // and the last interval's quantiles if intervals; range names the latencies
  // the histogram holds.
  Exposition(const std::vector<int64_t>& bounds, const std::vector<Label>& labels, bool intervals,
             const std::string& range);

  // The text of snapshot.
  std::string text(const MetricsSnapshot& snapshot) const;

 private:
  // Appends the line of one series: name, the constant labels and extra
  // (one more label, or empty), and value.
  void series(std::string* out, const char* name, const std::string& extra,
              const std::string& value) const;

  // The constant labels, as they stand between braces; empty for none.
  std::string labels_;
  // The le label of each bucket, "+Inf" last.
  std::vector<std::string> le_;
  bool intervals_;
  // The latencies the histogram holds, as HELP names them: "0 to 1 h".
  std::string range_;
};

}  // namespace caplat::stat
