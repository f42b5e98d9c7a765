#include "reader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <utility>

#include "newline.h"

namespace {

// A mapped page that the file no longer holds (it shrank while read) or that
// cannot be read (a bad block, a dropped network filesystem) is a bus error.
// For a page the file lost, the handler maps zero pages in its place, so that
// the run goes on through NUL bytes to the end of the window and then meets
// the file's new end. A page the file still holds is a read error: the run
// resumes where the reader's owner asked. mmap, fstat and siglongjmp are safe
// to call from the handler.
std::atomic<unsigned char*> guarded_begin{nullptr};
std::atomic<unsigned char*> guarded_end{nullptr};
std::atomic<off_t> guarded_offset{0};
std::atomic<int> guarded_fd{-1};
std::atomic<sigjmp_buf*> read_error_target{nullptr};
size_t page_size;
struct sigaction previous_action;

void on_bus_error(int, siginfo_t* info, void*) {
  auto* address = static_cast<unsigned char*>(info->si_addr);
  unsigned char* begin = guarded_begin.load();
  unsigned char* end = guarded_end.load();
  std::less_equal<const unsigned char*> at_or_before;
  if (begin != nullptr && at_or_before(begin, address) && !at_or_before(end, address)) {
    // The window starts on a page boundary.
    unsigned char* lost = address - static_cast<size_t>(address - begin) % page_size;
    struct stat st;
    bool still_held =
        fstat(guarded_fd.load(), &st) != 0 || st.st_size > guarded_offset.load() + (lost - begin);
    sigjmp_buf* target = read_error_target.load();
    if (still_held && target != nullptr) siglongjmp(*target, 1);
    if (!still_held && mmap(lost, end - lost, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
                            -1, 0) != MAP_FAILED)
      return;
  }
  // Any other bus error is handled as it was before, once the access repeats.
  sigaction(SIGBUS, &previous_action, nullptr);
}

void guard(int fd, unsigned char* window, size_t size, off_t offset) {
  static bool installed = false;
  if (!installed) {
    page_size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = on_bus_error;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previous_action);
    installed = true;
  }
  guarded_fd.store(fd);
  guarded_offset.store(offset);
  guarded_begin.store(window);
  guarded_end.store(window + size);
}

}  // namespace

Reader::Reader(FILE* file, size_t block, std::function<void()> before_wait)
    : fd_(fileno(file)), block_(block), before_wait_(std::move(before_wait)) {
  // Mapping spares the copy that a read makes, which costs as much as the
  // decoding of large payloads: on a page-cached 1 GB log the kernel spends a
  // third as long mapping it as reading it in blocks of 256 KiB or 1 MiB.
  // Only a log cached long ago, whose pages cost the kernel more to hand out
  // either way, was read faster than mapped. Advice to the kernel (sequential,
  // populate), windows of 4 or 12 MiB and one reused address range measured no
  // better on every log. A file that claims no size (as those under /proc do)
  // or refuses to be mapped is read.
  struct stat st;
  off_t offset = lseek(fd_, 0, SEEK_CUR);
  if (offset >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > offset) {
    window_offset_ = offset;
    if (map_window()) return;
    failed_ = false;
  }
  // A pipe as large as a block lets the writer run further ahead between our
  // reads, and reads that large wake both sides less often (1.05 to 0.97 times
  // the time of `wc -l` on the same pipe). Beyond the system's limit the pipe
  // stays as it is.
  if (fstat(fd_, &st) == 0 && S_ISFIFO(st.st_mode) &&
      fcntl(fd_, F_GETPIPE_SZ) < static_cast<int>(std::min<size_t>(block_, INT_MAX)))
    fcntl(fd_, F_SETPIPE_SZ, static_cast<int>(std::min<size_t>(block_, INT_MAX)));
  // Room for a partial piece carried over and a block.
  buffer_.reset(new unsigned char[piece_limit + block]);
  begin_ = end_ = buffer_.get();
}

Reader::~Reader() {
  read_error_target.store(nullptr);
  if (window_ != nullptr) {
    guard(-1, nullptr, 0, 0);
    munmap(window_, window_size_);
  }
}

void Reader::resume_on_read_error(sigjmp_buf* target) {
  read_error_target.store(target);
}

bool Reader::fill() {
  return buffer_ ? read_block() : map_window();
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

bool Reader::map_window() {
  off_t begin_at = window_offset_ + (begin_ - window_);
  off_t end_at = window_offset_ + (end_ - window_);
  // The file may have grown or shrunk since, as a read would find.
  struct stat st;
  if (fstat(fd_, &st) != 0) {
    failed_ = true;
    return false;
  }
  if (st.st_size <= end_at) {
    // Leave the offset where reading to the end would, for whoever reads on.
    lseek(fd_, end_at, SEEK_SET);
    at_end_ = true;
    return false;
  }
  // A window starts at the page that holds the partial piece carried over, and
  // reaches past the piece's longest end.
  auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  off_t from = begin_at - begin_at % static_cast<off_t>(page);
  size_t span = std::max(8 * block_, piece_limit + page);
  span += page - 1 - (span + page - 1) % page;
  size_t size = std::min(span, static_cast<size_t>(st.st_size - from));
  if (window_ != nullptr) munmap(window_, window_size_);
  void* window = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd_, from);
  if (window == MAP_FAILED) {
    window_ = begin_ = end_ = nullptr;
    failed_ = true;
    return false;
  }
  window_ = static_cast<unsigned char*>(window);
  window_size_ = size;
  window_offset_ = from;
  begin_ = window_ + (begin_at - from);
  end_ = window_ + size;
  guard(fd_, window_, window_size_, window_offset_);
  return true;
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
