#pragma once

#include "checked_writer.h"
#include "figures.h"
#include "units.h"

namespace caplat::stat {

// Writes the summary of figures as a table for a person, latencies in unit,
// the mean and the percentiles each with its interval.
void write_summary(const Figures& figures, const Unit& unit, CheckedWriter* out);

// Writes run against baseline as a table for a person: each figure of both,
// the change, and for the mean and the percentiles a verdict.
void write_comparison(const Figures& baseline, const Figures& run, const Unit& unit,
                      CheckedWriter* out);

// Writes the summary as one JSON object, latencies in ns, with the intervals
// at level (a percentage, as given) and, if baseline is not null, the
// baseline's summary, the changes and the verdicts.
void write_json(const Figures& run, const Figures* baseline, const char* level, CheckedWriter* out);

}  // namespace caplat::stat
