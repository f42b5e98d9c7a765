#pragma once

#include <memory>
#include <string>

#include "source.h"

namespace caplat {

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

  // A codec of format, gzip or zstd, at the start of its first member or
  // frame.
  static std::unique_ptr<Codec> make(Source::Format format);

  // What the first header of compressed data shows before anything of it is
  // decoded: that it goes on past the bytes at hand, that the data can be
  // read, or that it cannot.
  enum Verdict { Partial, Readable, Refused };

  // Reads the first gzip member's header, or the first zstd frame's (past
  // skippable frames), from the size bytes at head; on Refused, sets why to
  // the reason, such as a window larger than zstd_window_limit.
  static Verdict check_start(Source::Format format, const unsigned char* head, size_t size,
                             std::string* why);

  // The largest zstd window read, 128 MiB: what `zstd -d` accepts without
  // --long or --memory, and so every frame that zstd writes by default at
  // any level. The decoder holds a window of that size; a larger one, asked
  // for by `zstd --long=31` among others, would let a file claim up to 2 GiB
  // of memory.
  static constexpr size_t zstd_window_limit = size_t{1} << 27;
};

}  // namespace caplat
