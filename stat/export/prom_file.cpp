#include "prom_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "report.h"

namespace caplat::stat {

namespace {

// The temporary file's name in the folder of the file.
constexpr const char* temporary_name = ".caplat-stat.XXXXXX";

// 0 if nothing but a regular file is at path (or nothing), else -1 for what
// is not a regular file or the error of looking.
int replaceable(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  return S_ISREG(st.st_mode) ? 0 : -1;
}

}  // namespace

PromFile::PromFile(const char* path) : path_(path), target_(path) {
  // The file is made as open(2) would make it; mkstemp would keep it private.
  mode_t mask = umask(0);
  umask(mask);
  mode_ = 0666 & ~mask;
}

bool PromFile::ready() {
  struct stat st;
  if (lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::unique_ptr<char, decltype(&free)> real(realpath(path_.c_str(), nullptr), free);
    if (real == nullptr) return fail(errno);
    target_ = real.get();
  }
  if (int error = replaceable(target_)) return fail(error);
  size_t slash = target_.find_last_of('/');
  temporary_ = target_.substr(0, slash == std::string::npos ? 0 : slash + 1) + temporary_name;
  // A trial file, so that a folder that cannot take one is known now.
  std::string name = temporary_;
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return fail(errno);
  close(fd);
  unlink(name.c_str());
  return true;
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

bool PromFile::fail(int error) {
  if (!reported_) report_file(path_.c_str(), error < 0 ? "not a regular file" : strerror(error));
  reported_ = true;
  return false;
}

bool PromFile::write(const std::string& text) {
  std::string name = temporary_;
  int fd = mkostemp(name.data(), O_CLOEXEC);
  int error = fd < 0 ? errno : fill(fd, text);
  if (fd >= 0 && close(fd) != 0 && error == 0) error = errno;
  // What took the file's place since is never renamed over.
  if (error == 0) error = replaceable(target_);
  if (error == 0 && rename(name.c_str(), target_.c_str()) != 0) error = errno;
  if (error == 0) return true;
  if (fd >= 0) unlink(name.c_str());
  return fail(error);
}

}  // namespace caplat::stat
