#include "export_options.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "units.h"

namespace caplat::stat {

namespace {

// The host a bare port is served on: this machine only.
constexpr const char* loopback = "127.0.0.1";

// The largest TCP port, and its digits.
constexpr long max_port = 65535;
constexpr size_t max_port_digits = 5;

// True for a UTF-8 character's continuation byte.
bool continuation(unsigned char c) {
  return (c & 0xc0) == 0x80;
}

// True if text is well-formed UTF-8, as Prometheus requires of a label's
// value: no overlong forms, no surrogates, nothing past U+10FFFF.
bool valid_utf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    unsigned char c = *p;
    int more = c < 0x80                ? 0
               : c >= 0xc2 && c < 0xe0 ? 1
               : c >= 0xe0 && c < 0xf0 ? 2
               : c >= 0xf0 && c < 0xf5 ? 3
                                       : -1;
    if (more < 0 || end - p <= more) return false;
    for (int i = 1; i <= more; ++i) {
      if (!continuation(p[i])) return false;
    }
    // The second byte's range rules out overlong forms, surrogates and
    // values past U+10FFFF.
    if ((c == 0xe0 && p[1] < 0xa0) || (c == 0xed && p[1] >= 0xa0) || (c == 0xf0 && p[1] < 0x90) ||
        (c == 0xf4 && p[1] >= 0x90))
      return false;
    p += 1 + more;
  }
  return true;
}

// True if name is a label name Prometheus takes and leaves to the user:
// letters, digits and underscores, not starting with a digit or with the
// reserved two underscores.
bool valid_label_name(const std::string& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9') || name.rfind("__", 0) == 0) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

}  // namespace

std::vector<int64_t> default_buckets() {
  // Mantissas in hundredths, from 10 us (10^4 ns) up, until the hour ends them.
  static const int64_t mantissas[] = {100, 125, 160, 200, 250, 315, 400, 500, 630, 800};
  std::vector<int64_t> bounds;
  for (int64_t decade = 100; decade < hour_ns; decade *= 10) {
    for (int64_t mantissa : mantissas) {
      if (mantissa * decade >= hour_ns) break;
      bounds.push_back(mantissa * decade);
    }
  }
  bounds.push_back(hour_ns);
  return bounds;
}

bool parse_listen(const char* text, ExportOptions* options) {
  std::string host, port = text;
  if (const char* colon = strrchr(text, ':')) {
    host.assign(text, static_cast<size_t>(colon - text));
    port = colon + 1;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
      return false;
    }
    if (host.empty()) return false;
  } else {
    host = loopback;
  }
  bool digits = std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (port.empty() || port.size() > max_port_digits || !digits) return false;
  long number = strtol(port.c_str(), nullptr, 10);
  if (number == 0 || number > max_port) return false;
  options->host = host;
  options->port = port;
  return true;
}

const char* parse_label(const char* text, ExportOptions* options) {
  const char* equals = strchr(text, '=');
  if (equals == nullptr) return "a label is NAME=VALUE";
  Label label{std::string(text, static_cast<size_t>(equals - text)), equals + 1};
  if (!valid_label_name(label.name))
    return "a label's name is letters, digits and underscores, not starting with a digit or __";
  // The histogram's buckets and the interval's quantiles have these already.
  if (label.name == "le" || label.name == "quantile") return "le and quantile are taken";
  if (std::any_of(options->labels.begin(), options->labels.end(),
                  [&](const Label& other) { return other.name == label.name; }))
    return "a label is given twice";
  if (label.value.empty() || !valid_utf8(label.value))
    return "a label's value must be UTF-8 text, not empty";
  options->labels.push_back(label);
  return nullptr;
}

bool parse_buckets(const char* text, std::vector<int64_t>* bounds) {
  std::vector<int64_t> list;
  std::string item;
  for (const char* p = text;; ++p) {
    if (*p != ',' && *p != '\0') {
      item.push_back(*p);
      continue;
    }
    int64_t ns;
    if (!parse_duration(item.c_str(), &ns) || ns > hour_ns || (!list.empty() && ns <= list.back()))
      return false;
    list.push_back(ns);
    item.clear();
    if (*p == '\0') break;
  }
  *bounds = list;
  return true;
}

const char* metrics_missing(const ExportOptions& options) {
  if (options.linger != 0 && options.host.empty()) return "--linger needs --listen";
  bool exported = !options.host.empty() || options.prom != nullptr;
  if (!exported && (!options.labels.empty() || options.buckets != default_buckets()))
    return "--label and --buckets need --listen or --prom";
  return nullptr;
}

}  // namespace caplat::stat
