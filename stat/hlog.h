#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "accumulator.h"
#include "hlog_codec.h"
#include "output.h"

// Writes an interval log in HdrHistogram's log format 1.3, one line per
// closed interval with its start, length, maximum and compressed histogram,
// which HdrHistogram's own log readers take as they are.
class HlogWriter : public IntervalConsumer {
 public:
  // Writes to out, marking every histogram line with tag unless it is empty.
  HlogWriter(Output* out, std::string tag);

  // Writes the header lines before the first interval, then the interval,
  // after a comment line with the counts of latencies its histogram cannot
  // hold when there are any.
  void interval(const Interval& closed) override;

  // Writes the header lines if no interval came.
  void finish();

 private:
  void write_header(int64_t start_ns);

  Output* out_;
  std::string tag_;
  std::string text_;
  HistogramCodec codec_;
  int64_t base_ns_ = 0;
  bool started_ = false;
};

// Reads the histogram lines of an interval log (HdrHistogram's formats 1.2 and
// 1.3, tagged lines among them) one at a time, reporting each line it cannot
// read as "caplat-stat: FILE:LINE: what is wrong" and skipping it.
class HlogReader {
 public:
  // True if line, the first of a file, opens an interval log.
  static bool is_log(std::string_view line);

  // Reads file, called name in messages; only lines tagged tag if it is not
  // null, else every line whatever its tag.
  HlogReader(FILE* file, std::string name, const std::string* tag);

  // Moves to the next histogram line; false at the end of the file or on a
  // read error.
  bool next();

  // The start of the current line's interval, in ns since the epoch.
  int64_t start_ns() const { return start_ns_; }

  // The length of the current line's interval, in ns.
  int64_t length_ns() const { return length_ns_; }

  // The latencies that came with the line on a comment, which its histogram
  // cannot hold, as LogInterval has them.
  const LogInterval& excluded() const { return excluded_; }

  // The current line's histogram, as encoded text.
  std::string_view histogram() const { return histogram_; }

  // Reports what is wrong with the current line, which counts as skipped.
  void report(const char* what);

  // The number of lines skipped so far.
  int64_t skipped() const { return skipped_; }

  // True if the file ended with a read error.
  bool failed() const { return failed_; }

 private:
  bool read_line();
  bool parse_comment();
  const char* parse_histogram_line();

  FILE* file_;
  std::string name_;
  const std::string* tag_;
  std::string line_;
  int64_t line_number_ = 0;
  int64_t skipped_ = 0;
  bool failed_ = false;
  int64_t log_start_ns_ = -1;
  int64_t base_ns_ = -1;
  int64_t start_ns_ = 0;
  int64_t length_ns_ = 0;
  LogInterval excluded_;
  LogInterval next_excluded_;
  std::string_view histogram_;
};

// Merges the intervals of several logs in order of their start times, holding
// one line of each, so that logs of many hosts or days merge as they stream.
class HlogMerge {
 public:
  // Reads from readers, which must outlive the merge.
  explicit HlogMerge(const std::vector<HlogReader*>& readers);

  // Sets logged to the next interval, its counts in layout's ranges and valid
  // until the next call; false once every log has ended.
  bool next(const Histogram& layout, LogInterval* logged);

 private:
  std::vector<HlogReader*> live_;
  HistogramCodec codec_;
  // The latencies handed out so far.
  int64_t total_ = 0;
};

// True if the file open on fd is an interval log, as its first line shows;
// false for any other file, and for a pipe, which cannot be read ahead.
bool is_log_file(int fd);

// Reads the interval logs open on the descriptors of logs, named as paired,
// merged by start time into accumulator, only the lines tagged tag unless it
// is null; closes the descriptors. Adds the number of lines skipped to
// skipped; false after reporting a read error.
bool read_logs(const std::vector<std::pair<int, const char*>>& logs, const char* tag,
               Accumulator* accumulator, int64_t* skipped);
