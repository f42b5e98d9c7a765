#include "source.h"

#include <fcntl.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace caplat {

namespace {

// Buffers of decompressed bytes between the two threads: with one being read
// and one being filled, the others absorb the moments when either runs slow.
// Two to sixteen ran alike on the benchmark logs; four keep memory low.
constexpr size_t slot_count = 4;

// Compressed bytes read at a time to peek, so that little more is held than
// the first bytes need.
constexpr size_t peek_step = 4096;

using std::literals::string_view_literals::operator""sv;

struct Magic {
  std::string_view bytes;
  Source::Format format;
  // The bits of the first byte that must match.
  unsigned char first_mask = 0xff;
};

// A skippable zstd frame, which pzstd puts ahead of every frame, has sixteen
// magic numbers, apart in the first byte's low bits; lz4's legacy format has
// a number of its own.
const Magic magics[] = {{"\x1f\x8b"sv, Source::Gzip},
                        {"\x28\xb5\x2f\xfd"sv, Source::Zstd},
                        {"\x50\x2a\x4d\x18"sv, Source::Zstd, 0xf0},
                        {"\xfd\x37\x7a\x58\x5a\x00"sv, Source::Xz},
                        {"BZh"sv, Source::Bzip2},
                        {"\x04\x22\x4d\x18"sv, Source::Lz4},
                        {"\x02\x21\x4c\x18"sv, Source::Lz4}};

// Decodes one compressed format a step at a time.
class Codec {
 public:
  virtual ~Codec() = default;

  // Decodes from *in up to in_end into *out up to out_end until the input is
  // used up or the output full, moving both on, also past what was decoded
  // before damage is found; false where the data is damaged.
  virtual bool decode(const unsigned char** in, const unsigned char* in_end, unsigned char** out,
                      unsigned char* out_end) = 0;

  // True if the data decoded so far ends where a member or a frame ends.
  virtual bool at_end() const = 0;

  // What is wrong with the data, once decode has failed.
  virtual std::string error() const = 0;
};

// Reads the header of a gzip member as its bytes arrive, checking its magic
// number, method, flags and, if it has one, its CRC.
class GzipHeader {
 public:
  enum Status { Partial, Done, Bad };

  // Takes header bytes from *in up to end, moving on; Partial if the header
  // goes on past end.
  Status take(const unsigned char** in, const unsigned char* end) {
    while (*in < end) {
      unsigned char c = *(*in)++;
      if (field_ != Crc) crc_ = crc32_gzip_refl(crc_, &c, 1);
      switch (field_) {
        case Fixed:
          if (count_ < sizeof fixed && (c & fixed_mask[count_]) != fixed[count_]) return Bad;
          if (count_ == flags_at) flags_ = c;
          if (++count_ == fixed_size) advance();
          break;
        case ExtraSize:
          left_ |= uint32_t{c} << (8 * count_);
          if (++count_ < 2) break;
          if (left_ == 0) {
            advance();
          } else {
            field_ = Extra;
          }
          break;
        case Extra:
          if (--left_ == 0) advance();
          break;
        case Name:
        case Comment:
          if (c == 0) advance();
          break;
        case Crc:
          left_ |= uint32_t{c} << (8 * count_);
          if (++count_ == 2) {
            if (left_ != (crc_ & 0xffff)) return Bad;
            advance();
          }
          break;
        case End:
          break;
      }
      if (field_ == End) return Done;
    }
    return Partial;
  }

 private:
  // The fields in their order; those after Fixed are there if the flag of
  // the same bit is set: FEXTRA, FNAME, FCOMMENT, FHCRC. Extra follows its
  // size only if that is not 0.
  enum Field { Fixed, ExtraSize, Extra, Name, Comment, Crc, End };
  static constexpr unsigned char flag_of[] = {0, 4, 4, 8, 16, 2, 0};
  static constexpr size_t fixed_size = 10;
  static constexpr size_t flags_at = 3;
  // The magic number and deflate; of the flags, the reserved bits must be clear.
  static constexpr unsigned char fixed[] = {0x1f, 0x8b, 8, 0};
  static constexpr unsigned char fixed_mask[] = {0xff, 0xff, 0xff, 0xe0};

  void advance() {
    count_ = 0;
    left_ = 0;
    do {
      field_ = static_cast<Field>(field_ + 1);
    } while (field_ != End && (field_ == Extra || (flags_ & flag_of[field_]) == 0));
  }

