// Any bytes at all as an interval log, the first choosing whether one tag is
// selected and the file's offset when reading starts: the reader must report
// and skip what it cannot read, and the accumulator take what it hands out,
// without a crash, a sanitizer report, a hang or memory beyond a histogram's
// layout. NUL bytes and lines around the reader's block size are its hard
// cases.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "accumulator.h"
#include "hlog_merge.h"
#include "hlog_reader.h"

using caplat::stat::Accumulator;
using caplat::stat::HlogMerge;
using caplat::stat::HlogReader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  int fd = memfd_create("log", 0);
  if (fd < 0 || write(fd, data + 1, size - 1) != static_cast<ssize_t>(size - 1) ||
      lseek(fd, (data[0] >> 1) % 4, SEEK_SET) < 0)
    abort();
  const std::string tag = "A";
  HlogReader reader(fd, "fuzz", data[0] % 2 ? &tag : nullptr);
  // Without intervals: a log's times may leave gaps of years.
  Accumulator accumulator(3, 0, 0);
  HlogMerge merge({&reader}, &accumulator);
  accumulator.set_earlier(&merge);
  accumulator.finish();
  close(fd);
  return 0;
}
