#include "latency_reader.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "latency_text.h"
#include "report.h"

namespace caplat::stat {

namespace {

using latency_text::common_times;
using latency_text::read_ms;
using latency_text::read_time;
using latency_text::skip_ms;

// Bytes read at a time; also the longest line.
constexpr size_t block = 1 << 20;
// Readable bytes past the data, for the loads of latency_text's readers.
constexpr size_t padding = latency_text::lookahead;
// Lines reported one by one; beyond them only the count is given at the end.
constexpr int64_t max_reported = 10;

}  // namespace

LatencyReader::LatencyReader(Accumulator* accumulator, bool needs_times)
    : accumulator_(accumulator),
      needs_times_(needs_times),
      buffer_(std::make_unique<char[]>(block + padding)) {}

namespace {

// Reads the line at p, of a form with times, ended by a newline: returns the
// byte after the newline, with its receive time and latency, or null if the
// line is not of that form. Up to padding bytes after the newline may be
// loaded.
template <LatencyReader::Form form>
inline __attribute__((always_inline)) const char* read_timed_line(const char* p, uint64_t* receive,
                                                                  int64_t* latency) {
  uint64_t application;
  if (const char* times = common_times(p, &application, receive)) {
    p = times;
  } else {
    p = read_time(p, &application);
    if (p == nullptr || *p != ' ') return nullptr;
    p = read_time(p + 1, receive);
    if (p == nullptr) return nullptr;
  }
  // The third field is checked for its form only: the times give the
  // latency exactly, where caplat's text went through a double.
  if (form == LatencyReader::TimesAndLatency && (*p != ' ' || (p = skip_ms(p + 1)) == nullptr))
    return nullptr;
  if (*p != '\n') return nullptr;
  // The latency as caplat computes it: the difference modulo 2^64, signed.
  *latency = static_cast<int64_t>(*receive - application);
  return p + 1;
}

// Reads the line of form at p into run, doing with its clocks what clocks
// says; returns the byte after the newline, or null, reading nothing, if the
// line is not of that form. A latency whose receive time does not fit the run
// goes to the accumulator, which then starts the run anew.
template <LatencyReader::Form form, LatencyReader::Clocks clocks>
inline __attribute__((always_inline)) const char* parse_line(const char* p, Accumulator::Run* run,
                                                             Accumulator* accumulator,
                                                             ClockEstimator* estimator,
                                                             Deskew* deskew) {
  int64_t latency;
  if constexpr (form == LatencyReader::Latency) {
    p = read_ms(p, &latency);
    if (p == nullptr || *p != '\n') return nullptr;
    run->add(latency);
    return p + 1;
  } else {
    uint64_t receive;
    p = read_timed_line<form>(p, &receive, &latency);
    if (p == nullptr) return nullptr;
    if constexpr (clocks == LatencyReader::CountAndEstimate) estimator->add(receive, latency);
    if constexpr (clocks == LatencyReader::CountDeskewed) latency = deskew->remove(receive, latency);
    if (__builtin_expect(run->fits(receive), 1)) {
      run->add(receive, latency);
    } else {
      accumulator->end_run(*run);
      accumulator->add(receive, latency);
      *run = accumulator->begin_run(true);
    }
    return p;
  }
}

// Reads the lines of form from p up to end, in one tight loop, counting them
// in lines; returns where a line of another form starts, or end.
template <LatencyReader::Form form, LatencyReader::Clocks clocks>
const char* parse_lines(const char* p, const char* end, Accumulator* accumulator,
                        ClockEstimator* estimator, Deskew* deskew, int64_t* lines) {
  Accumulator::Run run = accumulator->begin_run(form != LatencyReader::Latency);
  int64_t n = 0;
  while (p < end) {
    const char* next = parse_line<form, clocks>(p, &run, accumulator, estimator, deskew);
    if (next == nullptr) break;
    ++n;
    p = next;
  }
  accumulator->end_run(run);
  *lines += n;
  return p;
}

// Reads the lines of form, which has times, from p up to end into estimator
// alone, counting them in lines; returns where a line of another form
// starts, or end.
template <LatencyReader::Form form>
const char* estimate_lines(const char* p, const char* end, ClockEstimator* estimator,
                           int64_t* lines) {
  int64_t n = 0;
  uint64_t receive;
  int64_t latency;
  for (const char* next; p < end && (next = read_timed_line<form>(p, &receive, &latency)); p = next) {
    estimator->add(receive, latency);
    ++n;
  }
  *lines += n;
  return p;
}

}  // namespace

LatencyReader::Form LatencyReader::detect(const char* line, const char* end) {
  int fields = 0;
  for (const char* p = line; p < end; ++p) {
    if (*p != ' ' && (p == line || p[-1] == ' ')) ++fields;
  }
  switch (fields) {
    case 1:
      return Latency;
    case 2:
      return Times;
    case 3:
      return TimesAndLatency;
    default:
      return Undetected;
  }
}

bool LatencyReader::holds_payload_header(const char* data, size_t size) {
  constexpr std::string_view header = "Decompressed payload (";
  for (std::string_view rest(data, size);;) {
    if (rest.substr(0, header.size()) == header) return true;
    size_t newline = rest.find('\n');
    if (newline == std::string_view::npos) return false;
    rest.remove_prefix(newline + 1);
  }
}

template <LatencyReader::Form form>
const char* LatencyReader::parse(const char* p, const char* end) {
  switch (clocks_) {
    case Count:
      break;
    case CountAndEstimate:
      return parse_lines<form, CountAndEstimate>(p, end, accumulator_, estimator_, deskew_, &line_);
    case EstimateOnly:
      // Without times a read ends before its lines are parsed.
      if constexpr (form != Latency) return estimate_lines<form>(p, end, estimator_, &line_);
      break;
    case CountDeskewed:
      return parse_lines<form, CountDeskewed>(p, end, accumulator_, estimator_, deskew_, &line_);
  }
  return parse_lines<form, Count>(p, end, accumulator_, estimator_, deskew_, &line_);
}

void LatencyReader::set_clocks(Clocks clocks, ClockEstimator* estimator, Deskew* deskew) {
  clocks_ = clocks;
  estimator_ = estimator;
  deskew_ = deskew;
}

void LatencyReader::skip(const char* what) {
  if (clocks_ == EstimateOnly) return;
  if (++skipped_ <= max_reported) report_line(name_, line_, what);
}

void LatencyReader::report_unreported() const {
  if (skipped_ > max_reported)
    fprintf(stderr, "caplat-stat: %lld lines skipped in all\n", static_cast<long long>(skipped_));
}

LatencyReader::Status LatencyReader::read_lines(const char* p, const char* end) {
  static const char* const expected[] = {
      "expected one to three fields", "expected a latency in ms",
      "expected application and receive time in ns",
      "expected application and receive time in ns and a latency in ms"};
  while (p < end) {
    if (form_ == Undetected) {
      // The lines at hand when the form is told show a capture log, if any.
      if (line_ == 0 && holds_payload_header(p, static_cast<size_t>(end - p))) return CaptureLog;
      form_ = detect(p, static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p))));
      if (form_ == Latency && (needs_times_ || clocks_ == EstimateOnly)) return NoReceiveTimes;
    }
    switch (form_) {
      case Latency:
        p = parse<Latency>(p, end);
        break;
      case Times:
        p = parse<Times>(p, end);
        break;
      case TimesAndLatency:
        p = parse<TimesAndLatency>(p, end);
        break;
      case Undetected:
        break;
    }
    if (p == end) break;
    ++line_;
    skip(expected[form_]);
    p = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p))) + 1;
  }
  return Done;
}

