#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "accumulator.h"
#include "hlog_codec.h"

namespace caplat::stat {

// Reads the histogram lines of an interval log (HdrHistogram's formats 1.2 and
// 1.3, tagged lines among them) one at a time, reporting each line it cannot
// read as "caplat-stat: FILE:LINE: what is wrong" and skipping it. It holds one
// small block of the file whatever its lines' lengths: a histogram longer than
// the block is read again from the file when it is decoded.
class HlogReader {
 public:
  // The bytes read at a time, which hold most lines whole.
  static constexpr size_t block = 8192;

  // True if text, the start of a file, opens an interval log.
  static bool is_log(std::string_view text);

  // True if the file open on fd is an interval log, as its bytes from the
  // current offset show; false for any other file, and for a pipe, which
  // cannot be read ahead.
  static bool is_log_file(int fd);

  // Reads the file open on fd from its current offset, called name in
  // messages; only lines tagged tag if it is not null, else every line
  // whatever its tag. fd is not closed here.
  HlogReader(int fd, std::string name, const std::string* tag);

  // Moves to the next histogram line; false at the end of the file or on a
  // read error. At the end of a file in which the tag selected no line, says
  // how many lines were untagged or tagged otherwise.
  bool next();

  // The start of the current line's interval, in ns since the epoch.
  uint64_t start_ns() const { return start_ns_; }

  // The length of the current line's interval, in ns.
  uint64_t length_ns() const { return length_ns_; }

  // The latencies that came with the line on a comment, which its histogram
  // cannot hold, as LogInterval has them.
  const LogInterval& excluded() const { return excluded_; }

  // Decodes the current line's histogram with codec into layout's ranges;
  // returns nullptr, or what is wrong with it.
  const char* decode(HistogramCodec* codec, const Histogram& layout);

  // Reports what is wrong with the current line, which counts as skipped.
  void skip(const char* what);

  // The number of lines skipped so far.
  int64_t skipped() const { return skipped_; }

  // True if the file ended with a read error.
  bool failed() const { return failed_; }

 private:
  bool read_line();
  void skip_rest();
  ssize_t read_more();
  bool parse_comment(std::string_view line);
  const char* parse_histogram_line(std::string_view line);

  int fd_;
  std::string name_;
  const std::string* tag_;
  std::unique_ptr<char[]> buffer_;
  // The unread bytes are [begin_, end_) of the buffer, whose first byte is at
  // offset_ in the file.
  size_t begin_ = 0;
  size_t end_ = 0;
  off_t offset_ = 0;
  // The current line's first bytes, all of it if whole_, and where it ends.
  std::string_view head_;
  bool whole_ = true;
  off_t line_offset_ = 0;
  off_t line_end_ = 0;
  // The current histogram: in the buffer if the line is whole, else from
  // histogram_offset_ to the line's end in the file.
  std::string_view histogram_;
  off_t histogram_offset_ = 0;
  int64_t line_number_ = 0;
  // Histogram lines of the tag selected, untagged, and of other tags.
  int64_t selected_ = 0;
  int64_t untagged_ = 0;
  int64_t other_tags_ = 0;
  int64_t skipped_ = 0;
  bool failed_ = false;
  uint64_t log_start_ns_ = 0;
  bool have_log_start_ = false;
  uint64_t base_ns_ = 0;
  bool have_base_ = false;
  uint64_t start_ns_ = 0;
  uint64_t length_ns_ = 0;
  LogInterval excluded_;
  LogInterval next_excluded_;
};

}  // namespace caplat::stat