  Field field_ = Fixed;
  size_t count_ = 0;
  unsigned char flags_ = 0;
  uint32_t left_ = 0;
  uint32_t crc_ = 0;
};

// Gzip members, one after another: the header read here, the deflate data
// and the trailer by ISA-L's igzip, which checks the CRC and the length. (Its
// own header reader loses its place in a header that arrives in pieces.)
class GzipCodec final : public Codec {
 public:
  GzipCodec() : state_(std::make_unique<inflate_state>()) {}

  bool decode(const unsigned char** in, const unsigned char* in_end, unsigned char** out,
              unsigned char* out_end) override {
    do {
      if (in_header_) {
        if (*in < in_end) between_members_ = false;
        GzipHeader::Status status = header_.take(in, in_end);
        if (status == GzipHeader::Bad) return false;
        if (status == GzipHeader::Partial) break;
        in_header_ = false;
        isal_inflate_init(state_.get());
        state_->crc_flag = ISAL_GZIP_NO_HDR_VER;
      }
      // The lengths fit 32 bits: they are at most a block.
      state_->next_in = const_cast<unsigned char*>(*in);
      state_->avail_in = static_cast<uint32_t>(in_end - *in);
      state_->next_out = *out;
      state_->avail_out = static_cast<uint32_t>(out_end - *out);
      int status = isal_inflate(state_.get());
      *in = state_->next_in;
      *out = state_->next_out;
      if (status != ISAL_DECOMP_OK) return false;
      // igzip gives back the bytes it read past a member's end.
      if (state_->block_state == ISAL_BLOCK_FINISH) {
        in_header_ = true;
        header_ = GzipHeader();
        between_members_ = true;
      }
    } while (*in < in_end && *out < out_end);
    return true;
  }

  bool at_end() const override { return between_members_; }

  std::string error() const override { return "damaged gzip data"; }

 private:
  GzipHeader header_;
  bool in_header_ = true;
  std::unique_ptr<inflate_state> state_;
  bool between_members_ = false;
};

// Zstd frames, one after another, skippable ones among them, by libzstd, with
// its default limit on the window: 128 MiB, as the zstd command has it.
class ZstdCodec final : public Codec {
 public:
  ZstdCodec() : stream_(ZSTD_createDStream()) {}
  ~ZstdCodec() override { ZSTD_freeDStream(stream_); }
  ZstdCodec(const ZstdCodec&) = delete;
  ZstdCodec& operator=(const ZstdCodec&) = delete;

  bool decode(const unsigned char** in, const unsigned char* in_end, unsigned char** out,
              unsigned char* out_end) override {
    ZSTD_inBuffer input{*in, static_cast<size_t>(in_end - *in), 0};
    ZSTD_outBuffer output{*out, static_cast<size_t>(out_end - *out), 0};
    bool ok = true;
    do {
      size_t in_before = input.pos, out_before = output.pos;
      size_t hint = ZSTD_decompressStream(stream_, &output, &input);
      if (ZSTD_isError(hint)) {
        error_ = ZSTD_getErrorName(hint);
        ok = false;
        break;
      }
      // A call that moves nothing, such as one without input between frames,
      // tells nothing about where the frame stands.
      if (input.pos != in_before || output.pos != out_before) at_frame_end_ = hint == 0;
    } while (input.pos < input.size && output.pos < output.size);
    *in += input.pos;
    *out += output.pos;
    return ok;
  }

  bool at_end() const override { return at_frame_end_; }

  std::string error() const override { return "damaged zstd data (" + error_ + ")"; }

 private:
  ZSTD_DStream* stream_;
  bool at_frame_end_ = false;
  std::string error_;
};

std::unique_ptr<Codec> make_codec(Source::Format format) {
  if (format == Source::Gzip) return std::make_unique<GzipCodec>();
  return std::make_unique<ZstdCodec>();
}

}  // namespace

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

  // True if no decompressed bytes wait to be read and more are to come.
  bool would_wait();

  // What went wrong, once read has returned -1.
  const char* error() const { return error_.c_str(); }

 private:
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

Decompressor::Decompressor(Source::Format format, int fd, const unsigned char* head,
                           size_t head_size, bool ended, int error_number, size_t block)
    : format_(format),
      fd_(fd),
      block_(block),
      codec_(make_codec(format)),
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

