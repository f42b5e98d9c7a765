#pragma once

#include <fcntl.h>
#include <unistd.h>

namespace caplat {

// A descriptor among 0, 1 and 2 left closed would be taken by the next file
// opened, and warnings meant for standard error would land among the results.
// /dev/null holds the place, opened the wrong way round for 0 and 1, so that
// reading a closed standard input or writing a closed standard output still
// fails as it would have.
inline void open_standard_descriptors() {
  static const int modes[] = {O_WRONLY, O_RDONLY, O_WRONLY};
  for (int fd = 0; fd <= STDERR_FILENO; ++fd) {
    // The lower ones are open by now, so /dev/null takes this one.
    if (fcntl(fd, F_GETFD) < 0) open("/dev/null", modes[fd]);
  }
}

}  // namespace caplat
