#pragma once

#include <cstdint>
#include <vector>

#include "accumulator.h"
#include "hlog_codec.h"
#include "hlog_reader.h"

namespace caplat::stat {

// Merges the intervals of several logs in order of their start times, holding
// one line of each, so that logs of many hosts or days merge as they stream.
class HlogMerge : public EarlierInput {
 public:
  // Reads from readers, which must outlive the merge, into accumulator.
  HlogMerge(const std::vector<HlogReader*>& readers, Accumulator* accumulator);

  // Sets logged to the next interval, its counts in the accumulator's ranges
  // and valid until the next call; false once every log has ended.
  bool next(LogInterval* logged);

  // Adds to the accumulator every interval that starts at or before time.
  void add_until(uint64_t time) override;

  // A log's current line: its start, and the log's place among the readers.
  struct Head {
    uint64_t start;
    size_t reader;
  };

 private:
  bool take(LogInterval* logged);
  void push(size_t reader);

  std::vector<HlogReader*> readers_;
  Accumulator* accumulator_;
  // The logs that have a current line, earliest first, as a heap.
  std::vector<Head> heads_;
  HistogramCodec codec_;
  // The latencies handed out so far.
  int64_t total_ = 0;
};

}  // namespace caplat::stat
