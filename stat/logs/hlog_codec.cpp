#include "hlog_codec.h"

#include <algorithm>
#include <cstring>

#include "base64.h"
#include "histogram.h"

namespace caplat::stat {

namespace {

// The cookies that open the compressed text and the histogram within it.
constexpr uint32_t compressed_cookie = 0x1c849314;
constexpr uint32_t histogram_cookie = 0x1c849313;
// A ZigZag LEB128 varint is at most nine bytes: the ninth carries eight bits.
constexpr size_t max_varint_size = 9;
// No interval holds more values than this; it keeps every sum far from
// overflowing however many intervals a log holds.
constexpr int64_t max_line_count = int64_t{1} << 40;

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
  // The Java library encodes the counts up to the last one that is not zero,
  // a run of zeros before each as minus its length (a lone zero as 0).
  size_t end = 0;
  histogram.for_each_count([&](size_t i, int64_t count) {
    size_t zeros = i - end;
    if (zeros > 0) put_varint(&raw_, zeros == 1 ? 0 : -static_cast<int64_t>(zeros));
    put_varint(&raw_, count);
    end = i + 1;
    return true;
  });
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
  bool given = false;
  return decode(
      [&]() {
        std::string_view piece = given ? std::string_view() : text;
        given = true;
        return piece;
      },
      layout);
}

const char* HistogramCodec::decode(const TextSource& source, const Histogram& layout) {
  counts_.clear();
  parse_ = Parse();
  const char* what = inflate_text(source, layout);
  if (what) counts_.clear();
  return what;
}

const char* HistogramCodec::inflate_text(const TextSource& source, const Histogram& layout) {
  // A block of the compressed bytes at a time, so that a line of any length
  // costs no more memory than this, and a stream that inflates without end
  // costs time in proportion to the payload length its header allows.
  static constexpr const char* not_base64 = "histogram is not base64";
  Base64Stream text(source);
  packed_.resize(decode_block);
  size_t n = text.read(packed_.data(), packed_.size());
  if (text.bad()) return not_base64;
  if (n < 8 || get_int(packed_.data(), 4) != compressed_cookie)
    return "not a compressed histogram of the V2 encoding";
  uint64_t declared = get_int(packed_.data() + 4, 4);
  uint64_t seen = n - 8;
  inflateReset(&inflater_);
  inflater_.next_in = packed_.data() + 8;
  inflater_.avail_in = static_cast<uInt>(n - 8);
  int status = Z_OK;
  for (;;) {
    if (seen > declared) return "compressed length does not match the histogram's size";
    while (status != Z_STREAM_END) {
      inflater_.next_out = chunk_.data();
      inflater_.avail_out = static_cast<uInt>(chunk_.size());
      status = inflate(&inflater_, Z_NO_FLUSH);
      // No progress without more input.
      if (status == Z_BUF_ERROR) break;
      if (status != Z_OK && status != Z_STREAM_END) return "compressed histogram does not inflate";
      const char* what = parse_counts(chunk_.data(), inflater_.next_out, layout);
      if (what) return what;
      if (inflater_.avail_in == 0 && inflater_.avail_out != 0) break;
    }
    if (status == Z_STREAM_END && inflater_.avail_in != 0)
      return "payload is shorter than its header says";
    n = text.read(packed_.data(), packed_.size());
    if (text.bad()) return not_base64;
    if (n == 0) break;
    seen += n;
    inflater_.next_in = packed_.data();
    inflater_.avail_in = static_cast<uInt>(n);
  }
  if (seen != declared) return "compressed length does not match the histogram's size";
  if (status != Z_STREAM_END) return "compressed histogram is cut short";
  if (parse_.have < header_size) return "compressed histogram is shorter than its header";
  if (parse_.payload_left != 0 || parse_.varint_bytes != 0)
    return "payload is shorter than its header says";
  return nullptr;
}

const char* HistogramCodec::parse_counts(const unsigned char* p, const unsigned char* end,
                                         const Histogram& layout) {
  Parse& s = parse_;
  if (s.have < header_size) {
    size_t n = std::min(header_size - s.have, static_cast<size_t>(end - p));
    std::memcpy(s.header + s.have, p, n);
    s.have += n;
    p += n;
    if (s.have < header_size) return nullptr;
    if (get_int(s.header, 4) != histogram_cookie) return "not a histogram of the V2 encoding";
    auto offset = static_cast<int32_t>(get_int(s.header + 8, 4));
    auto digits = static_cast<int32_t>(get_int(s.header + 12, 4));
    auto lowest = static_cast<int64_t>(get_int(s.header + 16, 8));
    auto highest = static_cast<int64_t>(get_int(s.header + 24, 8));
    if (offset != 0) return "histogram has a shifted index, which is not supported";
    if (!Histogram::layout_of(lowest, highest, digits, &s.encoded))
      return "histogram header has impossible digits, lowest or highest value";
    s.payload_left = get_int(s.header + 4, 4);
    if (s.payload_left > s.encoded.size * max_varint_size)
      return "payload length is impossible for the histogram's layout";
  }
  if (static_cast<size_t>(end - p) > s.payload_left)
    return "payload is longer than its header says";
  s.payload_left -= static_cast<size_t>(end - p);
  for (; p < end; ++p) {
    s.varint |= static_cast<uint64_t>(*p & (s.varint_bytes + 1 < max_varint_size ? 0x7f : 0xff))
                << (7 * s.varint_bytes);
    if (++s.varint_bytes < max_varint_size && (*p & 0x80)) continue;
    auto count = static_cast<int64_t>((s.varint >> 1) ^ (0 - (s.varint & 1)));
    s.varint = 0;
    s.varint_bytes = 0;
    // A negative count stands for that many empty buckets.
    uint64_t slots = count < 0 ? 0 - static_cast<uint64_t>(count) : 1;
    if (slots > s.encoded.size - s.index) return "count run overflows the histogram's layout";
    if (count > 0) {
      if (count > max_line_count - s.total) return "histogram counts too many values";
      s.total += count;
      int64_t highest = layout.highest_trackable();
      // The layout is that of the histogram the text was encoded from, which
      // may differ from the destination's; its counts array is only walked.
      int64_t value = Histogram::value_at(s.encoded, s.index);
      if (value <= highest) value = layout.lowest_equivalent(value);
      bool merged = !counts_.empty() && (counts_.back().first == value ||
                                         (value > highest && counts_.back().first > highest));
      if (!merged) counts_.emplace_back(value, 0);
      counts_.back() = {value, counts_.back().second + count};
    }
    s.index += slots;
  }
  return nullptr;
}

}  // namespace caplat::stat
