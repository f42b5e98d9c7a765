#pragma once

#include <sys/types.h>

#include <string>

namespace caplat::stat {

// The file of metrics that node_exporter's textfile collector reads: each
// text replaces the last at once, written to a hidden temporary file in the
// same folder and renamed over it, so that no reader sees half of one. Only a
// regular file is replaced; a symbolic link is written through, to its target.
class PromFile {
 public:
  // Writes to path; the umask is read here, while the program has one thread.
  explicit PromFile(const char* path);

  // Finds the file that path names and checks that it can be replaced: it is
  // a regular file or none, and a temporary file can be made beside it; false
  // after reporting why not.
  bool ready();

  // Replaces the file's content with text; false if it could not, which is
  // reported the first time.
  bool write(const std::string& text);

 private:
  // Writes text to the new temporary file fd; 0, or the error.
  int fill(int fd, const std::string& text) const;
  // Reports error (an errno value, or -1 for what is not a regular file)
  // unless one was; returns false.
  bool fail(int error);

  // The name given, in messages, and the file it names, through any link.
  std::string path_;
  std::string target_;
  // The temporary file's name, for mkstemp: short, so that any name the
  // folder holds works, and it does not end in .prom, which the collector
  // would read.
  std::string temporary_;
  mode_t mode_;
  bool reported_ = false;
};

}  // namespace caplat::stat
