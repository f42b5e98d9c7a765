#pragma once

#include <sys/types.h>

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>

// Cuts a stream into exactly the texts, of at most piece_limit bytes, that
// fgets returns one after another. A regular file is mapped a window at a time;
// any other stream is read in large blocks.
class Reader {
 public:
  // Reads the descriptor of file from its current offset, block bytes at a time,
  // or 8 blocks a window if it is a regular file that can be mapped; calls
  // before_wait before any read that would wait for input.
  Reader(FILE* file, size_t block, std::function<void()> before_wait);

  // Unmaps the window, if any.
  ~Reader();

  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

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

  // Makes a mapped page that cannot be read, met wherever the bytes handed out
  // are read, resume at target as siglongjmp(target, 1) would.
  void resume_on_read_error(sigjmp_buf* target);

 private:
  bool fill();
  bool read_block();
  bool map_window();

  int fd_;
  size_t block_;
  std::function<void()> before_wait_;
  std::unique_ptr<unsigned char[]> buffer_;
  unsigned char* begin_ = nullptr;
  unsigned char* end_ = nullptr;
  // The mapped window and the file offset of its first byte; the window is null
  // while the file is read rather than mapped.
  unsigned char* window_ = nullptr;
  size_t window_size_ = 0;
  off_t window_offset_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
};
