// Turns the fuzzer's bytes into a mostly well-formed log in one of the four
// application-time formats, with damage of kinds that can lose records but
// never make new ones, and checks what caplat prints: every record of an
// undamaged log yields its pair, in order, and no pair ever holds a time that
// the log does not carry.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "runlog.h"

namespace caplat {

namespace {

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return used_ >= size_; }
  unsigned next() { return used_ < size_ ? data_[used_++] : 0; }
  uint64_t below(uint64_t limit) {
    uint64_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | next();
    return v % limit;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
};

std::string digits(uint64_t v, int width) {
  std::string s = std::to_string(v);
  return std::string(width - s.size(), '0') + s;
}

// The JSON text of a message stamped at ns in format mode (1 to 4).
std::string message(int mode, uint64_t ns, size_t padding) {
  std::string pad(padding, ' ');
  switch (mode) {
    case 1:
      return "{\"c\":\"t\",\"data\":{\"time\":" + std::to_string(ns / 1000000000) + "." +
             digits(ns % 1000000000, 9) + "},\"p\":\"" + pad + "\"}";
    case 2:
      return "{\"e\":\"u\",\"E\":" + std::to_string(ns / 1000000) + ",\"p\":\"" + pad + "\"}";
    case 3:
      return "{\"ts\":\"" + std::to_string(ns / 1000000) + "." + digits(ns / 1000 % 1000, 3) +
             "\",\"p\":\"" + pad + "\"}";
    default: {
      time_t seconds = static_cast<time_t>(ns / 1000000000);
      struct tm tm;
      gmtime_r(&seconds, &tm);
      char iso[48];
      snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d.%06uZ", tm.tm_year + 1900,
               tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
               static_cast<unsigned>(ns / 1000 % 1000000));
      return "{\"p\":\"" + pad + "\",\"time\":\"" + iso + "\"}";
    }
  }
}

// The application time that caplat reads back from message(mode, ns, ...).
uint64_t stamped(int mode, uint64_t ns) {
  switch (mode) {
    case 1:
      return ns;
    case 2:
      return ns / 1000000 * 1000000;
    default:
      return ns / 1000 * 1000;
  }
}

std::string dump_line(const std::string& bytes, size_t offset, size_t count) {
  char text[8];
  snprintf(text, sizeof text, "%04zx ", offset & 0xffff);
  std::string line = text;
  for (size_t i = offset; i < offset + count; ++i) {
    snprintf(text, sizeof text, " %02x", static_cast<unsigned char>(bytes[i]));
    line += text;
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in(data, size);
  int mode = 1 + static_cast<int>(in.below(4));
  bool damage = in.next() & 1;
  std::string log;
  std::string expected;
  std::set<uint64_t> application_times, receive_times;
  uint64_t receive = 1600000000000000000 + in.below(1000000000) * 100000000;
  while (!in.empty() && log.size() < 60000) {
    receive += in.below(1000000000);
    receive_times.insert(receive);
    std::string line = std::to_string(receive / 1000000000) + "." + digits(receive % 1000000000, 9);
    unsigned shape = in.next();
    if (damage && shape % 11 == 0) line += "\r";  // no longer a receive-time line
    log += line + "\n";
    if (shape % 5 == 0) log += "\nFrame (3 bytes):\n0000  01 02 03\n";
    int payloads = 1 + static_cast<int>(in.below(3));
    for (int p = 0; p < payloads; ++p) {
      uint64_t application = receive - in.below(20000000000) + 5000000000;
      application_times.insert(stamped(mode, application));
      std::string json = message(mode, application, in.below(60));
      log += "Decompressed payload (" + std::to_string(json.size()) + " bytes)\n";
      unsigned cut = damage && in.next() % 7 == 0 ? in.below(json.size()) : json.size();
      for (size_t offset = 0; offset < json.size(); offset += 16) {
        size_t count = json.size() - offset < 16 ? json.size() - offset : 16;
        std::string dump = dump_line(json, offset, count);
        if (offset >= cut) {
          dump[6] = 'G';  // a malformed pair
        }
        if (shape % 3 == 0) dump += std::string(16 - count, ' ') + "   |ascii column|";
        log += dump + "\n";
        if (offset >= cut) break;
      }
      if (!damage) {
        expected +=
            std::to_string(stamped(mode, application)) + " " + std::to_string(receive) + "\n";
      }
    }
    if (damage && shape % 13 == 0) log += std::string(19990 + in.below(20), 'x') + "\n";
  }
  runlog::Result result = runlog::run(log, 0, runlog::Via::File, 4096);
  if (result.status != 0) abort();
  if (!damage && result.out != expected) abort();
  // Every printed pair is made of times the log carries.
  size_t start = 0;
  while (start < result.out.size()) {
    size_t end = result.out.find('\n', start);
    unsigned long long application, received;
    if (sscanf(result.out.c_str() + start, "%llu %llu", &application, &received) != 2) abort();
    if (!application_times.count(application) || !receive_times.count(received)) abort();
    start = end + 1;
  }
  return 0;
}

}  // namespace caplat
