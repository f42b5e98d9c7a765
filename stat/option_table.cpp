#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "checked_writer.h"
#include "decimal.h"
#include "histogram.h"
#include "option_table.h"

namespace caplat::stat {

namespace {

// The interval of an interval log when -i is not given, as HdrHistogram's
// tools write them; a literal, so that --hlog's help can name it.
#define CAPLAT_LOG_INTERVAL "1s"

// Prints text on standard output; 0, or 2 if it could not be written.
int print(const std::string& text) {
  CheckedWriter out(STDOUT_FILENO, "standard output");
  out.put(text);
  out.flush();
  return out.report() ? 0 : 2;
}

// Sets *tag to value, a tag of interval log lines; returns go_on, or the
// status of a usage error.
int parse_tag(const char* value, const char** tag) {
  // The log format separates fields with commas and readers split at spaces.
  if (*value == '\0' || strpbrk(value, ", \t\r\n") != nullptr)
    return usage_error("a tag must be a word without commas", value);
  *tag = value;
  return go_on;
}

// Every option, in the order --help and the usage list them.
}  // namespace

const OptionRow option_rows[] = {
    {'p', "percentiles", "LIST", "50,90,99,99.9,99.99", "percentiles of the summary",
     [](const char* value, Options* o) {
       return parse_percentiles(value, &o->percentiles) ? go_on
                                                        : usage_error("bad percentile list", value);
     }},
    {'d', "digits", "DIGITS", "3", "significant digits of the histogram, 1 to 5",
     [](const char* value, Options* o) {
       char* end;
       long digits = strtol(value, &end, 10);
       if (*end != '\0' || end == value || digits != static_cast<int>(digits) ||
           !Histogram::valid(1, hour_ns, static_cast<int>(digits)))
         return usage_error("digits must be 1 to 5", value);
       o->digits = static_cast<int>(digits);
       return go_on;
     }},
    {'u', "unit", "UNIT", "ms", "ns, us, ms or s",
     [](const char* value, Options* o) {
       o->unit = find_unit(value);
       return o->unit != nullptr ? go_on : usage_error("unit must be ns, us, ms or s", value);
     }},
    {'i', "interval", "DURATION", nullptr,
     "one CSV row per interval of receive time (e.g. 100ms, 1s,\n1m), on standard output unless "
     "--csv is given",
     [](const char* value, Options* o) {
       return parse_duration(value, &o->interval) ? go_on : usage_error("bad duration", value);
     }},
    {0, "range", "MIN..MAX", "0..1h",
     "the latencies the figures describe, e.g. 0..10s to\nleave stale replays out",
     [](const char* value, Options* o) {
       std::string fault = parse_range(value, &o->range);
       return fault.empty() ? go_on : usage_error(std::string("bad range (") + fault + ")", value);
     }},
    {0, "clock", nullptr, nullptr,
     "estimate each input's clocks from the floor of its\nlatencies: drift, floor and steps",
     [](const char*, Options* o) {
       o->clock = true;
       return go_on;
     }},
    {0, "deskew", nullptr, nullptr,
     "remove the drift and steps of each input's clocks\nfrom every latency before any figure",
     [](const char*, Options* o) {
       o->deskew = true;
       return go_on;
     }},
    {0, "csv", "FILE", nullptr, "write the interval rows to FILE",
     [](const char* value, Options* o) {
       o->csv = value;
       return go_on;
     }},
    {0, "json", nullptr, nullptr, "print the summary as one JSON object, values in ns",
     [](const char*, Options* o) {
       o->json = true;
       return go_on;
     }},
    {0, "hgrm", "FILE", nullptr, "write the percentile distribution in .hgrm form",
     [](const char* value, Options* o) {
       o->hgrm = value;
       return go_on;
     }},
    {0, "svg", "FILE", nullptr, "draw the percentile curve and latency over time",
     [](const char* value, Options* o) {
       o->svg = value;
       return go_on;
     }},
    {0, "hlog", "FILE", nullptr,
     "write one histogram per interval (-i, default " CAPLAT_LOG_INTERVAL ") as an\nHdrHistogram interval log",
     [](const char* value, Options* o) {
       o->hlog = value;
       return go_on;
     }},
    {0, "tag", "NAME", nullptr, "read only the interval log lines tagged NAME, and tag\nthe lines written",
     [](const char* value, Options* o) { return parse_tag(value, &o->tag); }},
    {0, "hlog-tag", "NAME", nullptr, "tag the lines that --hlog writes NAME, whatever --tag\nreads",
     [](const char* value, Options* o) { return parse_tag(value, &o->hlog_tag); }},
    {0, "confidence", "LEVEL", "95", "level of the confidence intervals in percent",
     [](const char* value, Options* o) {
       double level;
       if (!parse_decimal(value, &level) || !(level > 0 && level < 100))
         return usage_error("a confidence level is above 0 and below 100", value);
       o->confidence_text = value;
       o->confidence = level / 100;
       return go_on;
     }},
    {0, "baseline", "FILE", nullptr, "compare with FILE (repeatable): caplat output or logs",
     [](const char* value, Options* o) {
       o->baselines.push_back(value);
       return go_on;
     }},
    {0, "check", "EXPR", nullptr, "fail (status 3) unless EXPR holds, e.g. p99<=50ms (repeatable)",
     [](const char* value, Options* o) {
       Check check;
       std::string fault = parse_check(value, &check);
       if (!fault.empty()) return usage_error(std::string("bad check (") + fault + ")", value);
       o->checks.push_back(check);
       return go_on;
     }},
    {0, "listen", "ADDRESS", nullptr,
     "serve the metrics over HTTP at ADDRESS, [HOST:]PORT\n(on 127.0.0.1 unless HOST is given), "
     "while reading\nand after the input ends",
     [](const char* value, Options* o) {
       return parse_listen(value, &o->metrics) ? go_on : usage_error("expected [HOST:]PORT", value);
     }},
    {0, "prom", "FILE", nullptr,
     "write the metrics to FILE, for node_exporter's\ntextfile collector, every interval (-i, at "
     "least 1s)\nand at the end",
     [](const char* value, Options* o) {
       // The file is replaced by renaming, which standard output cannot be.
       if (strcmp(value, "-") == 0) return usage_error("--prom needs a file", value);
       o->metrics.prom = value;
       return go_on;
     }},
    {0, "label", "LABEL", nullptr, "add LABEL, NAME=VALUE, to every metric (repeatable)",
     [](const char* value, Options* o) {
       const char* refused = parse_label(value, &o->metrics);
       return refused == nullptr ? go_on : usage_error(refused, value);
     }},
    {0, "buckets", "LIST", nullptr,
     "bounds of the latency histogram's buckets (e.g.\n1ms,2ms,5ms; default 10us to 1h, ten a "
     "decade)",
     [](const char* value, Options* o) {
       return parse_buckets(value, &o->metrics.buckets)
                  ? go_on
                  : usage_error("bad bucket list (increasing durations up to 1h)", value);
     }},
    {0, "linger", "DURATION", nullptr,
     "serve the final metrics this long after the input\nends, rather than until SIGINT or SIGTERM",
     [](const char* value, Options* o) {
       return parse_duration(value, &o->metrics.linger) ? go_on
                                                        : usage_error("bad duration", value);
     }},
    {'h', "help", nullptr, nullptr, "print this help",
     [](const char*, Options*) { return print(help_text()); }},
    {0, "version", nullptr, nullptr, "print the version",
     [](const char*, Options*) {
       return print(std::string("caplat-stat ") + CAPLAT_VERSION + "\n");
     }},
};

const size_t option_count = std::size(option_rows);

void apply_defaults(Options* options) {
  for (const OptionRow& row : option_rows) {
    if (row.fallback != nullptr) row.handle(row.fallback, options);
  }
  parse_duration(CAPLAT_LOG_INTERVAL, &options->log_interval);
}

}  // namespace caplat::stat
