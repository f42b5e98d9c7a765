#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace caplat::stat {

// A constant label that every exported series carries.
struct Label {
  // The label's name, as Prometheus allows it, and its value, any UTF-8 text.
  std::string name;
  std::string value;
};

// The bounds of the latency histogram's buckets when none are asked for:
// about ten a decade, the preferred numbers 1, 1.25, 1.6, 2, 2.5, 3.15, 4, 5,
// 6.3 and 8, from 10 us to 1 hour, in ns.
std::vector<int64_t> default_buckets();

// What the command line asks of the exporter: where to serve the metrics,
// which file to write them to, their labels and buckets.
struct ExportOptions {
  // --listen: the host and port to serve; the host is empty when not asked for.
  std::string host;
  std::string port;
  // --prom: the file that holds the metrics, or null.
  const char* prom = nullptr;
  // --label, in the order given.
  std::vector<Label> labels;
  // --buckets: the histogram's upper bounds in ns, increasing.
  std::vector<int64_t> buckets = default_buckets();
  // --linger: how long to serve the final values after the input ends, in
  // ns; 0 for until a signal.
  int64_t linger = 0;
};

// Reads [HOST:]PORT into options; a bare port is served on 127.0.0.1 only,
// and an IPv6 host is given in brackets. False if malformed.
bool parse_listen(const char* text, ExportOptions* options);

// Adds the label NAME=VALUE to options; null, or why it is refused.
const char* parse_label(const char* text, ExportOptions* options);

// Reads a comma-separated list of increasing durations up to 1 hour into
// bounds, in ns; false if any is malformed or out of order.
bool parse_buckets(const char* text, std::vector<int64_t>* bounds);

// Null, or what an option of options needs that is not given: --linger
// needs --listen, --label and --buckets need --listen or --prom.
const char* metrics_missing(const ExportOptions& options);

}  // namespace caplat::stat
