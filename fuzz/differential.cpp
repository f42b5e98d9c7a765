// The same log through the plain loop (fgets and the line rules) and through
// the main loop, read from a file at every instruction level, and through a
// pipe and gzipped in short reads: what they print must be identical, byte for
// byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hexline.h"
#include "runlog.h"

namespace caplat {

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string log(reinterpret_cast<const char*>(data) + 1, size - 1);
  uint32_t format = data[0] % 3;
  // Short reads put refills at every place in a piece.
  size_t block = 61 + (data[0] >> 2) * 97;
  runlog::Result plain = runlog::run(log, format, runlog::Via::Plain);
  for (int level = 0; level <= static_cast<int>(hexline::best_level()); ++level) {
    hexline::use(static_cast<hexline::Level>(level));
    if (!(runlog::run(log, format, runlog::Via::File, 4096) == plain)) abort();
  }
  if (!(runlog::run(log, format, runlog::Via::Pipe, block) == plain)) abort();
  if (!(runlog::run(log, format, runlog::Via::Gzip, block) == plain)) abort();
  hexline::use(hexline::best_level());
  return 0;
}

}  // namespace caplat
