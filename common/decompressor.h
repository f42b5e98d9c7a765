#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "codec.h"
#include "source.h"

namespace caplat {

// Decompresses an input on a thread of its own into a ring of buffers that the
// reader takes in turn. Where no thread can be started, the reader's own
// thread fills a buffer whenever it has read all of them.
class Decompressor {
 public:
  // Decompresses head, then fd from its offset unless the input ended (or
  // failed with error_number) in the head.
  Decompressor(Source::Format format, int fd, const unsigned char* head, size_t head_size,
               bool ended, int error_number, size_t block);
  ~Decompressor();
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  // As Source::read.
  ssize_t read(unsigned char* data, size_t size);

  // As Source::wait: true once decompressed bytes are ready to be read, or the
  // input has ended or failed, within timeout_ms; false if none came in time.
  bool wait(int timeout_ms);

  // What went wrong, once read has returned -1.
  const char* error() const { return error_.c_str(); }

 private:
  // Buffers of decompressed bytes between the two threads: with one being read
  // and one being filled, the others absorb the moments when either runs slow.
  // Two to sixteen ran alike on the benchmark logs; four keep memory low.
  static constexpr size_t slot_count = 4;

  enum Step { More, Ended, Failed, Stopped };
  struct Slot {
    std::unique_ptr<unsigned char[]> data;
    size_t size = 0;
  };

  static void* run(void* self);
  bool produce();
  Step fill(Slot* slot);
  bool wait_for_input();

  // Owned by the decompressing thread.
  Source::Format format_;
  int fd_;
  size_t block_;
  bool regular_;
  std::unique_ptr<Codec> codec_;
  std::unique_ptr<unsigned char[]> in_;
  const unsigned char* in_begin_;
  const unsigned char* in_end_;
  // False while the codec may hold output that a full buffer had no room for.
  bool drained_ = true;
  bool raw_ended_;
  int raw_error_;

  // Shared, under mutex_: slots [read_slot_, read_slot_ + filled_) are
  // filled, the first of them being read; the end, once reached, is state_.
  std::mutex mutex_;
  std::condition_variable filled_cv_, emptied_cv_;
  Slot slots_[slot_count];
  size_t read_slot_ = 0;
  size_t filled_ = 0;
  Step state_ = More;
  bool stop_ = false;
  std::string error_;

  // Owned by the reader: the bytes of the first slot already handed out.
  size_t taken_ = 0;

  // Wakes the decompressing thread from its wait for input when the reader
  // goes; -1 for regular files, whose reads do not wait.
  int stop_fd_ = -1;
  pthread_t thread_{};
  bool threaded_ = false;
};

}  // namespace caplat
