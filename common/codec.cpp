#include "codec.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
// For ZSTD_getFrameHeader, which the shared library exports.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>

namespace caplat {

namespace {

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
          if (count_ < sizeof fixed && (c & fixed_mask[count_]) != fixed[count_]) {
            bad_byte_ = count_;
            bad_value_ = c;
            return Bad;
          }
          if (count_ == flags_at) flags_ = c;
          if (++count_ == fixed_size) advance();
          break;
        case ExtraSize:
          extra_left_ |= uint32_t{c} << (8 * count_);
          if (++count_ < 2) break;
          if (extra_left_ == 0) {
            advance();
          } else {
            field_ = Extra;
          }
          break;
        case Extra:
          if (--extra_left_ == 0) advance();
          break;
        case Name:
        case Comment:
          if (c == 0) advance();
          break;
        case Crc:
          stored_crc_ |= uint32_t{c} << (8 * count_);
          if (++count_ == 2) {
            // The stored CRC is the low half of the CRC-32 of the bytes before it.
            if (stored_crc_ != (crc_ & 0xffff)) {
              bad_byte_ = fixed_size;
              return Bad;
            }
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

  // What is wrong with a header whose magic number was right, once take has
  // returned Bad.
  std::string problem() const {
    char text[64];
    if (bad_byte_ == flags_at) {
      snprintf(text, sizeof text, "its header sets reserved flags (0x%02x)",
               bad_value_ & fixed_mask[flags_at]);
    } else if (bad_byte_ == method_at) {
      snprintf(text, sizeof text, "its method is %u, not deflate (8)", bad_value_);
    } else {
      snprintf(text, sizeof text, "its header's CRC does not match");
    }
    return text;
  }

 private:
  // The fields in their order; those after Fixed are there if the flag of
  // the same bit is set: FEXTRA, FNAME, FCOMMENT, FHCRC. Extra follows its
  // size only if that is not 0.
  enum Field { Fixed, ExtraSize, Extra, Name, Comment, Crc, End };
  static constexpr unsigned char flag_of[] = {0, 4, 4, 8, 16, 2, 0};
  static constexpr size_t fixed_size = 10;
  static constexpr size_t method_at = 2;
  static constexpr size_t flags_at = 3;
  // The magic number and deflate; of the flags, the reserved bits must be clear.
  static constexpr unsigned char fixed[] = {0x1f, 0x8b, 8, 0};
  static constexpr unsigned char fixed_mask[] = {0xff, 0xff, 0xff, 0xe0};

  void advance() {
    count_ = 0;
    do {
      field_ = static_cast<Field>(field_ + 1);
    } while (field_ != End && (field_ == Extra || (flags_ & flag_of[field_]) == 0));
  }

  Field field_ = Fixed;
  size_t count_ = 0;
  unsigned char flags_ = 0;
  // The bytes of the extra field still to come, as its size field gave them.
  uint32_t extra_left_ = 0;
  // The CRC as the header holds it, and the CRC-32 of the bytes before it.
  uint32_t stored_crc_ = 0;
  uint32_t crc_ = 0;
  // Where take found the header bad: a byte of the fixed part, or fixed_size
  // for the CRC; and that byte.
  size_t bad_byte_ = 0;
  unsigned bad_value_ = 0;
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
        // Zero bytes after a member up to the end, such as a tape's padding,
        // are ignored, as gzip ignores them; anything else there is damage.
        if (between_members_ && *in < in_end && **in == 0) padding_ = true;
        if (padding_) {
          *in = std::find_if(*in, in_end, [](unsigned char c) { return c != 0; });
          if (*in < in_end) return false;
          break;
        }
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
  bool padding_ = false;
};

// Zstd frames, one after another, skippable ones among them, by libzstd, up to
// windows of zstd_window_limit.
class ZstdCodec final : public Codec {
 public:
  ZstdCodec() : stream_(ZSTD_createDStream()) {
    ZSTD_DCtx_setParameter(stream_, ZSTD_d_windowLogMax, std::countr_zero(zstd_window_limit));
  }
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

}  // namespace

std::unique_ptr<Codec> Codec::make(Source::Format format) {
  if (format == Source::Gzip) return std::make_unique<GzipCodec>();
  return std::make_unique<ZstdCodec>();
}

Codec::Verdict Codec::check_start(Source::Format format, const unsigned char* head, size_t size,
                                  std::string* why) {
  // The magic number, which told the format, is known to be right.
  if (format == Source::Gzip) {
    GzipHeader header;
    GzipHeader::Status status = header.take(&head, head + size);
    if (status == GzipHeader::Bad) *why = "compressed with gzip, but " + header.problem();
    return status == GzipHeader::Done ? Readable : status == GzipHeader::Bad ? Refused : Partial;
  }
  for (size_t at = 0; at < size;) {
    ZSTD_frameHeader frame;
    size_t need = ZSTD_getFrameHeader(&frame, head + at, size - at);
    if (ZSTD_isError(need)) {
      *why = std::string("compressed with zstd, but its frame header is damaged (") +
             ZSTD_getErrorName(need) + ")";
      return Refused;
    }
    if (need > 0) return Partial;
    // libzstd gives a skippable frame's content size, not its header's.
    if (frame.frameType == ZSTD_skippableFrame) {
      at += ZSTD_SKIPPABLEHEADERSIZE + frame.frameContentSize;
      continue;
    }
    if (frame.windowSize <= zstd_window_limit) return Readable;
    // As zstd itself says it, in MiB rounded up.
    unsigned long long mib = (frame.windowSize + (1 << 20) - 1) >> 20;
    char text[160];
    snprintf(text, sizeof text,
             "compressed with zstd in a window of %llu MiB, larger than the %zu MiB read; "
             "decompress it first (zstd -d --memory=%lluMB)",
             mib, zstd_window_limit >> 20, mib);
    *why = text;
    return Refused;
  }
  return Partial;
}

}  // namespace caplat
