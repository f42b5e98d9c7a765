#include "reader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "newline.h"

namespace caplat {

Reader::Reader(FILE* file, size_t block, std::function<void()> before_wait)
    : fd_(fileno(file)), block_(block), before_wait_(std::move(before_wait)) {
  // A regular file is read too, not mapped: on a virtual machine the first
  // touch of a mapped page can cost several times the copy that a read makes
  // (a page-cached 1 GB log took 2.5 times as long as `wc -l` mapped, 0.75
  // times read), and a read error is then an ordinary failed read.
  //
  // A pipe as large as a block lets the writer run further ahead between our
  // reads, and reads that large wake both sides less often (0.52 times the
  // time of `wc -l` on the same pipe, against 0.71 with the pipe as it was).
  // Beyond the system's limit the pipe stays as it is.
  struct stat st;
  if (fstat(fd_, &st) == 0 && S_ISFIFO(st.st_mode) &&
      fcntl(fd_, F_GETPIPE_SZ) < static_cast<int>(std::min<size_t>(block_, INT_MAX)))
    fcntl(fd_, F_SETPIPE_SZ, static_cast<int>(std::min<size_t>(block_, INT_MAX)));
  // Room for a partial piece carried over and a block.
  buffer_.reset(new unsigned char[piece_limit + block]);
  begin_ = end_ = buffer_.get();
}

bool Reader::read_block() {
  size_t carried = end_ - begin_;
  memmove(buffer_.get(), begin_, carried);
  begin_ = buffer_.get();
  end_ = begin_ + carried;
  struct pollfd ready = {fd_, POLLIN, 0};
  if (poll(&ready, 1, 0) == 0) before_wait_();
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
