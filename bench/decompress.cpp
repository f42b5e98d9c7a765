// Decompresses standard input with one library and prints the byte count, so
// that the benchmarks can time each candidate on the same file: zlib, ISA-L's
// igzip and libdeflate for gzip, libzstd for zstd. All but libdeflate stream
// into one 256 KiB buffer; libdeflate has no streaming interface, so it is
// given the whole file and a buffer for the whole output, and says on
// standard error how long the decompression itself took.
//
//   decompress zlib|isal|libdeflate|zstd < file
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t block = size_t{1} << 18;

// Reads up to size bytes of standard input into data; the count, 0 at the end,
// or -1 on an error.
ssize_t read_in(unsigned char* data, size_t size) {
  for (;;) {
    ssize_t n = read(STDIN_FILENO, data, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// Each returns the bytes decompressed, or -1 if the input is damaged.
long long with_zlib() {
  auto in = std::make_unique<unsigned char[]>(block), out = std::make_unique<unsigned char[]>(block);
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return -1;
  long long total = 0;
  int status = Z_OK;
  for (;;) {
    if (z.avail_in == 0) {
      ssize_t n = read_in(in.get(), block);
      if (n <= 0) break;
      z.next_in = in.get();
      z.avail_in = static_cast<unsigned>(n);
    }
    z.next_out = out.get();
    z.avail_out = block;
    status = inflate(&z, Z_NO_FLUSH);
    total += static_cast<long long>(block - z.avail_out);
    if (status == Z_STREAM_END) {
      inflateReset(&z);
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      return -1;
    }
  }
  inflateEnd(&z);
  return total;
}

long long with_isal() {
  auto in = std::make_unique<unsigned char[]>(block), out = std::make_unique<unsigned char[]>(block);
  auto state = std::make_unique<inflate_state>();
  isal_inflate_init(state.get());
  state->crc_flag = ISAL_GZIP;
  long long total = 0;
  for (;;) {
    if (state->avail_in == 0) {
      ssize_t n = read_in(in.get(), block);
      if (n <= 0) break;
      state->next_in = in.get();
      state->avail_in = static_cast<uint32_t>(n);
    }
    state->next_out = out.get();
    state->avail_out = block;
    if (isal_inflate(state.get()) != ISAL_DECOMP_OK) return -1;
    total += static_cast<long long>(block - state->avail_out);
    if (state->block_state == ISAL_BLOCK_FINISH) {
      uint8_t* rest = state->next_in;
      uint32_t left = state->avail_in;
      isal_inflate_reset(state.get());
      state->crc_flag = ISAL_GZIP;
      state->next_in = rest;
      state->avail_in = left;
    }
  }
  return total;
}

long long with_libdeflate() {
  struct stat st;
  if (fstat(STDIN_FILENO, &st) != 0 || st.st_size < 4) return -1;
  std::vector<unsigned char> file(static_cast<size_t>(st.st_size));
  for (size_t at = 0; at < file.size();) {
    ssize_t n = read_in(file.data() + at, file.size() - at);
    if (n <= 0) return -1;
    at += static_cast<size_t>(n);
  }
  // The output's size is in the last four bytes, that of the last member,
  // which is all of it for the files made here (single members); the output
  // is touched before the clock starts.
  uint32_t last;
  memcpy(&last, file.data() + file.size() - 4, 4);
  std::vector<unsigned char> out(last, 1);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  auto start = std::chrono::steady_clock::now();
  long long total = 0;
  for (size_t at = 0; at < file.size();) {
    size_t used = 0, made = 0;
    if (libdeflate_gzip_decompress_ex(d, file.data() + at, file.size() - at, out.data(), out.size(),
                                      &used, &made) != LIBDEFLATE_SUCCESS)
      return -1;
    at += used;
    total += static_cast<long long>(made);
  }
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  fprintf(stderr, "libdeflate: %.3f s in the decompressor\n", took.count());
  libdeflate_free_decompressor(d);
  return total;
}

long long with_zstd() {
  auto in = std::make_unique<unsigned char[]>(block), out = std::make_unique<unsigned char[]>(block);
  ZSTD_DStream* z = ZSTD_createDStream();
  ZSTD_inBuffer input{in.get(), 0, 0};
  long long total = 0;
  for (;;) {
    if (input.pos == input.size) {
      ssize_t n = read_in(in.get(), block);
      if (n <= 0) break;
      input = {in.get(), static_cast<size_t>(n), 0};
    }
    ZSTD_outBuffer output{out.get(), block, 0};
    if (ZSTD_isError(ZSTD_decompressStream(z, &output, &input))) return -1;
    total += static_cast<long long>(output.pos);
  }
  ZSTD_freeDStream(z);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string library = argc == 2 ? argv[1] : "";
  long long total = library == "zlib"         ? with_zlib()
                    : library == "isal"       ? with_isal()
                    : library == "libdeflate" ? with_libdeflate()
                    : library == "zstd"       ? with_zstd()
                                              : -2;
  if (total == -2) {
    fputs("usage: decompress zlib|isal|libdeflate|zstd < file\n", stderr);
    return 2;
  }
  if (total < 0) {
    fputs("decompress: damaged input\n", stderr);
    return 1;
  }
  return printf("%lld\n", total) < 0 || fflush(stdout) != 0;
}
