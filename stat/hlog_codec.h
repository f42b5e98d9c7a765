#pragma once

#include <zlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class Histogram;

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

  // Decodes text, whatever layout it was encoded with, into counts(); returns
  // nullptr, or what is wrong with text, leaving counts() empty.
  const char* decode(std::string_view text, const Histogram& layout);

  // The decoded counts as (value, count), in increasing order of value: each
  // value the lowest of its range in layout, but for one last count of all the
  // values above layout's highest trackable value, under the largest of them.
  const std::vector<std::pair<int64_t, int64_t>>& counts() const { return counts_; }

 private:
  const char* inflate_counts(const Histogram& layout);

  std::vector<unsigned char> raw_;
  std::vector<unsigned char> packed_;
  // Counts of the encoded layout that fall in one range of the destination's
  // are merged as they arrive, so that their number stays within its layout.
  std::vector<std::pair<int64_t, int64_t>> counts_;
  std::array<unsigned char, 16384> chunk_{};
  z_stream deflater_{};
  z_stream inflater_{};
};
