#pragma once

#include "interval.h"
#include "checked_writer.h"
#include "units.h"

namespace caplat::stat {

// Writes one CSV row per interval, latencies in a unit, after a header line;
// each row is flushed as its interval closes, so that a pipe shows it at once.
class CsvWriter : public IntervalConsumer {
 public:
  // Writes the header to out, which must outlive the writer.
  CsvWriter(const Unit& unit, CheckedWriter* out);

  // Writes and flushes the row of closed.
  void interval(const Interval& closed) override;

 private:
  const Unit& unit_;
  CheckedWriter* out_;
};

}  // namespace caplat::stat
