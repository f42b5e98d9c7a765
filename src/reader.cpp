#include "reader.h"

#include <cstring>
#include <utility>

#include "newline.h"

namespace caplat {

Reader::Reader(Source* source, size_t block, std::function<void()> before_wait)
    : source_(source), block_(block), before_wait_(std::move(before_wait)) {
  // Room for a partial piece carried over and a block.
  buffer_.reset(new unsigned char[piece_limit + block]);
  begin_ = end_ = buffer_.get();
}

bool Reader::read_block() {
  size_t carried = end_ - begin_;
  memmove(buffer_.get(), begin_, carried);
  begin_ = buffer_.get();
  end_ = begin_ + carried;
  if (!source_->wait(0)) before_wait_();
  ssize_t n = source_->read(end_, block_);
  if (n > 0) {
    end_ += n;
    return true;
  }
  if (n == 0) {
    at_end_ = true;
  } else {
    failed_ = true;
  }
  return false;
}

bool Reader::next(const unsigned char** text, size_t* size) {
  if (at_end_ || failed_) return false;
  size_t length;
  for (;;) {
    size_t available = end_ - begin_;
    if (const unsigned char* newline = find_piece_end(begin_, end_)) {
      length = newline + 1 - begin_;
      break;
    }
    if (available >= piece_limit) {
      length = piece_limit;
      break;
    }
    // Like fgets, the end of the stream is met only by a read that is needed
    // to finish a piece; fgets hands back nothing from a read that fails.
    if (!read_block()) {
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

}  // namespace caplat
