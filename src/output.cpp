#include "output.h"

#include <unistd.h>

#include "latency_limits.h"
#include "numtext.h"

namespace caplat {

namespace {

// The longest line: two 20-digit times, a latency of 21 characters, two spaces
// and the newline.
constexpr size_t longest_line = 64;

}  // namespace

void Output::output(const uint64_t* pair) {
  uint64_t receive = pair[0];
  uint64_t application = pair[1];
  // Clocks of sender and receiver drift apart, so the difference is read as
  // signed: a receive time before the application time is a negative latency.
  auto latency = static_cast<int64_t>(receive - application);
  // Above the limit, not at it: a latency of exactly ten seconds passes.
  if (latency > caplat::stale_ns || latency < 0) {
    fprintf(stderr, "WARNING: Unexpected latency %lld = %llu - %llu\n",
            static_cast<long long>(latency), static_cast<unsigned long long>(receive),
            static_cast<unsigned long long>(application));
  }
  if (sizeof buffer_ - used_ < longest_line) write_out();
  char* text = buffer_ + used_;
  char* end = text;
  if (format == 1) {
    end = numtext::latency(end, latency);
  } else {
    end = application_text_.write(end, application);
    *end++ = ' ';
    end = receive_text_.write(end, receive);
    if (format != 0) {
      *end++ = ' ';
      end = numtext::latency(end, latency);
    }
  }
  *end++ = '\n';
  used_ = end - buffer_;
  if (interactive_ < 0) interactive_ = isatty(fileno(file));
  if (interactive_) write_out();
}

bool Output::write_out() {
  // Warnings about these lines go out before them.
  fflush(stderr);
  bool ok = fwrite(buffer_, 1, used_, file) == used_;
  used_ = 0;
  return ok && fflush(file) == 0;
}

bool Output::flush() {
  return write_out() && ferror(file) == 0;
}

}  // namespace caplat
