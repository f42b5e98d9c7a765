#pragma once

#include <cstddef>
#include <cstdint>

namespace caplat {

// Decimal text of the numbers caplat prints, written without stdio's
// format parsing: each returns the end of what it wrote.
namespace numtext {

// Writes v in decimal, as "%llu" does.
char* u64(char* out, uint64_t v);

// Writes (double)d * 1e-6 with six decimals, as "%.6f" does.
char* latency(char* out, int64_t d);

// Writes times in nanoseconds as u64 does. Successive times of a log mostly
// fall in the same second, so the digits of the seconds are kept from the
// time before and only the nine of the fraction are worked out.
class TimeText {
 public:
  // Writes v in decimal, as u64 does; the 20 bytes at out may be written.
  char* write(char* out, uint64_t v);

 private:
  // Keeps the digits of seconds, then writes v. Apart from write, whose every
  // call would otherwise save registers for a call it seldom makes.
  [[gnu::noinline]] char* start_second(char* out, uint64_t v, uint64_t seconds);

  // The seconds last written, 0 while none were, and their digits.
  uint64_t seconds_ = 0;
  char text_[16] = {};
  size_t size_ = 0;
};

}  // namespace numtext

}  // namespace caplat
