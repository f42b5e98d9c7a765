// caplat-stat: latency distribution, intervals and pictures from caplat's
// output.
//
// Latencies flow one way, through one Accumulator. An input reader
// (LatencyReader, for caplat's three output forms) hands it each latency, with
// its receive time when there is one, and the merge of interval logs
// (HlogMerge) whole histograms, one per logged interval; the Accumulator keeps
// the exact totals and the histogram of the whole input and, with intervals,
// hands each closed interval (start, length, histogram, counts of negative and
// >= 10 s latencies, max) to every IntervalConsumer in turn (CsvWriter,
// SvgWriter, HlogWriter). Another input kind is another reader feeding the
// same Accumulator; another per-interval output is another IntervalConsumer,
// added to it in run(); outputs of the whole input (summary, JSON, .hgrm, the
// picture) read the Accumulator after finish().
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "checked_writer.h"
#include "descriptors.h"
#include "options.h"
#include "run.h"

namespace {

// Reports that memory ran out, keeps what was produced, and exits.
void out_of_memory() {
  caplat::stat::CheckedWriter::flush_all();
  static const char message[] = "caplat-stat: out of memory\n";
  if (write(STDERR_FILENO, message, sizeof message - 1) < 0) _exit(1);
  _exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  caplat::open_standard_descriptors();
  std::set_new_handler(out_of_memory);
  caplat::stat::Options options;
  int status = caplat::stat::parse_options(argc, argv, &options);
  if (status >= 0) return status;
  return caplat::stat::run(options);
}