LatencyReader::Status LatencyReader::read(Source* source, const char* name) {
  name_ = name;
  line_ = 0;
  form_ = Undetected;
  char* buffer = buffer_.get();
  size_t kept = 0;
  // True inside a line longer than a block, which is skipped to its end.
  bool discarding = false;
  for (;;) {
    if (clocks_ != EstimateOnly) accumulator_->reading(source);
    ssize_t n = source->read(reinterpret_cast<unsigned char*>(buffer + kept), block - kept);
    if (n < 0) {
      report_file(name, source->error());
      return ReadError;
    }
    if (n == 0) break;
    size_t have = kept + static_cast<size_t>(n);
    char* start = buffer;
    if (discarding) {
      auto* newline = static_cast<char*>(memchr(start, '\n', have));
      if (newline == nullptr) {
        kept = 0;
        continue;
      }
      discarding = false;
      start = newline + 1;
    }
    auto* last =
        static_cast<char*>(memrchr(start, '\n', have - static_cast<size_t>(start - buffer)));
    // Only a line that fills the whole block from its start is too long; the
    // start of the next line after a discarded one moves to the front.
    if (last == nullptr && start == buffer && have == block) {
      ++line_;
      skip("line longer than a megabyte");
      discarding = true;
      kept = 0;
      continue;
    }
    char* rest = last != nullptr ? last + 1 : start;
    Status lines = read_lines(start, rest);
    if (lines != Done) return lines;
    kept = static_cast<size_t>(buffer + have - rest);
    memmove(buffer, rest, kept);
  }
  if (kept != 0 && !discarding) {
    ++line_;
    skip("truncated line (no newline at the end)");
  }
  return Done;
}

}  // namespace caplat::stat
