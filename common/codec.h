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
};

}  // namespace caplat
