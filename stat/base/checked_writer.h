#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "units.h"

namespace caplat::stat {

// A buffered output file whose every write is checked: the first failure is
// kept, later writes are dropped, and ok() tells at the end whether all of the
// text reached the file.
class CheckedWriter {
 public:
  // Writes to descriptor fd, named path in messages; fd is not closed here.
  CheckedWriter(int fd, std::string path);

  // Flushes what is buffered (the result is in ok()).
  ~CheckedWriter();

  CheckedWriter(const CheckedWriter&) = delete;
  CheckedWriter& operator=(const CheckedWriter&) = delete;

  // Opens path for writing, truncating it ("-" is standard output); reports a
  // failure on standard error and returns null.
  static CheckedWriter* open(const char* path);

  // Appends text.
  void put(std::string_view text);

  // Appends one character.
  void put(char c) {
    if (used_ == capacity) flush();
    buffer_[used_++] = c;
  }

  // Appends v in decimal.
  void put_int(int64_t v) { put(fixed_text(v, 0)); }
  void put_int(uint64_t v) { put(fixed_text(v, 0)); }

  // Appends v / 10^decimals with exactly decimals digits after the point.
  void put_fixed(int64_t v, int decimals) { put(fixed_text(v, decimals)); }
  void put_fixed(uint64_t v, int decimals) { put(fixed_text(v, decimals)); }

  // Writes out what is buffered; false if this or an earlier write failed.
  bool flush();

  // Flushes every open output, as the out-of-memory handler must.
  static void flush_all();

  // True while every write succeeded.
  bool ok() const { return error_ == 0; }

  // Reports the first failure on standard error, if any; returns ok().
  bool report() const;

 private:
  static constexpr size_t capacity = 1 << 16;

  int fd_;
  bool owned_ = false;
  std::string path_;
  int error_ = 0;
  size_t used_ = 0;
  char buffer_[capacity];
};

}  // namespace caplat::stat
