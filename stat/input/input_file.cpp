#include "input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "hlog_reader.h"
#include "latency_reader.h"
#include "report.h"

namespace caplat::stat {

namespace {

// Bytes read and decompressed at a time.
constexpr size_t block = size_t{1} << 18;
// Bytes of an input looked at to tell a log.
constexpr size_t log_probe = 64;
// Bytes at the start of a file searched for a line of a capture log.
constexpr size_t capture_probe = size_t{1} << 16;

// What is reported when the temporary file of a log cannot be made or written.
std::string temporary_failure() {
  return std::string("cannot copy it into a temporary file: ") + strerror(errno);
}

// Writes what input's source reads into an unlinked temporary file, which
// becomes input's file, at its start; false after reporting an input that
// cannot be read whole, or a temporary file that cannot be made or written.
bool copy_to_temporary(InputFile* input) {
  const char* folder = getenv("TMPDIR");
  std::string path =
      std::string(folder != nullptr && *folder != 0 ? folder : "/tmp") + "/caplat-stat.XXXXXX";
  int file = mkostemp(path.data(), O_CLOEXEC);
  if (file < 0) {
    report_file(input->name, temporary_failure().c_str());
    close_input(input);
    return false;
  }
  unlink(path.c_str());
  auto buffer = std::make_unique<unsigned char[]>(block);
  std::string failure;
  ssize_t n = 0;
  while (failure.empty() && (n = input->source->read(buffer.get(), block)) > 0) {
    for (ssize_t at = 0; at < n;) {
      ssize_t written = write(file, buffer.get() + at, static_cast<size_t>(n - at));
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) {
        failure = temporary_failure();
        break;
      }
      at += written;
    }
  }
  if (failure.empty() && n < 0) failure = input->source->error();
  close_input(input);
  input->fd = file;
  if (lseek(file, 0, SEEK_SET) != 0 && failure.empty()) failure = temporary_failure();
  input->incomplete = !failure.empty();
  if (input->incomplete) report_file(input->name, failure.c_str());
  return !input->incomplete;
}

}  // namespace

bool may_wait(const char* path) {
  struct stat st;
  int found = strcmp(path, "-") == 0 ? fstat(STDIN_FILENO, &st) : ::stat(path, &st);
  return found == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode));
}

bool open_input(const char* path, InputFile* input) {
  bool standard_input = strcmp(path, "-") == 0;
  input->name = standard_input ? "(standard input)" : path;
  input->fd = standard_input ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
  if (input->fd < 0) {
    report_file(path, strerror(errno));
    return false;
  }
  if (HlogReader::is_log_file(input->fd)) {
    input->log = true;
    return true;
  }
  input->source = std::make_unique<Source>(input->fd, block);
  if (!input->source->open()) {
    report_file(input->name, input->source->error());
    close_input(input);
    return false;
  }
  Source::Format format = input->source->format();
  // A file is looked into further, which never waits: caplat's own input is
  // told by a payload header line, as caplat tells it.
  struct stat st;
  if (fstat(input->fd, &st) == 0 && S_ISREG(st.st_mode)) {
    auto head = std::make_unique<unsigned char[]>(capture_probe);
    size_t size = input->source->peek(head.get(), capture_probe);
    if (LatencyReader::holds_payload_header(reinterpret_cast<char*>(head.get()), size)) {
      report_file(input->name, LatencyReader::capture_log);
      close_input(input);
      return false;
    }
  }
  // A plain log that cannot be read again at an offset, from a pipe, is told
  // by its first byte, which caplat's output never starts with: a live pipe's
  // first line is not held back for more.
  unsigned char first;
  if (format == Source::Plain &&
      (input->source->peek(&first, 1) == 0 || (first != '#' && first != '"')))
    return true;
  unsigned char head[log_probe];
  size_t size = input->source->peek(head, sizeof head);
  if (!HlogReader::is_log(std::string_view(reinterpret_cast<char*>(head), size))) return true;
  input->log = true;
  return copy_to_temporary(input);
}

bool hold_input(InputFile* input) {
  struct stat st;
  if (fstat(input->fd, &st) == 0 && S_ISREG(st.st_mode)) return true;
  return copy_to_temporary(input) && rewind_input(input);
}

bool rewind_input(InputFile* input) {
  input->source.reset();
  if (lseek(input->fd, 0, SEEK_SET) != 0) {
    report_file(input->name, strerror(errno));
    return false;
  }
  input->source = std::make_unique<Source>(input->fd, block);
  if (input->source->open()) return true;
  report_file(input->name, input->source->error());
  return false;
}

void close_input(InputFile* input) {
  input->source.reset();
  if (input->fd != STDIN_FILENO && input->fd >= 0) close(input->fd);
  input->fd = -1;
}

}  // namespace caplat::stat
