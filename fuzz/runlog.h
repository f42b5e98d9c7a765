#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "parser.h"

// Runs a log held in memory through caplat's main loop, or through the plain
// loop that reads with fgets and decodes each line by the line rules alone,
// capturing what each prints on its destination and on standard error.
namespace runlog {

struct Result {
  std::string out;
  std::string errors;
  int status = 0;
  bool operator==(const Result&) const = default;
};

inline void write_all(int fd, const void* data, size_t size) {
  for (size_t done = 0; done < size;) {
    ssize_t n = write(fd, static_cast<const char*>(data) + done, size - done);
    if (n <= 0) abort();
    done += n;
  }
}

// A stream reading a copy of the size bytes at data from a file in memory, which
// caplat maps.
inline FILE* source(const void* data, size_t size) {
  int fd = memfd_create("log", 0);
  write_all(fd, data, size);
  lseek(fd, 0, SEEK_SET);
  return fdopen(fd, "r");
}

// How the main loop gets the log: from a file it maps, or through a pipe it reads.
enum class Via { File, Pipe };

// Sends what caplat writes on standard error to memory until taken. The
// stream is swapped, not the descriptor, so that sanitizer and fuzzer reports
// still reach the terminal.
class ErrorCapture {
 public:
  ErrorCapture() : saved_(stderr), file_(open_memstream(&text_, &size_)) { stderr = file_; }
  ~ErrorCapture() {
    stderr = saved_;
    fclose(file_);
    free(text_);
  }
  std::string take() {
    fflush(file_);
    return std::string(text_, size_);
  }

 private:
  FILE* saved_;
  FILE* file_;
  char* text_ = nullptr;
  size_t size_ = 0;
};

// Destination in memory.
class Destination {
 public:
  Destination() : file(open_memstream(&text_, &size_)) {}
  ~Destination() {
    if (file) fclose(file);
    free(text_);
  }
  std::string take() {
    fclose(file);
    file = nullptr;
    return std::string(text_, size_);
  }
  FILE* file;

 private:
  char* text_ = nullptr;
  size_t size_ = 0;
};

inline Result run(const std::string& log, uint32_t format, size_t block = size_t{1} << 17,
                  Via via = Via::File) {
  Destination destination;
  Parser parser;
  std::thread writer;
  if (via == Via::Pipe) {
    int ends[2];
    if (pipe(ends) != 0) abort();
    writer = std::thread([&log, end = ends[1]] {
      write_all(end, log.data(), log.size());
      close(end);
    });
    parser.input.file = fdopen(ends[0], "r");
  } else {
    parser.input.file = source(log.data(), log.size());
  }
  parser.output.file = destination.file;
  parser.output.format = format;
  parser.block = block;
  Result result;
  {
    ErrorCapture errors;
    result.status = parser.parse();
    result.errors = errors.take();
  }
  // The main loop reads to the end, so the writer has finished.
  if (writer.joinable()) writer.join();
  fclose(parser.input.file);
  result.out = destination.take();
  return result;
}

// The loop as plain as it can be written: fgets, the line rules, one pair at a time.
inline Result run_plain(const std::string& log, uint32_t format) {
  Destination destination;
  FILE* in = source(log.data(), log.size());
  Input input;
  Output output;
  output.file = destination.file;
  output.format = format;
  static char line[20000];
  uint64_t pair[2];
  Result result;
  {
    ErrorCapture errors;
    while (!feof(in)) {
      line[0] = 0;
      if (fgets(line, sizeof line, in) == nullptr && ferror(in)) break;
      if (input.parse(pair, reinterpret_cast<unsigned char*>(line))) output.output(pair);
    }
    result.status = output.flush() ? 0 : 1;
    result.errors = errors.take();
  }
  fclose(in);
  result.out = destination.take();
  return result;
}

}  // namespace runlog
