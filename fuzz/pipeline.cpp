// Any bytes at all as a log, the first choosing the output format: the main
// loop must take them without a crash, a sanitizer report or a hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "runlog.h"

namespace caplat {

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string log(reinterpret_cast<const char*>(data) + 1, size - 1);
  // A small block keeps the read buffer out of the sanitizer's slow path for large blocks.
  runlog::run(log, data[0] % 4, runlog::Via::File, 4096);
  return 0;
}

}  // namespace caplat
