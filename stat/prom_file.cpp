#include "prom_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "report.h"

namespace caplat::stat {

PromFile::PromFile(const char* path) : path_(path) {
  size_t slash = path_.find_last_of('/');
  size_t name = slash == std::string::npos ? 0 : slash + 1;
  temporary_ = path_.substr(0, name) + "." + path_.substr(name) + ".XXXXXX";
  // The file is made as open(2) would make it; mkstemp would keep it private.
  mode_t mask = umask(0);
  umask(mask);
  mode_ = 0666 & ~mask;
}

int PromFile::fill(int fd, const std::string& text) const {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return fchmod(fd, mode_) == 0 ? 0 : errno;
}

bool PromFile::write(const std::string& text) {
  std::string name = temporary_;
  int fd = mkostemp(name.data(), O_CLOEXEC);
  int error = fd < 0 ? errno : fill(fd, text);
  if (fd >= 0 && close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(name.c_str(), path_.c_str()) != 0) error = errno;
  if (error == 0) return true;
  if (fd >= 0) unlink(name.c_str());
  if (!reported_) report_file(path_.c_str(), strerror(error));
  reported_ = true;
  return false;
}

}  // namespace caplat::stat
