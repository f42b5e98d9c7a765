// Writes a synthetic capture log of about the requested size to standard
// output: receive-time lines, payload headers and hex dumps of JSON messages
// stamped in one of the four application-time formats, or in all of them.
// `loggen --help` lists its options.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <random>
#include <string>

namespace {

struct Options {
  std::string format = "e";
  uint64_t size = uint64_t{1} << 30;
  uint64_t seed = 1;
  bool small = false;
  bool ascii = false;
  bool frames = false;
};

class Generator {
 public:
  explicit Generator(const Options& options) : options_(options), random_(options.seed) {}

  void run() {
    uint64_t written = 0;
    uint64_t receive = 1700000000000000000 + 123456789;
    while (written < options_.size) {
      receive += pick(1000, 5000000);
      out_ += std::to_string(receive / 1000000000);
      char fraction[16];
      snprintf(fraction, sizeof fraction, ".%09" PRIu64 "\n", receive % 1000000000);
      out_ += fraction;
      int payloads = 1;
      if (options_.frames) {
        out_ += "\n";
        payloads = static_cast<int>(pick(1, 12));
        frame(pick(60, 400));
      } else if (pick(0, 199) == 0) {
        payloads = 2;
      }
      for (int i = 0; i < payloads; ++i) {
        std::string json = message(receive - latency());
        out_ += "Decompressed payload (" + std::to_string(json.size()) + " bytes)";
        out_ += options_.frames ? ":\n" : "\n";
        dump(json);
      }
      if (out_.size() >= (1 << 20)) {
        written += out_.size();
        if (fwrite(out_.data(), 1, out_.size(), stdout) != out_.size()) exit(1);
        out_.clear();
      }
    }
    if (fwrite(out_.data(), 1, out_.size(), stdout) != out_.size() || fflush(stdout) != 0) exit(1);
  }

 private:
  uint64_t pick(uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(random_);
  }

  // Mostly 0.1 to 50 ms; a few per mille above 10 s, a few negative (clock skew).
  uint64_t latency() {
    uint64_t roll = pick(0, 999);
    if (roll < 3) return pick(10000000001, 30000000000);
    if (roll < 6) return -pick(1, 5000000);
    return pick(100000, 50000000);
  }

  std::string number(uint64_t low, uint64_t high, int decimals) {
    std::string s = std::to_string(pick(low, high)) + ".";
    for (int i = 0; i < decimals; ++i) s += static_cast<char>('0' + pick(0, 9));
    return s;
  }

  // Nested objects and arrays of number strings, as exchanges send them.
  std::string body(size_t target) {
    std::string s = "\"s\":\"BTCUSDT\",\"U\":" + std::to_string(pick(1, 1u << 30)) + ",\"b\":[";
    bool first = true;
    while (s.size() + 40 < target) {
      if (!first) s += ",";
      first = false;
      s += "[\"" + number(20000, 70000, 2) + "\",\"" + number(0, 20, 8) + "\"]";
    }
    return s + "],\"a\":[]";
  }

  std::string message(uint64_t app) {
    size_t target = options_.small ? 100 : pick(100, 1500);
    std::string format = options_.format;
    if (format == "mixed") {
      static const char* const all[] = {"iso", "data", "e", "ts"};
      format = all[pick(0, 3)];
    }
    uint64_t ms = app / 1000000;
    std::string json;
    if (format == "e") {
      json = "{\"e\":\"depthUpdate\",\"E\":" + std::to_string(ms) + ",";
    } else if (format == "ts") {
      char us[8];
      snprintf(us, sizeof us, "%03" PRIu64, app / 1000 % 1000);
      json = "{\"type\":\"ticker\",\"ts\":\"" + std::to_string(ms) + "." + us + "\",";
    } else if (format == "data") {
      char ns[16];
      snprintf(ns, sizeof ns, "%09" PRIu64, app % 1000000000);
      json = "{\"channel\":\"trades\",\"data\":{\"time\":" + std::to_string(app / 1000000000) +
             "." + ns + ",\"side\":\"buy\"},";
    } else {
      time_t seconds = static_cast<time_t>(app / 1000000000);
      struct tm tm;
      gmtime_r(&seconds, &tm);
      char iso[64];
      snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d.%06" PRIu64 "Z", tm.tm_year + 1900,
               tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, app / 1000 % 1000000);
      json = "{\"type\":\"l2update\",\"product_id\":\"BTC-USD\",\"time\":\"" + std::string(iso) +
             "\",";
    }
    json += body(target > json.size() + 40 ? target - json.size() : 40);
    // Small payloads are padded to exactly their size with a member of their own.
    if (options_.small && json.size() + 8 < target)
      json += ",\"m\":\"" + std::string(target - json.size() - 8, 'x') + "\"";
    return json + "}";
  }

