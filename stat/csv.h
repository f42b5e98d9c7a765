#pragma once

#include "accumulator.h"
#include "output.h"
#include "units.h"

// Writes one CSV row per interval, latencies in a unit, after a header line;
// each row is flushed as its interval closes, so that a pipe shows it at once.
class CsvWriter : public IntervalConsumer {
 public:
  // Writes the header to out, which must outlive the writer.
  CsvWriter(const Unit& unit, Output* out);

  // Writes and flushes the row of closed.
  void interval(const Interval& closed) override;

 private:
  const Unit& unit_;
  Output* out_;
};
