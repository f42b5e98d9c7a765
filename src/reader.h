#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "source.h"

namespace caplat {

// Cuts a stream into exactly the texts, of at most piece_limit bytes, that
// fgets returns one after another, reading it in large blocks into one buffer.
class Reader {
 public:
  // Reads source, opened, block bytes at a time; calls before_wait before any
  // read that would wait for input.
  Reader(Source* source, size_t block, std::function<void()> before_wait);

  // Sets text and size to the next piece, valid until the next call; false at the
  // end of the stream or on a read error. The piece is not NUL-terminated.
  bool next(const unsigned char** text, size_t* size);

  // Sets data and size to the bytes read but not yet handed out, which start a piece.
  void buffered(const unsigned char** data, size_t* size) const;

  // Hands out the first size buffered bytes in bulk; they must be whole pieces, each
  // ended by a newline within piece_limit bytes.
  void consume(size_t size);

  // True if the stream ended with a read error rather than its end.
  bool failed() const { return failed_; }

 private:
  bool read_block();

  Source* source_;
  size_t block_;
  std::function<void()> before_wait_;
  std::unique_ptr<unsigned char[]> buffer_;
  unsigned char* begin_;
  unsigned char* end_;
  bool at_end_ = false;
  bool failed_ = false;
};

}  // namespace caplat
