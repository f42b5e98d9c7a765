#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "parser.h"

namespace {

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

FILE* open_destination(const char* path, FILE* source) {
  if (is_source(path, source)) {
    fprintf(stderr, "Destination file `%s` is the source file!!\n", path);
    return nullptr;
  }
  return open_file(path, "wt");
}

}  // namespace

int main(int argc, char** argv) {
  // Skewed clocks can put a warning beside every message, and a write for each
  // would cost more than the decoding; the warnings due go out ahead of every
  // block of results, so both streams keep their order. A terminal sees each
  // at once.
  if (!isatty(STDERR_FILENO)) setvbuf(stderr, nullptr, _IOFBF, BUFSIZ);
  Parser parser;
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
    parser.output.file = open_destination(paths[0], parser.input.file);
  } else if (count >= 2) {
    parser.output.file = nullptr;
    parser.input.file = open_file(paths[count - 2], "rt");
    if (parser.input.file != nullptr)
      parser.output.file = open_destination(paths[count - 1], parser.input.file);
  }
  // The streams are closed by the end of the process.
  // cppcheck-suppress memleak
  return parser.parse();
}
