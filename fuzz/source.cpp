// Any bytes at all as an input of the source, the first byte choosing how
// they arrive (from a file, or through a pipe in writes of 1 to 64 bytes), the
// size of the reads and whether the start is peeked first. The source must
// take them without a crash, a sanitizer report or a hang, and give what zlib
// (for gzip) or libzstd's own streaming decoder (for zstd) makes of them, or
// the bytes themselves for any other format: whatever the reference reads
// whole, the source reads whole and alike; where both fail, they agree up to
// where the first fails. Output past a cap is not compared, so that small
// inputs that decompress to much stay quick.
#include "source.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr size_t cap = size_t{1} << 20;

// What reading an input gives: its bytes up to the cap, and whether it was
// read whole (false if it failed, or went past the cap).
struct Read {
  std::string data;
  bool whole = false;
};

Read with_zlib(const std::string& in) {
  Read read;
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) abort();
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  unsigned char out[4096];
  int status = Z_OK;
  // A member ends where the input does, where zero bytes pad it to the end
  // (which gzip ignores), or where another starts.
  while (read.data.size() < cap) {
    z.next_out = out;
    z.avail_out = sizeof out;
    status = inflate(&z, Z_NO_FLUSH);
    read.data.append(reinterpret_cast<char*>(out), sizeof out - z.avail_out);
    if (status == Z_STREAM_END) {
      if (std::all_of(z.next_in, z.next_in + z.avail_in, [](Bytef c) { return c == 0; })) {
        z.avail_in = 0;
        break;
      }
      inflateReset(&z);
    } else if (status != Z_OK) {
      break;
    }
  }
  read.whole = status == Z_STREAM_END && z.avail_in == 0 && read.data.size() <= cap;
  inflateEnd(&z);
  return read;
}

Read with_zstd(const std::string& in) {
  Read read;
  ZSTD_DStream* z = ZSTD_createDStream();
  ZSTD_inBuffer input{in.data(), in.size(), 0};
  unsigned char out[4096];
  size_t hint = 1;
  while (read.data.size() < cap) {
    ZSTD_outBuffer output{out, sizeof out, 0};
    hint = ZSTD_decompressStream(z, &output, &input);
    if (ZSTD_isError(hint)) break;
    read.data.append(reinterpret_cast<char*>(out), output.pos);
    if (input.pos == input.size && output.pos < output.size) break;
  }
  read.whole = !ZSTD_isError(hint) && hint == 0 && read.data.size() <= cap;
  ZSTD_freeDStream(z);
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // A write to a pipe whose reader has gone fails rather than ends the run.
  signal(SIGPIPE, SIG_IGN);
  const std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool pipe_in = data[0] & 1, peek = data[0] & 2;
  const size_t chunk = 1 + (data[0] >> 2), read_size = 1 + 997 * (data[0] >> 4);
  int fd;
  std::thread writer;
  int ends[2] = {-1, -1};
  if (pipe_in) {
    if (pipe(ends) != 0) abort();
    writer = std::thread([&] {
      for (size_t at = 0; at < in.size(); at += chunk) {
        size_t n = std::min(chunk, in.size() - at);
        if (write(ends[1], in.data() + at, n) != static_cast<ssize_t>(n)) break;
      }
      close(ends[1]);
    });
    fd = ends[0];
  } else {
    fd = memfd_create("input", 0);
    if (fd < 0 || write(fd, in.data(), in.size()) != static_cast<ssize_t>(in.size()) ||
        lseek(fd, 0, SEEK_SET) != 0)
      abort();
  }
  Read got;
  std::string head;
  caplat::Source::Format format;
  {
    caplat::Source source(fd, 4096);
    source.open();
    format = source.format();
    if (peek) {
      unsigned char start[64];
      head.assign(reinterpret_cast<char*>(start), source.peek(start, sizeof start));
    }
    std::string buffer(read_size, '\0');
    ssize_t n = 0;
    while (got.data.size() <= cap &&
           (n = source.read(reinterpret_cast<unsigned char*>(buffer.data()), read_size)) > 0)
      got.data.append(buffer.data(), static_cast<size_t>(n));
    got.whole = n == 0 && got.data.size() <= cap;
  }
  // The source may have gone before the end, past the cap, leaving the writer
  // blocked until the pipe closes.
  close(fd);
  if (writer.joinable()) writer.join();

  Read want = format == caplat::Source::Gzip   ? with_zlib(in)
              : format == caplat::Source::Zstd ? with_zstd(in)
                                               : Read{in, true};
  // A peek may see bytes of damaged data that the reads drop, where the
  // damage came to light in the same step of decompression.
  size_t peeked = std::min(head.size(), got.data.size());
  if (got.data.compare(0, peeked, head, 0, peeked) != 0 || (got.whole && peeked < head.size()))
    abort();
  if (want.whole && (!got.whole || got.data != want.data)) abort();
  if (!want.whole && got.whole && got.data.size() < cap && want.data.size() < cap &&
      format != caplat::Source::Gzip)
    abort();
  size_t common = std::min({got.data.size(), want.data.size(), cap});
  if (got.data.compare(0, common, want.data, 0, common) != 0) abort();
  return 0;
}
