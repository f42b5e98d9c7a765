// Any bytes at all as an interval log, the first choosing whether one tag is
// selected: the reader must report and skip what it cannot read, without a
// crash, a sanitizer report, a hang or memory beyond a histogram's layout.
#include "hlog.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "histogram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string log(reinterpret_cast<const char*>(data) + 1, size - 1);
  FILE* file = fmemopen(log.data(), log.size(), "r");
  if (!file) return 0;
  const std::string tag = "A";
  HlogReader reader(file, "fuzz", data[0] % 2 ? &tag : nullptr);
  HlogMerge merge({&reader});
  const Histogram layout(1, 3600000000000, 3);
  LogInterval interval;
  while (merge.next(layout, &interval)) {
  }
  fclose(file);
  return 0;
}
