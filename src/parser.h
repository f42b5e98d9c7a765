#pragma once

#include <cstddef>
#include <memory>

#include "input.h"
#include "output.h"
#include "source.h"

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

  // Reads the first bytes of the source, which tell gzip and zstd, read
  // decompressed, from the compressions that are not read, and the first
  // header of gzip or zstd data; false after saying why the source is not
  // read. main calls it before it opens the destination, which a source
  // that is not read leaves untouched; parse calls it if main has not.
  bool open_source();

  // Runs over the whole source; the exit status, 0 after a complete pass.
  int parse();

 private:
  void run(class Reader* reader);

  std::unique_ptr<Source> source_;
};

}  // namespace caplat
