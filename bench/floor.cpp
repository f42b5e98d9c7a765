// The least a reader of the log must do: read standard input into one buffer,
// 256 KiB at a time, and count its newlines, which it prints as `wc -l` does.
// The benchmarks time it beside caplat so that a slow program can be told from
// a fast `wc -l`.
//
//   floor [BLOCK] < log
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The newlines among the n bytes at p, sixteen bytes a step: each step adds
// one to a byte's count where a newline is, and the counts are summed before
// any can pass 255.
unsigned long long count_newlines(const char* p, size_t n) {
  unsigned long long lines = 0;
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  while (i + 16 <= n) {
    __m128i counts = _mm_setzero_si128();
    for (int step = 0; step < 255 && i + 16 <= n; ++step, i += 16) {
      __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(chunk, newline));
    }
    __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    lines += static_cast<unsigned long long>(_mm_cvtsi128_si64(sums)) +
             static_cast<unsigned long long>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  }
#endif
  for (; i < n; ++i) lines += p[i] == '\n';
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  size_t block = argc > 1 ? strtoul(argv[1], nullptr, 0) : size_t{1} << 18;
  if (block == 0) {
    fputs("usage: floor [BLOCK] < log\n", stderr);
    return 2;
  }
  std::unique_ptr<char[]> buffer(new char[block]);
  unsigned long long lines = 0;
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer.get(), block);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      perror("floor");
      return 1;
    }
    lines += count_newlines(buffer.get(), static_cast<size_t>(n));
  }
  if (printf("%llu\n", lines) < 0 || fflush(stdout) != 0) return 1;
  return 0;
}