bool Decompressor::would_wait() {
  std::lock_guard<std::mutex> lock(mutex_);
  return threaded_ && filled_ == 0 && state_ == More;
}

Source::Format Source::format_of(const unsigned char* head, size_t size) {
  for (const Magic& magic : magics) {
    if (size < magic.bytes.size()) continue;
    if ((head[0] & magic.first_mask) == static_cast<unsigned char>(magic.bytes[0]) &&
        memcmp(head + 1, magic.bytes.data() + 1, magic.bytes.size() - 1) == 0)
      return magic.format;
  }
  return Plain;
}

const char* Source::name(Format format) {
  static const char* const names[] = {"plain", "gzip", "zstd", "xz", "bzip2", "lz4"};
  return names[format];
}

Source::Source(int fd, size_t block) : fd_(fd), block_(block) {
  // A pipe as large as a block lets the writer run further ahead between our
  // reads, and reads that large wake both sides less often (0.52 times the
  // time of `wc -l` on the same pipe, against 0.71 with the pipe as it was).
  // Beyond the system's limit the pipe stays as it is.
  struct stat st;
  if (fstat(fd_, &st) == 0 && S_ISFIFO(st.st_mode) &&
      fcntl(fd_, F_GETPIPE_SZ) < static_cast<int>(std::min<size_t>(block_, INT_MAX)))
    fcntl(fd_, F_SETPIPE_SZ, static_cast<int>(std::min<size_t>(block_, INT_MAX)));
}

Source::~Source() = default;

bool Source::read_head(size_t size) {
  if (ended_ || error_number_ != 0) return false;
  size_t have = head_.size();
  head_.resize(size);
  for (;;) {
    ssize_t n = ::read(fd_, head_.data() + have, size - have);
    if (n > 0) {
      head_.resize(have + static_cast<size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    head_.resize(have);
    if (n == 0) {
      ended_ = true;
    } else {
      error_number_ = errno;
    }
    return false;
  }
}

Source::Format Source::open() {
  while (head_.size() < magic_size && read_head(magic_size)) {
  }
  format_ = format_of(head_.data(), head_.size());
  return format_;
}

size_t Source::peek(unsigned char* data, size_t size) {
  if (!decompressed()) {
    while (head_.size() - head_used_ < size && read_head(head_used_ + size)) {
    }
    size = std::min(size, head_.size() - head_used_);
    memcpy(data, head_.data() + head_used_, size);
    return size;
  }
  // A codec of its own decodes the head, which grows until it yields enough;
  // reading then decodes it again from its start.
  std::unique_ptr<Codec> codec = make_codec(format_);
  unsigned char* out = data;
  size_t used = 0;
  for (;;) {
    const unsigned char* in = head_.data() + used;
    if (!codec->decode(&in, head_.data() + head_.size(), &out, data + size)) break;
    used = static_cast<size_t>(in - head_.data());
    if (out == data + size || head_.size() >= block_ ||
        !read_head(std::min(head_.size() + peek_step, block_)))
      break;
  }
  return static_cast<size_t>(out - data);
}

ssize_t Source::read(unsigned char* data, size_t size) {
  if (decompressed()) {
    if (!decompressor_) {
      decompressor_ = std::make_unique<Decompressor>(format_, fd_, head_.data(), head_.size(),
                                                     ended_, error_number_, block_);
    }
    return decompressor_->read(data, size);
  }
  if (head_used_ < head_.size()) {
    size_t n = std::min(size, head_.size() - head_used_);
    memcpy(data, head_.data() + head_used_, n);
    head_used_ += n;
    return static_cast<ssize_t>(n);
  }
  if (ended_) return 0;
  if (error_number_ != 0) return -1;
  for (;;) {
    ssize_t n = ::read(fd_, data, size);
    if (n >= 0) return n;
    if (errno != EINTR) {
      error_number_ = errno;
      return -1;
    }
  }
}

bool Source::would_wait() {
  if (decompressed()) return decompressor_ && decompressor_->would_wait();
  if (head_used_ < head_.size() || ended_ || error_number_ != 0) return false;
  struct pollfd ready = {fd_, POLLIN, 0};
  return poll(&ready, 1, 0) == 0;
}

const char* Source::error() const {
  if (decompressor_) return decompressor_->error();
  return strerror(error_number_);
}

}  // namespace caplat
