#include "decompressor.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace caplat {

Decompressor::Decompressor(Source::Format format, int fd, const unsigned char* head,
                           size_t head_size, bool ended, int error_number, size_t block)
    : format_(format),
      fd_(fd),
      block_(block),
      codec_(Codec::make(format)),
      in_(new unsigned char[block]),
      raw_ended_(ended),
      raw_error_(error_number) {
  struct stat st;
  regular_ = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  memcpy(in_.get(), head, head_size);
  in_begin_ = in_.get();
  in_end_ = in_begin_ + head_size;
  for (Slot& slot : slots_) slot.data.reset(new unsigned char[block]);
  if (!regular_) stop_fd_ = eventfd(0, EFD_CLOEXEC);
  if (regular_ || stop_fd_ >= 0) {
    // Signals stay with the reader's thread, as before there was a second.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    threaded_ = pthread_create(&thread_, nullptr, run, this) == 0;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
}

Decompressor::~Decompressor() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  emptied_cv_.notify_one();
  if (stop_fd_ >= 0) eventfd_write(stop_fd_, 1);
  if (threaded_) pthread_join(thread_, nullptr);
  if (stop_fd_ >= 0) close(stop_fd_);
}

void* Decompressor::run(void* self) {
  while (static_cast<Decompressor*>(self)->produce()) {
  }
  return nullptr;
}

bool Decompressor::produce() {
  size_t index;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    emptied_cv_.wait(lock, [this] { return filled_ < slot_count || stop_; });
    if (stop_) return false;
    index = (read_slot_ + filled_) % slot_count;
  }
  Step step = fill(&slots_[index]);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (slots_[index].size > 0) ++filled_;
    if (step != More) state_ = step;
  }
  filled_cv_.notify_one();
  return step == More;
}

bool Decompressor::wait_for_input() {
  if (regular_) return true;
  struct pollfd fds[] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
  while (poll(fds, 2, -1) < 0) {
    if (errno != EINTR) return true;
  }
  return fds[1].revents == 0;
}

Decompressor::Step Decompressor::fill(Slot* slot) {
  unsigned char* const begin = slot->data.get();
  unsigned char* const end = begin + block_;
  unsigned char* out = begin;
  Step step = More;
  for (;;) {
    if (in_begin_ == in_end_ && drained_) {
      if (raw_error_ != 0) {
        error_ = strerror(raw_error_);
        step = Failed;
        break;
      }
      if (raw_ended_) {
        if (!codec_->at_end()) {
          error_ = std::string("truncated ") + Source::name(format_) + " data";
          step = Failed;
        } else {
          step = Ended;
        }
        break;
      }
      // What is decoded goes to the reader before a read that would wait, so
      // that a live capture's results come out as its data arrives.
      struct pollfd ready = {fd_, POLLIN, 0};
      if (out > begin && !regular_ && poll(&ready, 1, 0) == 0) break;
      if (!wait_for_input()) {
        step = Stopped;
        break;
      }
      ssize_t n = ::read(fd_, in_.get(), block_);
      if (n > 0) {
        in_begin_ = in_.get();
        in_end_ = in_begin_ + n;
      } else if (n == 0) {
        raw_ended_ = true;
      } else if (errno != EINTR) {
        raw_error_ = errno;
      }
      continue;
    }
    if (!codec_->decode(&in_begin_, in_end_, &out, end)) {
      error_ = codec_->error();
      step = Failed;
      break;
    }
    drained_ = out < end;
    if (out == end) break;
  }
  slot->size = static_cast<size_t>(out - begin);
  return step;
}

ssize_t Decompressor::read(unsigned char* data, size_t size) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!threaded_ && filled_ == 0 && state_ == More) {
    lock.unlock();
    produce();
    lock.lock();
  }
  filled_cv_.wait(lock, [this] { return filled_ > 0 || state_ != More; });
  if (filled_ == 0) return state_ == Ended ? 0 : -1;
  const Slot& slot = slots_[read_slot_];
  lock.unlock();
  size_t n = std::min(size, slot.size - taken_);
  memcpy(data, slot.data.get() + taken_, n);
  taken_ += n;
  if (taken_ == slot.size) {
    taken_ = 0;
    lock.lock();
    read_slot_ = (read_slot_ + 1) % slot_count;
    --filled_;
    lock.unlock();
    emptied_cv_.notify_one();
  }
  return static_cast<ssize_t>(n);
}

bool Decompressor::wait(int timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Without a thread of its own, a read decompresses rather than waits.
  return !threaded_ || filled_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                           [this] { return filled_ > 0 || state_ != More; });
}

}  // namespace caplat
