#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

// Cuts a stream into exactly the texts that fgets with a 20,000-byte buffer
// returns, one after another, but reads the stream in large blocks.
class Reader {
 public:
  // Reads the descriptor of file from its current offset, block bytes at a time.
  Reader(FILE* file, size_t block);

  // Sets text and size to the next piece, valid until the next call; false at the
  // end of the stream or on a read error. The piece is not NUL-terminated.
  bool next(const unsigned char** text, size_t* size);

  // Sets data and size to the bytes read but not yet handed out, which start a piece.
  void buffered(const unsigned char** data, size_t* size) const;

  // Hands out the first size buffered bytes in bulk; they must be whole pieces, each
  // ended by a newline within 19,999 bytes.
  void consume(size_t size);

  // True if the stream ended with a read error rather than its end.
  bool failed() const { return failed_; }

 private:
  bool fill();

  int fd_;
  size_t block_;
  std::unique_ptr<unsigned char[]> buffer_;
  unsigned char* begin_;
  unsigned char* end_;
  bool at_end_ = false;
  bool failed_ = false;
};
