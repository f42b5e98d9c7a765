#pragma once

#include <cstdint>
#include <vector>

#include "checks.h"
#include "export_options.h"
#include "figures.h"
#include "units.h"

namespace caplat::stat {

// What the command line asks for.
struct Options {
  // The defaults of the options that have one come from their rows of the
  // option table, which parse_options reads first.
  // -p: the percentiles of the summary.
  std::vector<Percentile> percentiles;
  // -d: significant digits of the histograms.
  int digits = 0;
  // -u: the unit of latencies in the summary and the rows.
  const Unit* unit = nullptr;
  // --range: the latencies the figures describe.
  LatencyRange range;
  // --clock: each input's clocks estimated and shown; --deskew: removed from
  // the latencies.
  bool clock = false;
  bool deskew = false;
  // -i: interval length in ns, 0 if not given.
  int64_t interval = 0;
  // The interval of --hlog without -i, in ns.
  int64_t log_interval = 0;
  // --json: the summary as JSON.
  bool json = false;
  // Whether the summary's table goes to standard output: unless JSON or
  // another output takes it.
  bool summary = true;
  // --csv, --hgrm and --svg: the files named, or null.
  const char* csv = nullptr;
  const char* hgrm = nullptr;
  const char* svg = nullptr;
  const char* hlog = nullptr;
  // --tag: the tag of the interval log lines read, and by default of those
  // written; null for all, and none.
  const char* tag = nullptr;
  // --hlog-tag: the tag of the lines written, whatever the lines read; null
  // for --tag's.
  const char* hlog_tag = nullptr;
  // --confidence: the level of the intervals, as given and as a fraction.
  const char* confidence_text = nullptr;
  double confidence = 0;
  // --baseline: the inputs of the run compared with, if any.
  std::vector<const char*> baselines;
  // --check: the checks, in order.
  std::vector<Check> checks;
  // --listen, --prom, --label, --buckets and --linger: what is exported to
  // a monitoring system.
  ExportOptions metrics;
  // The input paths; none means standard input.
  std::vector<const char*> paths;
};

// Reads the command line into options. Returns -1 to go on, or the status to
// exit with at once: 0 after --help or --version, 2 after a usage error (the
// error and the usage are then on standard error) or when an output would
// write over an input or another output.
int parse_options(int argc, char** argv, Options* options);

}  // namespace caplat::stat
