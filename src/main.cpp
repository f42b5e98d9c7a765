#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "descriptors.h"
#include "parser.h"

namespace caplat {
namespace {

// How much of a would-be destination is searched for a payload header line.
constexpr size_t capture_probe = size_t{1} << 20;

// Opens path in mode, reporting a failure; null if it cannot be opened.
FILE* open_file(const char* path, const char* mode) {
  FILE* file = fopen(path, mode);
  if (file == nullptr) fprintf(stderr, "Unable to open file `%s`!!\n", path);
  return file;
}

// True if path names an existing regular file that source reads, through
// whatever name or link: opening it for writing would truncate the log.
bool is_source(const char* path, FILE* source) {
  struct stat out, in;
  return stat(path, &out) == 0 && S_ISREG(out.st_mode) && fstat(fileno(source), &in) == 0 &&
         out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

// What path names if it is an existing regular file that must not be
// truncated, or null: a capture log, which cannot be made again, has a payload
// header line in its first MiB, and no output of caplat's holds one; nor is
// any compressed, as a capture log may be.
const char* kept_file(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  static char head[capture_probe];
  size_t size = 0;
  while (size < sizeof head) {
    ssize_t n = read(fd, head + size, sizeof head - size);
    if (n > 0) {
      size += n;
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
  if (Source::format_of(reinterpret_cast<unsigned char*>(head), size) != Source::Plain)
    return "a compressed file";
  const size_t title = sizeof Input::header_title - 1;
  for (const char* line = head; line + title <= head + size;) {
    if (memcmp(line, Input::header_title, title) == 0) return "a capture log";
    const void* newline = memchr(line, '\n', head + size - line);
    if (newline == nullptr) break;
    line = static_cast<const char*>(newline) + 1;
  }
  return nullptr;
}

FILE* open_destination(const char* path, FILE* source) {
  const char* kept = is_source(path, source) ? "the source file" : kept_file(path);
  if (kept != nullptr) {
    fprintf(stderr, "Destination file `%s` is %s!!\n", path, kept);
    return nullptr;
  }
  return open_file(path, "wt");
}

// Flushed when memory runs out, so that no result or warning is lost.
Output* results = nullptr;

[[noreturn]] void out_of_memory() {
  if (results != nullptr) results->flush();
  fputs("Out of memory\n", stderr);
  fflush(stderr);
  _exit(1);
}

}  // namespace
}  // namespace caplat

int main(int argc, char** argv) {
  caplat::open_standard_descriptors();
  // Skewed clocks can put a warning beside every message, and a write for each
  // would cost more than the decoding; the warnings due go out ahead of every
  // block of results, so both streams keep their order. A terminal sees each
  // at once.
  if (!isatty(STDERR_FILENO)) setvbuf(stderr, nullptr, _IOFBF, BUFSIZ);
  // It lives as long as the process, for the handler below.
  static caplat::Parser parser;
  caplat::results = &parser.output;
  std::set_new_handler(caplat::out_of_memory);
  char** paths = argv + 1;
  int count = argc - 1;
  if (count >= 1) {
    static const char* const options[] = {"-0", "-1", "-2"};
    for (uint32_t format = 0; format < 3; ++format) {
      if (strcmp(paths[0], options[format]) == 0) {
        parser.output.format = format;
        ++paths;
        --count;
        break;
      }
    }
  }
  if (count == 1) {
    // Nothing could be decoded from a person typing: the path was surely meant
    // as the log, and opening it as the destination would truncate it.
    if (isatty(STDIN_FILENO)) {
      fputs("Reading the log from a terminal; usage: caplat [-0|-1|-2] [source] [destination]\n",
            stderr);
      return 1;
    }
  } else if (count >= 2) {
    parser.output.file = nullptr;
    parser.input.file = caplat::open_file(paths[count - 2], "rt");
  }
  // A source that is not read ends the run before the destination is opened.
  if (parser.input.file != nullptr && !parser.open_source()) return 1;
  if (count >= 1 && parser.input.file != nullptr)
    parser.output.file = caplat::open_destination(paths[count - 1], parser.input.file);
  // The streams are closed by the end of the process.
  // cppcheck-suppress memleak
  return parser.parse();
}
