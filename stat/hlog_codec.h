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

  // Appends the encoding of histogram to text; false if zlib fails.
  bool encode(const Histogram& histogram, std::string* text);

  // Adds the histogram encoded in text to into, whatever layout it was encoded
  // with, and adds to over_range the count of its values above into's highest
  // trackable value. Returns nullptr, or what is wrong with text, adding nothing.
  const char* decode(std::string_view text, Histogram* into, int64_t* over_range);

 private:
  const char* inflate_counts(Histogram* into, int64_t* over_range);

  std::vector<unsigned char> raw_;
  std::vector<unsigned char> packed_;
  // Decoded counts by index of the destination, merged while they arrive in
  // index order, and applied only once the whole text has proved sound.
  std::vector<std::pair<size_t, int64_t>> pending_;
  std::array<unsigned char, 16384> chunk_{};
  z_stream inflater_{};
  bool inflater_ready_ = false;
};
