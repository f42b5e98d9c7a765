#pragma once

#include <cstddef>

#include "input.h"
#include "output.h"

// The main loop: reads the log, hands every line to the decoder and prints
// every pair it completes.
class Parser {
 public:
  // Decoder of the source.
  Input input;
  // Printer to the destination.
  Output output;
  // Bytes read from the source at a time.
  size_t block = size_t{1} << 20;

  // Runs over the whole source; the exit status, 0 after a complete pass.
  int parse();

 private:
  void run(class Reader* reader);
};
