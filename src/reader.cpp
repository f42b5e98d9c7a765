#include "reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "newline.h"

Reader::Reader(FILE* file, size_t block)
    : fd_(fileno(file)),
      block_(block),
      // Room for a partial piece carried over and a block.
      buffer_(new unsigned char[piece_limit + block]),
      begin_(buffer_.get()),
      end_(buffer_.get()) {}

bool Reader::fill() {
  size_t carried = end_ - begin_;
  memmove(buffer_.get(), begin_, carried);
  begin_ = buffer_.get();
  end_ = begin_ + carried;
  for (;;) {
    ssize_t n = read(fd_, end_, block_);
    if (n > 0) {
      end_ += n;
      return true;
    }
    if (n == 0) {
      at_end_ = true;
      return false;
    }
    if (errno != EINTR) {
      failed_ = true;
      return false;
    }
  }
}

bool Reader::next(const unsigned char** text, size_t* size) {
  if (at_end_ || failed_) return false;
  size_t length;
  for (;;) {
    size_t available = end_ - begin_;
    size_t limit = available < piece_limit ? available : piece_limit;
    if (const unsigned char* newline = find_newline(begin_, limit)) {
      length = newline + 1 - begin_;
      break;
    }
    if (available >= piece_limit) {
      length = piece_limit;
      break;
    }
    // Like fgets, the end of the stream is met only by a read that is needed
    // to finish a piece; fgets hands back nothing from a read that fails.
    if (!fill()) {
      if (failed_) return false;
      length = end_ - begin_;
      break;
    }
  }
  *text = begin_;
  *size = length;
  begin_ += length;
  return true;
}

void Reader::buffered(const unsigned char** data, size_t* size) const {
  *data = begin_;
  *size = end_ - begin_;
}

void Reader::consume(size_t size) {
  begin_ += size;
}
