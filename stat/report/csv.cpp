#include "csv.h"

namespace caplat::stat {

namespace {

// The percentiles of each row.
const double row_percentiles[] = {50.0, 90.0, 99.0, 99.9};
const char* const row_percentile_names[] = {"p50", "p90", "p99", "p99.9"};

}  // namespace

CsvWriter::CsvWriter(const Unit& unit, CheckedWriter* out) : unit_(unit), out_(out) {
  out_->put("start_s,count");
  for (const char* name : row_percentile_names) {
    out_->put(',');
    out_->put(name);
    out_->put('_');
    out_->put(unit.name);
  }
  out_->put(",max_");
  out_->put(unit.name);
  out_->put(",negative,10s_or_more\n");
  out_->flush();
}

void CsvWriter::interval(const Interval& closed) {
  constexpr int second_decimals = 9;
  out_->put_fixed(closed.start, second_decimals);
  out_->put(',');
  out_->put_int(closed.count);
  // Percentiles describe the latencies from 0 to 1 hour: empty cells when the
  // interval has none.
  for (double p : row_percentiles) {
    out_->put(',');
    if (closed.histogram.total_count() != 0)
      out_->put_fixed(closed.histogram.percentile(p), unit_.decimals);
  }
  out_->put(',');
  if (closed.count != 0) out_->put_fixed(closed.max, unit_.decimals);
  out_->put(',');
  out_->put_int(closed.negative);
  out_->put(',');
  out_->put_int(closed.stale);
  out_->put('\n');
  out_->flush();
}

}  // namespace caplat::stat
