#pragma once

#include <sys/types.h>

#include <string>

namespace caplat::stat {

// The file of metrics that node_exporter's textfile collector reads: each
// text replaces the last at once, written to a hidden temporary file in the
// same folder and renamed over it, so that no reader sees half of one.
class PromFile {
 public:
  // Writes to path; the umask is read here, while the program has one thread.
  explicit PromFile(const char* path);

  // Replaces the file's content with text; false if it could not, which is
  // reported the first time.
  bool write(const std::string& text);

 private:
  // Writes text to the new temporary file fd; 0, or the error.
  int fill(int fd, const std::string& text) const;

  std::string path_;
  // The temporary file's name, for mkstemp: it does not end in .prom, which
  // the collector would read.
  std::string temporary_;
  mode_t mode_;
  bool reported_ = false;
};

}  // namespace caplat::stat
