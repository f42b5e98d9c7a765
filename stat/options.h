#pragma once

#include <cstdint>
#include <vector>

#include "summary.h"
#include "units.h"

// What the command line asks for.
struct Options {
  std::vector<Percentile> percentiles = default_percentiles();
  int digits = 3;
  const Unit* unit = &default_unit();
  // Interval length in ns, 0 if -i is not given.
  int64_t interval = 0;
  bool json = false;
  const char* csv = nullptr;
  const char* hgrm = nullptr;
  const char* svg = nullptr;
  // The input paths; none means standard input.
  std::vector<const char*> paths;
};

// Reads the command line into options. Returns -1 to go on, or the status to
// exit with at once: 0 after --help or --version, 2 after a usage error (the
// error and the usage are then on standard error).
int parse_options(int argc, char** argv, Options* options);
