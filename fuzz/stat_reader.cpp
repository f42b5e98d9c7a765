// Any bytes at all as caplat's output, the first choosing intervals, read by
// caplat-stat's reader into the accumulator: no crash, no sanitizer report,
// and every latency read is counted exactly once.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "accumulator.h"
#include "latency_reader.h"

namespace {

using caplat::stat::Accumulator;
using caplat::stat::Interval;
using caplat::stat::IntervalConsumer;
using caplat::stat::LatencyReader;
using caplat::stat::Totals;

// Checks that the intervals, empty ones included, follow one another.
class Checker : public IntervalConsumer {
 public:
  void interval(const Interval& closed) override {
    if (closed.start < next_ || closed.count < closed.histogram.total_count()) abort();
    next_ = closed.start + closed.length;
    count_ += closed.count;
  }
  int64_t count() const { return count_; }

 private:
  uint64_t next_ = 0;
  int64_t count_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  int fd = memfd_create("input", 0);
  if (fd < 0 || write(fd, data + 1, size - 1) != static_cast<ssize_t>(size - 1) ||
      lseek(fd, 0, SEEK_SET) != 0)
    abort();
  // Intervals of 1 ns to 1 s, or none. They grow as the picture's do: with a
  // fixed length, a receive time far ahead rightly makes a row for every empty
  // interval before it, which would take the fuzzer forever.
  const int64_t lengths[] = {0, 1, 1000, 1000000000};
  int64_t interval = lengths[data[0] % 4];
  Accumulator accumulator(1 + (data[0] >> 2) % 3, interval, 4);
  Checker checker;
  accumulator.add_consumer(&checker);
  LatencyReader reader(&accumulator, false);
  {
    // Input that starts as gzip or zstd data does is read decompressed.
    caplat::Source source(fd, size_t{1} << 12);
    source.open();
    reader.read(&source, "input");
  }
  accumulator.finish();
  close(fd);
  const Totals& t = accumulator.totals();
  if (t.count != accumulator.histogram().total_count() + t.negative + t.over_hour) abort();
  if (interval != 0 && t.have_receive && checker.count() != t.count) abort();
  return 0;
}
