// Any bytes at all as an interval log, the first choosing whether one tag is
// selected: the reader must report and skip what it cannot read, and the
// accumulator take what it hands out, without a crash, a sanitizer report, a
// hang or memory beyond a histogram's layout.
#include "hlog.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "accumulator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string log(reinterpret_cast<const char*>(data) + 1, size - 1);
  FILE* file = fmemopen(log.data(), log.size(), "r");
  if (!file) return 0;
  const std::string tag = "A";
  HlogReader reader(file, "fuzz", data[0] % 2 ? &tag : nullptr);
  HlogMerge merge({&reader});
  // Without intervals: a log's times may leave gaps of years, each of whose
  // empty intervals would get its row.
  Accumulator accumulator(3, 0, 0);
  LogInterval logged;
  while (merge.next(accumulator.histogram(), &logged)) accumulator.add(logged);
  accumulator.finish();
  fclose(file);
  return 0;
}
