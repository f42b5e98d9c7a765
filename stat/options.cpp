#include "options.h"

#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "checked_writer.h"
#include "file_check.h"
#include "histogram.h"

namespace caplat::stat {

namespace {

// What an option's handler returns: go on with the next option.
constexpr int go_on = -1;

// Prints the usage error message, with value if not null, and the usage;
// returns the status of a usage error.
int usage_error(const std::string& message, const char* value);

// Prints text on standard output; 0, or 2 if it could not be written.
int print(const std::string& text) {
  CheckedWriter out(STDOUT_FILENO, "standard output");
  out.put(text);
  out.flush();
  return out.report() ? 0 : 2;
}

std::string usage();
std::string help();

// Sets *tag to value, a tag of interval log lines; returns go_on, or the
// status of a usage error.
int parse_tag(const char* value, const char** tag) {
  // The log format separates fields with commas and readers split at spaces.
  if (*value == '\0' || strpbrk(value, ", \t\r\n") != nullptr)
    return usage_error("a tag must be a word without commas", value);
  *tag = value;
  return go_on;
}

// One option: its letter (0 for none), its long name, the name of its value
// (null for none), its help (lines after the first start with "\n"), and what
// it does with its value; the handler returns go_on or a status to exit with.
struct OptionRow {
  char letter;
  const char* name;
  const char* value;
  const char* help;
  int (*handle)(const char* value, Options* options);
};

// Every option, in the order --help and the usage list them.
const OptionRow option_rows[] = {
    {'p', "percentiles", "LIST", "percentiles of the summary (default 50,90,99,99.9,99.99)",
     [](const char* value, Options* o) {
       return parse_percentiles(value, &o->percentiles) ? go_on
                                                        : usage_error("bad percentile list", value);
     }},
    {'d', "digits", "DIGITS", "significant digits of the histogram, 1 to 5 (default 3)",
     [](const char* value, Options* o) {
       char* end;
       long digits = strtol(value, &end, 10);
       if (*end != '\0' || end == value || digits != static_cast<int>(digits) ||
           !Histogram::valid(1, hour_ns, static_cast<int>(digits)))
         return usage_error("digits must be 1 to 5", value);
       o->digits = static_cast<int>(digits);
       return go_on;
     }},
    {'u', "unit", "UNIT", "ns, us, ms (default) or s",
     [](const char* value, Options* o) {
       o->unit = find_unit(value);
       return o->unit != nullptr ? go_on : usage_error("unit must be ns, us, ms or s", value);
     }},
    {'i', "interval", "DURATION",
     "one CSV row per interval of receive time (e.g. 100ms, 1s,\n1m), on standard output unless "
     "--csv is given",
     [](const char* value, Options* o) {
       return parse_duration(value, &o->interval) ? go_on : usage_error("bad duration", value);
     }},
    {0, "range", "MIN..MAX",
     "the latencies the figures describe (default 0..1h), e.g.\n0..10s to leave stale replays out",
     [](const char* value, Options* o) {
       std::string fault = parse_range(value, &o->range);
       return fault.empty() ? go_on : usage_error(std::string("bad range (") + fault + ")", value);
     }},
    {0, "csv", "FILE", "write the interval rows to FILE",
     [](const char* value, Options* o) {
       o->csv = value;
       return go_on;
     }},
    {0, "json", nullptr, "print the summary as one JSON object, values in ns",
     [](const char*, Options* o) {
       o->json = true;
       return go_on;
     }},
    {0, "hgrm", "FILE", "write the percentile distribution in .hgrm form",
     [](const char* value, Options* o) {
       o->hgrm = value;
       return go_on;
     }},
    {0, "svg", "FILE", "draw the percentile curve and latency over time",
     [](const char* value, Options* o) {
       o->svg = value;
       return go_on;
     }},
    {0, "hlog", "FILE",
     "write one histogram per interval (-i, default 1s) as an\nHdrHistogram interval log",
     [](const char* value, Options* o) {
       o->hlog = value;
       return go_on;
     }},
    {0, "tag", "NAME", "read only the interval log lines tagged NAME, and tag\nthe lines written",
     [](const char* value, Options* o) { return parse_tag(value, &o->tag); }},
    {0, "hlog-tag", "NAME", "tag the lines that --hlog writes NAME, whatever --tag\nreads",
     [](const char* value, Options* o) { return parse_tag(value, &o->hlog_tag); }},
    {0, "confidence", "LEVEL", "level of the confidence intervals in percent (default 95)",
     [](const char* value, Options* o) {
       double level = 0;
       char* end;
       level = strtod(value, &end);
       if (*end != '\0' || end == value || !(level > 0 && level < 100) ||
           strspn(value, "0123456789.") != strlen(value))
         return usage_error("a confidence level is above 0 and below 100", value);
       o->confidence_text = value;
       o->confidence = level / 100;
       return go_on;
     }},
    {0, "baseline", "FILE", "compare with FILE (repeatable): caplat output or logs",
     [](const char* value, Options* o) {
       o->baselines.push_back(value);
       return go_on;
     }},
    {0, "check", "EXPR", "fail (status 3) unless EXPR holds, e.g. p99<=50ms (repeatable)",
     [](const char* value, Options* o) {
       Check check;
       std::string fault = parse_check(value, &check);
       if (!fault.empty()) return usage_error(std::string("bad check (") + fault + ")", value);
       o->checks.push_back(check);
       return go_on;
     }},
    {0, "listen", "ADDRESS",
     "serve the metrics over HTTP at ADDRESS, [HOST:]PORT\n(on 127.0.0.1 unless HOST is given), "
     "while reading\nand after the input ends",
     [](const char* value, Options* o) {
       return parse_listen(value, &o->metrics) ? go_on : usage_error("expected [HOST:]PORT", value);
     }},
    {0, "prom", "FILE",
     "write the metrics to FILE, for node_exporter's\ntextfile collector, every interval (-i, at "
     "least 1s)\nand at the end",
     [](const char* value, Options* o) {
       // The file is replaced by renaming, which standard output cannot be.
       if (strcmp(value, "-") == 0) return usage_error("--prom needs a file", value);
       o->metrics.prom = value;
       return go_on;
     }},
    {0, "label", "LABEL", "add LABEL, NAME=VALUE, to every metric (repeatable)",
     [](const char* value, Options* o) {
       const char* refused = parse_label(value, &o->metrics);
       return refused == nullptr ? go_on : usage_error(refused, value);
     }},
    {0, "buckets", "LIST",
     "bounds of the latency histogram's buckets (e.g.\n1ms,2ms,5ms; default 10us to 1h, ten a "
     "decade)",
     [](const char* value, Options* o) {
       return parse_buckets(value, &o->metrics.buckets)
                  ? go_on
                  : usage_error("bad bucket list (increasing durations up to 1h)", value);
     }},
    {0, "linger", "DURATION",
     "serve the final metrics this long after the input\nends, rather than until SIGINT or SIGTERM",
     [](const char* value, Options* o) {
       return parse_duration(value, &o->metrics.linger) ? go_on
                                                        : usage_error("bad duration", value);
     }},
    {'h', "help", nullptr, "print this help", [](const char*, Options*) { return print(help()); }},
    {0, "version", nullptr, "print the version",
     [](const char*, Options*) {
       return print(std::string("caplat-stat ") + CAPLAT_VERSION + "\n");
     }},
};

// The usage lines' width, and the column where the help of an option starts.
constexpr size_t usage_width = 80;
constexpr size_t help_column = 26;

std::string usage() {
  const std::string start = "usage: caplat-stat";
  std::string text = start, line = start;
  auto add = [&](const std::string& item) {
    if (line.size() + 1 + item.size() > usage_width) {
      text.append("\n");
      line.assign(start.size(), ' ');
      text.append(line);
    }
    text.append(" ").append(item);
    line.append(" ").append(item);
  };
  for (const OptionRow& row : option_rows) {
    if (row.letter == 'h' || std::string(row.name) == "version") continue;
    std::string item =
        row.letter != 0 ? std::string("-") + row.letter : std::string("--") + row.name;
    if (row.value != nullptr) item += std::string(" ") + row.value;
    add(std::string("[").append(item).append("]"));
  }
  add("[FILE ...]");
  return text + "\n";
}

std::string help() {
  std::string text =
      usage() +
      "Latency distribution, intervals and pictures from caplat's output (any of its\n"
      "three forms), read from the FILEs in turn or from standard input (\"-\"). FILEs\n"
      "that are HdrHistogram interval logs are read as histograms, merged by time.\n\n";
  for (const OptionRow& row : option_rows) {
    std::string left = row.letter != 0 ? std::string("  -") + row.letter + ", " : "      ";
    left += std::string("--") + row.name;
    if (row.value != nullptr) left += std::string(" ") + row.value;
    left += left.size() < help_column ? std::string(help_column - left.size(), ' ') : " ";
    text.append(left);
    for (const char* c = row.help; *c != '\0'; ++c) {
      text.push_back(*c);
      if (*c == '\n') text.append(help_column, ' ');
    }
    text.append("\n");
  }
  return text;
}

int usage_error(const std::string& message, const char* value) {
  fprintf(stderr, "caplat-stat: %s", message.c_str());
  if (value != nullptr) fprintf(stderr, ": %s", value);
  fprintf(stderr, "\n%s", usage().c_str());
  return 2;
}

// Options without a letter are known to getopt_long by a number past every
// letter's.
constexpr int first_long_only = 256;

}  // namespace

int parse_options(int argc, char** argv, Options* options) {
  std::string letters = ":";
  std::vector<option> longs;
  for (size_t i = 0; i < std::size(option_rows); ++i) {
    const OptionRow& row = option_rows[i];
    int key = row.letter != 0 ? row.letter : first_long_only + static_cast<int>(i);
    if (row.letter != 0) letters += std::string(1, row.letter) + (row.value ? ":" : "");
    longs.push_back({row.name, row.value ? required_argument : no_argument, nullptr, key});
  }
  longs.push_back({nullptr, 0, nullptr, 0});
  // getopt's own messages would not follow the program's form.
  opterr = 0;
  optind = 1;
  int c;
  while ((c = getopt_long(argc, argv, letters.c_str(), longs.data(), nullptr)) != -1) {
    if (c == ':') return usage_error("option needs a value", argv[optind - 1]);
    const OptionRow* row = nullptr;
    for (size_t i = 0; i < std::size(option_rows); ++i) {
      if (c == option_rows[i].letter || c == first_long_only + static_cast<int>(i))
        row = &option_rows[i];
    }
    if (row == nullptr || c == 0) {
      // A short option's letter may sit in a cluster such as -xv.
      char letter[] = {'-', static_cast<char>(optopt), '\0'};
      return usage_error("unknown option", optopt != 0 ? letter : argv[optind - 1]);
    }
    int status = row->handle(optarg, options);
    if (status != go_on) return status;
  }
  if (options->csv != nullptr && options->interval == 0)
    return usage_error("--csv needs -i", nullptr);
  if (options->hlog_tag != nullptr && options->hlog == nullptr)
    return usage_error("--hlog-tag needs --hlog", nullptr);
  for (const Check& check : options->checks) {
    if (check.per_interval && options->interval == 0)
      return usage_error("a check of every interval needs -i", check.text.c_str());
    if (check.bound == Check::Baseline && options->baselines.empty())
      return usage_error("a check against the baseline needs --baseline", check.text.c_str());
  }
  if (const char* missing = metrics_missing(options->metrics)) return usage_error(missing, nullptr);
  // Standard output takes one thing: JSON, the interval rows, or a file named
  // "-"; the summary's table when nothing else.
  auto dash = [](const char* path) { return path != nullptr && strcmp(path, "-") == 0; };
  const std::pair<bool, const char*> standard_users[] = {
      {options->json, "--json"},
      {options->interval != 0 && (options->csv == nullptr || dash(options->csv)),
       "the interval rows"},
      {dash(options->hgrm), "--hgrm -"},
      {dash(options->svg), "--svg -"},
      {dash(options->hlog), "--hlog -"}};
  const char* user = nullptr;
  for (auto [uses, name] : standard_users) {
    if (!uses) continue;
    if (user != nullptr) {
      return usage_error(std::string(user) + " and " + name + " cannot share standard output",
                         nullptr);
    }
    user = name;
  }
  options->summary = user == nullptr;
  for (int i = optind; i < argc; ++i) options->paths.push_back(argv[i]);
  std::vector<const char*> inputs = options->paths;
  if (inputs.empty()) inputs.push_back("-");
  inputs.insert(inputs.end(), options->baselines.begin(), options->baselines.end());
  const Options& o = *options;
  return outputs_apart(inputs, {o.csv, o.hgrm, o.svg, o.hlog, o.metrics.prom}) ? -1 : 2;
}

}  // namespace caplat::stat
