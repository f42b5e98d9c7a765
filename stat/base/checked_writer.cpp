#include "checked_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "report.h"

namespace caplat::stat {

namespace {

// The outputs a run can have open at once: standard output, the summary's
// file, --hgrm, --csv, --svg and one spare.
constexpr int max_open = 6;
CheckedWriter* open_outputs[max_open];

}  // namespace

CheckedWriter::CheckedWriter(int fd, std::string path)
    : fd_(fd), path_(std::move(path)), buffer_{} {
  CheckedWriter** end = open_outputs + max_open;
  CheckedWriter** slot = std::find(open_outputs, end, nullptr);
  if (slot != end) *slot = this;
}

CheckedWriter::~CheckedWriter() {
  flush();
  std::replace(open_outputs, open_outputs + max_open, this, static_cast<CheckedWriter*>(nullptr));
  if (owned_ && close(fd_) != 0 && error_ == 0) error_ = errno;
}

CheckedWriter* CheckedWriter::open(const char* path) {
  if (strcmp(path, "-") == 0) return new CheckedWriter(STDOUT_FILENO, "standard output");
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    report_file(path, strerror(errno));
    return nullptr;
  }
  auto* out = new CheckedWriter(fd, path);
  out->owned_ = true;
  return out;
}

void CheckedWriter::put(std::string_view text) {
  while (!text.empty()) {
    if (used_ == capacity) flush();
    size_t n = std::min(text.size(), capacity - used_);
    memcpy(buffer_ + used_, text.data(), n);
    used_ += n;
    text.remove_prefix(n);
  }
}

bool CheckedWriter::flush() {
  const char* p = buffer_;
  size_t left = used_;
  used_ = 0;
  while (left > 0 && error_ == 0) {
    ssize_t n = write(fd_, p, left);
    if (n < 0) {
      if (errno != EINTR) error_ = errno;
      continue;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return error_ == 0;
}

void CheckedWriter::flush_all() {
  for (CheckedWriter* out : open_outputs) {
    if (out != nullptr) out->flush();
  }
}

bool CheckedWriter::report() const {
  if (error_ != 0) report_file(path_.c_str(), strerror(error_));
  return error_ == 0;
}

}  // namespace caplat::stat
