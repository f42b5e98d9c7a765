#pragma once

#include <cstddef>

#include "input.h"
#include "output.h"

namespace caplat {

// The main loop: reads the log, hands every line to the decoder and prints
// every pair it completes.
class Parser {
 public:
  // Decoder of the source.
  Input input;
  // Printer to the destination.
  Output output;
  // Bytes read from the source at a time. From 256 KiB to 1 MiB ran alike on
  // page-cached logs and 128 KiB a few hundredths of `wc -l` slower; the least
  // of those keeps a block within the processor's second-level cache while it
  // is decoded, and the peak memory low.
  size_t block = size_t{1} << 18;

  // Runs over the whole source; the exit status, 0 after a complete pass.
  int parse();

 private:
  void run(class Reader* reader);
};

}  // namespace caplat
