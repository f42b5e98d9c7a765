#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace caplat {

// The bytes of an input read from a descriptor: as they are, or, when its first
// bytes show gzip or zstd, decompressed on a thread of its own into a few
// buffers that the reader takes in turn, so that both run at once.
class Source {
 public:
  // What the first bytes of an input show.
  enum Format { Plain, Gzip, Zstd, Xz, Bzip2, Lz4 };

  // The most bytes that tell a format.
  static constexpr size_t magic_size = 6;

  // The format that the first size bytes at head show; Plain for any other.
  static Format format_of(const unsigned char* head, size_t size);

  // The name of a format in messages, such as "xz".
  static const char* name(Format format);

  // Reads descriptor fd from its current offset, block bytes at a time, and
  // decompresses into buffers of block bytes; fd is not closed here.
  Source(int fd, size_t block);
  ~Source();
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  // Reads the first bytes, which tell the format, and for gzip and zstd the
  // first header too, if it lies within the first block; true if the input is
  // read: plain, or gzip or zstd decompressed. False for xz, bzip2 and lz4,
  // and for a first header that is damaged or asks for more than is read;
  // error then says why, and the caller reads no further. A read error here
  // is met again by the first read.
  bool open();

  // The format that the first bytes show, once open.
  Format format() const { return format_; }

  // Sets data to the first bytes of the input, decompressed, and returns their
  // count: up to size, fewer if the input or its first block ends sooner. They
  // are still handed out by read.
  size_t peek(unsigned char* data, size_t size);

  // Reads up to size bytes into data; the count, 0 at the end of the input, -1
  // after a read error or where compressed data is damaged or cut short.
  ssize_t read(unsigned char* data, size_t size);

  // Waits at most timeout_ms milliseconds for input that the next read takes
  // without waiting; true if it has some (or the end, or an error), false
  // if none came.
  bool wait(int timeout_ms);

  // What went wrong, once open has refused the input or read has returned -1.
  const char* error() const;

 private:
  // Reads once into the head, up to size bytes in all; false at the end of the
  // input or on a read error, which are kept for the reads to come.
  bool read_head(size_t size);
  bool decompressed() const { return format_ == Gzip || format_ == Zstd; }

  int fd_;
  size_t block_;
  Format format_ = Plain;
  // The first bytes, read to tell the format (and more to peek), handed out
  // or decompressed before any more is read.
  std::vector<unsigned char> head_;
  size_t head_used_ = 0;
  // Met while reading the head: the end of the input, or a read error.
  bool ended_ = false;
  int error_number_ = 0;
  // Why open refused the input, or empty.
  std::string refusal_;
  std::unique_ptr<class Decompressor> decompressor_;
};

}  // namespace caplat
