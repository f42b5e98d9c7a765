#pragma once

#include <zlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base64.h"
#include "histogram.h"

namespace caplat::stat {

// Converts histograms to and from the text form of HdrHistogram's compressed V2
// encoding: base64 of a cookie, a length and a zlib stream that holds the
// histogram's header and its counts as ZigZag LEB128 with runs of zeros.
class HistogramCodec {
 public:
  HistogramCodec();
  ~HistogramCodec();

  HistogramCodec(const HistogramCodec&) = delete;
  HistogramCodec& operator=(const HistogramCodec&) = delete;

  // Appends the encoding of histogram to text.
  void encode(const Histogram& histogram, std::string* text);

  // Hands out the text to decode a piece at a time; an empty piece ends it.
  using TextSource = Base64Stream::Source;

  // Decodes the text that source hands out, whatever layout it was encoded
  // with, into counts(); returns nullptr, or what is wrong with the text,
  // leaving counts() empty. Memory does not grow with the text's length.
  const char* decode(const TextSource& source, const Histogram& layout);

  // Decodes text, as the other decode does.
  const char* decode(std::string_view text, const Histogram& layout);

  // The decoded counts as (value, count), in increasing order of value: each
  // value the lowest of its range in layout, but for one last count of all the
  // values above layout's highest trackable value, under the largest of them.
  const std::vector<std::pair<int64_t, int64_t>>& counts() const { return counts_; }

 private:
  // Compressed bytes decoded from the text at a time, a multiple of 3.
  static constexpr size_t decode_block = 12288;
  // The histogram's header: cookie, payload length, index offset, digits,
  // lowest, highest, ratio.
  static constexpr size_t header_size = 40;

  // Where the parse of the inflated bytes stands.
  struct Parse {
    unsigned char header[header_size] = {};
    size_t have = 0;
    size_t payload_left = 0;
    Histogram::Layout encoded{};
    size_t index = 0;
    uint64_t varint = 0;
    size_t varint_bytes = 0;
    int64_t total = 0;
  };

  const char* inflate_text(const TextSource& source, const Histogram& layout);
  const char* parse_counts(const unsigned char* p, const unsigned char* end,
                           const Histogram& layout);

  Parse parse_;
  std::vector<unsigned char> raw_;
  std::vector<unsigned char> packed_;
  // Counts of the encoded layout that fall in one range of the destination's
  // are merged as they arrive, so that their number stays within its layout.
  std::vector<std::pair<int64_t, int64_t>> counts_;
  std::array<unsigned char, 16384> chunk_{};
  z_stream deflater_{};
  z_stream inflater_{};
};

}  // namespace caplat::stat
