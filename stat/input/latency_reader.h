#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "accumulator.h"
#include "clock_estimator.h"
#include "source.h"

namespace caplat::stat {

// Reads caplat's output, in whichever of its three forms the first line shows,
// and hands every latency to an accumulator. A line that cannot be read is
// reported with its file and number, counted and skipped.
class LatencyReader {
 public:
  // The forms of caplat's output: the latency in ms; application and receive
  // time in ns; both times and the latency.
  enum Form { Undetected, Latency, Times, TimesAndLatency };

  // How reading a file ended.
  enum Status { Done, ReadError, NoReceiveTimes, CaptureLog };

  // What becomes of each latency that comes with a receive time: counted;
  // counted and taken by a clock estimator; taken by it alone; or counted
  // with the drift and steps of the clocks removed.
  enum Clocks { Count, CountAndEstimate, EstimateOnly, CountDeskewed };

  // What is reported for caplat's input given in place of its output.
  static constexpr const char* capture_log =
      "this looks like a capture log: run caplat on it first";

  // True if the size bytes at data hold a payload header line of a capture
  // log, which caplat's output never holds.
  static bool holds_payload_header(const char* data, size_t size);

  // Feeds accumulator; with needs_times, input without receive times is refused.
  LatencyReader(Accumulator* accumulator, bool needs_times);

  // Sets what becomes of the latencies of the reads to come: estimator takes
  // them for CountAndEstimate and EstimateOnly, deskew removes the clocks for
  // CountDeskewed. With EstimateOnly nothing is counted, no line is reported
  // or counted as skipped, and input without receive times ends the read.
  void set_clocks(Clocks clocks, ClockEstimator* estimator, Deskew* deskew);

  // Reads source, opened, named name in messages, to its end, unless the
  // lines read with its first are those of a capture log. A read error is
  // reported; one-field input when times are needed, and a capture log, are
  // left to the caller.
  Status read(Source* source, const char* name);

  // The form of the input read last, as its first line showed it.
  Form form() const { return form_; }

  // The number of lines skipped so far.
  int64_t skipped() const { return skipped_; }

  // Reports the count of skipped lines that were not reported one by one.
  void report_unreported() const;

 private:
  // The form that a line's count of fields shows, Undetected if none.
  static Form detect(const char* line, const char* end);

  Status read_lines(const char* p, const char* end);
  template <Form form>
  const char* parse(const char* p, const char* end);
  void skip(const char* what);

  Accumulator* accumulator_;
  bool needs_times_;
  Clocks clocks_ = Count;
  ClockEstimator* estimator_ = nullptr;
  Deskew* deskew_ = nullptr;
  Form form_ = Undetected;
  const char* name_ = "";
  int64_t line_ = 0;
  int64_t skipped_ = 0;
  std::unique_ptr<char[]> buffer_;
};

}  // namespace caplat::stat
