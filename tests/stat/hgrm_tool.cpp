// Writes the .hgrm text of the "value count" pairs on standard input, recorded
// in a histogram of 1 ns to 1 hour at the digits given (default 3): counts
// beyond what a test can feed caplat-stat line by line.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "hgrm.h"
#include "output.h"
#include "units.h"

int main(int argc, char** argv) {
  Histogram histogram(1, hour_ns, argc > 1 ? atoi(argv[1]) : 3);
  int64_t value, count;
  while (scanf("%" SCNd64 " %" SCNd64, &value, &count) == 2) {
    if (value >= 0 && value <= hour_ns) histogram.record(value, count);
  }
  Output out(STDOUT_FILENO, "standard output");
  write_hgrm(histogram, &out);
  out.flush();
  return out.report() ? 0 : 1;
}
