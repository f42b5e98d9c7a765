#include "hlog_codec.h"

#include <algorithm>
#include <cstring>

#include "histogram.h"

namespace {

// The cookies that open the compressed text and the histogram within it.
constexpr uint32_t compressed_cookie = 0x1c849314;
constexpr uint32_t histogram_cookie = 0x1c849313;
// Cookie, payload length, index offset, digits, lowest, highest, ratio.
constexpr size_t header_size = 40;
// A ZigZag LEB128 varint is at most nine bytes: the ninth carries eight bits.
constexpr size_t max_varint_size = 9;
// No interval holds more values than this; it keeps every sum far from
// overflowing however many intervals a log holds.
constexpr int64_t max_line_count = int64_t{1} << 40;

constexpr char base64_digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void put_int(std::vector<unsigned char>* out, uint64_t v, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
    out->push_back(static_cast<unsigned char>(v >> shift));
}

uint64_t get_int(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

void put_varint(std::vector<unsigned char>* out, int64_t signed_value) {
  auto bits = static_cast<uint64_t>(signed_value);
  uint64_t v = (bits << 1) ^ (0 - (bits >> 63));
  for (size_t i = 1; i < max_varint_size && v >= 0x80; ++i) {
    out->push_back(static_cast<unsigned char>(v | 0x80));
    v >>= 7;
  }
  out->push_back(static_cast<unsigned char>(v));
}

void base64_encode(const std::vector<unsigned char>& bytes, std::string* text) {
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) text->push_back(base64_digits[(v >> shift) & 63]);
  }
  if (i == bytes.size()) return;
  uint32_t v = bytes[i] << 16;
  if (i + 1 < bytes.size()) v |= bytes[i + 1] << 8;
  text->push_back(base64_digits[v >> 18]);
  text->push_back(base64_digits[(v >> 12) & 63]);
  text->push_back(i + 1 < bytes.size() ? base64_digits[(v >> 6) & 63] : '=');
  text->push_back('=');
}

// The value of each base64 digit, 64 for any other byte.
constexpr std::array<unsigned char, 256> base64_values = [] {
  std::array<unsigned char, 256> values{};
  values.fill(64);
  for (unsigned char i = 0; i < 64; ++i) values[static_cast<unsigned char>(base64_digits[i])] = i;
  return values;
}();

bool base64_decode(std::string_view text, std::vector<unsigned char>* bytes) {
  if (text.size() % 4 != 0) return false;
  size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  bytes->resize(text.size() / 4 * 3);
  unsigned char* out = bytes->data();
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t v = 0;
    unsigned char bad = 0;
    for (size_t k = 0; k < 4; ++k) {
      // Padding counts as zero bits, and only where it belongs.
      bool pad = i + k >= text.size() - padding;
      unsigned char digit = pad ? 0 : base64_values[static_cast<unsigned char>(text[i + k])];
      bad |= digit;
      v = v << 6 | digit;
    }
    if (bad & 64) return false;
    *out++ = static_cast<unsigned char>(v >> 16);
    *out++ = static_cast<unsigned char>(v >> 8);
    *out++ = static_cast<unsigned char>(v);
  }
  bytes->erase(bytes->end() - static_cast<std::ptrdiff_t>(padding), bytes->end());
  return true;
}

// zlib allocates through operator new, so that running out of memory in it
// ends the program as anywhere else.
voidpf allocate(voidpf, uInt items, uInt size) {
  return ::operator new (size_t{items} * size);
}
void release(voidpf, voidpf address) {
  ::operator delete(address);
}

}  // namespace

HistogramCodec::HistogramCodec() {
  for (z_stream* stream : {&deflater_, &inflater_}) {
    stream->zalloc = allocate;
    stream->zfree = release;
  }
  // The fastest level: higher ones make the log some 10 % smaller and writing
  // it several times slower, for all the time reading it takes.
  deflateInit(&deflater_, Z_BEST_SPEED);
  inflateInit(&inflater_);
}

HistogramCodec::~HistogramCodec() {
  deflateEnd(&deflater_);
  inflateEnd(&inflater_);
}

void HistogramCodec::encode(const Histogram& histogram, std::string* text) {
  // The Java library encodes the counts up to the last one that is not zero.
  size_t end = histogram.counts_size();
  while (end > 0 && histogram.count_at_index(end - 1) == 0) --end;
  raw_.clear();
  put_int(&raw_, histogram_cookie, 4);
  put_int(&raw_, 0, 4);  // The payload length, set below.
  put_int(&raw_, static_cast<uint32_t>(histogram.normalizing_index_offset()), 4);
  put_int(&raw_, static_cast<uint32_t>(histogram.digits()), 4);
  put_int(&raw_, static_cast<uint64_t>(histogram.lowest_trackable()), 8);
  put_int(&raw_, static_cast<uint64_t>(histogram.highest_trackable()), 8);
  double ratio = 1.0;
  uint64_t ratio_bits = 0;
  std::memcpy(&ratio_bits, &ratio, sizeof ratio);
  put_int(&raw_, ratio_bits, 8);
  for (size_t i = 0; i < end;) {
    int64_t count = histogram.count_at_index(i++);
    if (count == 0) {
      int64_t zeros = 1;
      for (; i < end && histogram.count_at_index(i) == 0; ++i) ++zeros;
      if (zeros > 1) count = -zeros;
    }
    put_varint(&raw_, count);
  }
  uint64_t payload = raw_.size() - header_size;
  for (int i = 0; i < 4; ++i) raw_[4 + i] = static_cast<unsigned char>(payload >> (24 - 8 * i));

  deflateReset(&deflater_);
  packed_.resize(8 + deflateBound(&deflater_, raw_.size()));
  deflater_.next_in = raw_.data();
  deflater_.avail_in = static_cast<uInt>(raw_.size());
  deflater_.next_out = packed_.data() + 8;
  deflater_.avail_out = static_cast<uInt>(packed_.size() - 8);
  // With room for the bound of its output, one call deflates all of it.
  deflate(&deflater_, Z_FINISH);
  size_t packed_size = deflater_.total_out;
  packed_.resize(8 + packed_size);
  for (int i = 0; i < 4; ++i) {
    packed_[i] = static_cast<unsigned char>(compressed_cookie >> (24 - 8 * i));
    packed_[4 + i] = static_cast<unsigned char>(packed_size >> (24 - 8 * i));
  }
  base64_encode(packed_, text);
}