  void frame(uint64_t size) {
    out_ += "Frame (" + std::to_string(size) + " bytes):\n";
    std::string bytes;
    for (uint64_t i = 0; i < size; ++i) bytes += static_cast<char>(pick(0, 255));
    dump(bytes);
  }

  void dump(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    for (size_t offset = 0; offset < bytes.size(); offset += 16) {
      char line[128];
      int n = snprintf(line, sizeof line, "%04zx ", offset & 0xffff);
      size_t count = bytes.size() - offset < 16 ? bytes.size() - offset : 16;
      for (size_t i = 0; i < count; ++i) {
        auto b = static_cast<unsigned char>(bytes[offset + i]);
        line[n++] = ' ';
        line[n++] = digits[b >> 4];
        line[n++] = digits[b & 15];
      }
      if (options_.ascii) {
        for (size_t i = count; i < 16; ++i) n += snprintf(line + n, 4, "   ");
        line[n++] = ' ';
        line[n++] = ' ';
        line[n++] = ' ';
        for (size_t i = 0; i < count; ++i) {
          auto b = static_cast<unsigned char>(bytes[offset + i]);
          line[n++] = b >= 32 && b < 127 ? static_cast<char>(b) : '.';
        }
      }
      line[n++] = '\n';
      out_.append(line, n);
    }
  }

  Options options_;
  std::mt19937_64 random_;
  std::string out_;
};

const char usage[] =
    "usage: loggen [--format iso|data|e|ts|mixed] [--size BYTES] [--seed N] [--small]\n"
    "              [--ascii] [--frames]\n";

const char help[] =
    "Writes a made-up capture log to standard output, for trying and measuring\n"
    "caplat: receive-time lines from 2023-11-14 on, each followed by the payload\n"
    "header and hex dump of a JSON message (one time in 200, two) stamped with its\n"
    "send time. Latencies are mostly 0.1 to 50 ms, a few per mille 10 to 30 s, and\n"
    "a few negative. The same options and seed give the same log.\n"
    "\n"
    "  --format FORMAT  the key of the send time: iso (\"time\":\"2023-11-14T...Z\"),\n"
    "                   data (\"data\":{\"time\":SECONDS), e (\"E\":MS, the default),\n"
    "                   ts (\"ts\":\"MS\"), or mixed (each message one of them)\n"
    "  --size BYTES     write about BYTES bytes (default 1073741824)\n"
    "  --seed N         seed of the random choices (default 1)\n"
    "  --small          payloads of 100 bytes, rather than 100 to 1500\n"
    "  --ascii          a printable column after each dump line's hex pairs\n"
    "  --frames         what live captures carry besides: a blank line after each\n"
    "                   receive time, the frame's own dump, and 1 to 12 payloads\n"
    "                   per receive time\n"
    "  --help           print this help\n";

}  // namespace

int main(int argc, char** argv) {
  Options options;
  static const char* const formats[] = {"iso", "data", "e", "ts", "mixed"};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--format" && has_value &&
        std::find(std::begin(formats), std::end(formats), std::string(argv[i + 1])) !=
            std::end(formats)) {
      options.format = argv[++i];
    } else if (arg == "--size" && has_value) {
      options.size = strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--seed" && has_value) {
      options.seed = strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--small") {
      options.small = true;
    } else if (arg == "--ascii") {
      options.ascii = true;
    } else if (arg == "--frames") {
      options.frames = true;
    } else if (arg == "--help") {
      return fputs(usage, stdout) >= 0 && fputs(help, stdout) >= 0 && fflush(stdout) == 0 ? 0 : 1;
    } else {
      fputs(usage, stderr);
      return 2;
    }
  }
  Generator(options).run();
  return 0;
}
