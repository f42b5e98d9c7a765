#pragma once

#include <string>
#include <vector>

#include "accumulator.h"
#include "checked_writer.h"
#include "units.h"

namespace caplat::stat {

// A percentile asked for, as given ("99.9") and as a number.
struct Percentile {
  // As given, for labels and keys.
  std::string text;
  // As a number, from 0 to 100.
  double value;
};

// Reads a comma-separated list of percentiles from 0 to 100, each once; false
// if any is not a plain decimal number in that range.
bool parse_percentiles(const char* text, std::vector<Percentile>* list);

// The percentiles of the summary when none are asked for.
std::vector<Percentile> default_percentiles();

// What the summary tells, drawn from the accumulator after its finish().
struct Summary {
  // The exact totals and the histogram of the latencies from 0 to 1 hour.
  const Totals& totals;
  const Histogram& histogram;
  // The percentiles asked for.
  const std::vector<Percentile>& percentiles;
  // Lines that could not be read.
  int64_t skipped;
};

// Writes the summary as a table for a person, latencies in unit.
void write_summary(const Summary& summary, const Unit& unit, CheckedWriter* out);

// Writes the summary as one JSON object, latencies in ns.
void write_json(const Summary& summary, CheckedWriter* out);

}  // namespace caplat::stat