const char* HistogramCodec::decode(std::string_view text, const Histogram& layout) {
  counts_.clear();
  if (!base64_decode(text, &packed_)) return "histogram is not base64";
  if (packed_.size() < 8 || get_int(packed_.data(), 4) != compressed_cookie)
    return "not a compressed histogram of the V2 encoding";
  if (get_int(packed_.data() + 4, 4) != packed_.size() - 8)
    return "compressed length does not match the histogram's size";
  inflateReset(&inflater_);
  inflater_.next_in = packed_.data() + 8;
  inflater_.avail_in = static_cast<uInt>(packed_.size() - 8);
  const char* what = inflate_counts(layout);
  if (what) counts_.clear();
  return what;
}

const char* HistogramCodec::inflate_counts(const Histogram& layout) {
  // Inflates a chunk at a time, so that a stream that inflates without end
  // costs time in proportion to the payload length its header allows, and no
  // memory at all.
  unsigned char header[header_size];
  size_t have = 0;
  int status = Z_OK;
  size_t payload_left = 0;
  Histogram::Layout encoded{};
  size_t index = 0;
  uint64_t varint = 0;
  size_t varint_bytes = 0;
  int64_t total = 0;
  while (status != Z_STREAM_END) {
    inflater_.next_out = chunk_.data();
    inflater_.avail_out = static_cast<uInt>(chunk_.size());
    status = inflate(&inflater_, Z_NO_FLUSH);
    if (status == Z_BUF_ERROR) return "compressed histogram is cut short";
    if (status != Z_OK && status != Z_STREAM_END) return "compressed histogram does not inflate";
    size_t produced = chunk_.size() - inflater_.avail_out;
    const unsigned char* p = chunk_.data();
    const unsigned char* end = p + produced;
    if (have < header_size) {
      size_t n = std::min(header_size - have, produced);
      std::memcpy(header + have, p, n);
      have += n;
      p += n;
      if (have < header_size) continue;
      if (get_int(header, 4) != histogram_cookie) return "not a histogram of the V2 encoding";
      auto offset = static_cast<int32_t>(get_int(header + 8, 4));
      auto digits = static_cast<int32_t>(get_int(header + 12, 4));
      auto lowest = static_cast<int64_t>(get_int(header + 16, 8));
      auto highest = static_cast<int64_t>(get_int(header + 24, 8));
      if (offset != 0) return "histogram has a shifted index, which is not supported";
      if (!Histogram::layout_of(lowest, highest, digits, &encoded))
        return "histogram header has impossible digits, lowest or highest value";
      payload_left = get_int(header + 4, 4);
      if (payload_left > encoded.size * max_varint_size)
        return "payload length is impossible for the histogram's layout";
    }
    if (static_cast<size_t>(end - p) > payload_left)
      return "payload is longer than its header says";
    payload_left -= static_cast<size_t>(end - p);
    for (; p < end; ++p) {
      varint |= static_cast<uint64_t>(*p & (varint_bytes + 1 < max_varint_size ? 0x7f : 0xff))
                << (7 * varint_bytes);
      if (++varint_bytes < max_varint_size && (*p & 0x80)) continue;
      auto count = static_cast<int64_t>((varint >> 1) ^ (0 - (varint & 1)));
      varint = 0;
      varint_bytes = 0;
      // A negative count stands for that many empty buckets.
      uint64_t slots = count < 0 ? 0 - static_cast<uint64_t>(count) : 1;
      if (slots > encoded.size - index) return "count run overflows the histogram's layout";
      if (count > 0) {
        if (count > max_line_count - total) return "histogram counts too many values";
        total += count;
        int64_t highest = layout.highest_trackable();
        // The layout is that of the histogram the text was encoded from, which
        // may differ from the destination's; its counts array is only walked.
        int64_t value = Histogram::value_at(encoded, index);
        if (value <= highest) value = layout.lowest_equivalent(value);
        bool merged = !counts_.empty() && (counts_.back().first == value ||
                                           (value > highest && counts_.back().first > highest));
        if (!merged) counts_.emplace_back(value, 0);
        counts_.back() = {value, counts_.back().second + count};
      }
      index += slots;
    }
  }
  if (have < header_size) return "compressed histogram is shorter than its header";
  if (payload_left != 0 || inflater_.avail_in != 0 || varint_bytes != 0)
    return "payload is shorter than its header says";
  return nullptr;
}
