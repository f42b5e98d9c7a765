#include "hlog_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "hlog_format.h"
#include "report.h"

namespace caplat::stat {

using namespace hlog_format;

namespace {

// Java's reader takes a log's first time stamp as relative to its start time
// when it is more than a year before it, and as absolute otherwise.
constexpr uint64_t year_ns = uint64_t{365} * 24 * 3600 * ns_per_s;
// Digits of whole seconds in a time stamp: up to the year 2286.
constexpr size_t max_second_digits = 10;
// What a tag that is not selected returns from a histogram line's parse.
constexpr char other_tag[] = "";

// Reads decimal seconds (digits, then maybe a point and digits) as ns exactly;
// digits past the ninth decimal are dropped.
bool parse_seconds(std::string_view text, uint64_t* ns) {
  size_t point = std::min(text.find('.'), text.size());
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point < text.size() ? text.substr(point + 1) : std::string_view();
  if (whole.empty() || whole.size() > max_second_digits) return false;
  uint64_t value = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  uint64_t scale = ns_per_s;
  value *= scale;
  for (char c : fraction) {
    if (c < '0' || c > '9') return false;
    scale /= 10;
    value += static_cast<uint64_t>(c - '0') * scale;
  }
  *ns = value;
  return true;
}

bool parse_int(std::string_view text, int64_t* result) {
  bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 18) return false;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  *result = negative ? -value : value;
  return true;
}

// Splits off the text up to the next comma; false if there is none.
bool next_field(std::string_view* rest, std::string_view* field) {
  size_t comma = rest->find(',');
  if (comma == std::string_view::npos) return false;
  *field = rest->substr(0, comma);
  rest->remove_prefix(comma + 1);
  return true;
}

}  // namespace

bool HlogReader::is_log(std::string_view text) {
  return text.starts_with("#") || text.starts_with(legend_prefix);
}

bool HlogReader::is_log_file(int fd) {
  char start[64];
  off_t offset = lseek(fd, 0, SEEK_CUR);
  ssize_t size = offset < 0 ? -1 : pread(fd, start, sizeof start, offset);
  return size > 0 && is_log(std::string_view(start, static_cast<size_t>(size)));
}

HlogReader::HlogReader(int fd, std::string name, const std::string* tag)
    : fd_(fd),
      name_(std::move(name)),
      tag_(tag),
      buffer_(std::make_unique<char[]>(block)),
      offset_(std::max<off_t>(lseek(fd, 0, SEEK_CUR), 0)) {}

ssize_t HlogReader::read_more() {
  for (;;) {
    ssize_t n = read(fd_, buffer_.get() + end_, block - end_);
    if (n >= 0 || errno != EINTR) {
      if (n < 0) {
        failed_ = true;
        report_file(name_.c_str(), strerror(errno));
      }
      return n;
    }
  }
}

bool HlogReader::read_line() {
  char* buffer = buffer_.get();
  size_t scanned = begin_;
  for (;;) {
    auto* newline = static_cast<char*>(memchr(buffer + scanned, '\n', end_ - scanned));
    size_t end = newline != nullptr ? static_cast<size_t>(newline - buffer) : end_;
    // A line is whole once its newline is in, or the file has ended after it.
    bool at_end = false;
    if (newline == nullptr && end_ - begin_ < block) {
      if (begin_ > 0) {
        memmove(buffer, buffer + begin_, end_ - begin_);
        offset_ += static_cast<off_t>(begin_);
        end_ -= begin_;
        begin_ = 0;
      }
      scanned = end_;
      ssize_t n = read_more();
      if (n < 0) return false;
      if (n > 0) {
        end_ += static_cast<size_t>(n);
        continue;
      }
      if (begin_ == end_) return false;
      at_end = true;
      end = end_;
    }
    ++line_number_;
    head_ = std::string_view(buffer + begin_, end - begin_);
    whole_ = newline != nullptr || at_end;
    line_offset_ = offset_ + static_cast<off_t>(begin_);
    line_end_ = offset_ + static_cast<off_t>(end);
    begin_ = newline != nullptr ? end + 1 : end;
    if (whole_) {
      while (head_.ends_with('\r')) head_.remove_suffix(1);
    }
    return true;
  }
}

void HlogReader::skip_rest() {
  if (whole_) return;
  // The block is the line's head; its rest is read and dropped.
  for (;;) {
    offset_ += static_cast<off_t>(end_);
    begin_ = end_ = 0;
    ssize_t n = read_more();
    if (n <= 0) {
      line_end_ = offset_;
      return;
    }
    end_ = static_cast<size_t>(n);
    if (const void* newline = memchr(buffer_.get(), '\n', end_)) {
      begin_ = static_cast<size_t>(static_cast<const char*>(newline) - buffer_.get());
      line_end_ = offset_ + static_cast<off_t>(begin_);
      ++begin_;
      return;
    }
  }
}

void HlogReader::skip(const char* what) {
  ++skipped_;
  report_line(name_.c_str(), line_number_, what);
}

bool HlogReader::parse_comment(std::string_view line) {
  uint64_t ns = 0;
  if (line.starts_with(start_time_prefix) || line.starts_with(base_time_prefix)) {
    bool start = line.starts_with(start_time_prefix);
    line.remove_prefix(start ? start_time_prefix.size() : base_time_prefix.size());
    if (!parse_seconds(line.substr(0, line.find_first_of(" ]")), &ns)) return false;
    (start ? log_start_ns_ : base_ns_) = ns;
    (start ? have_log_start_ : have_base_) = true;
  } else if (line.starts_with(excluded_prefix) && line.ends_with("]")) {
    line.remove_prefix(excluded_prefix.size());
    line.remove_suffix(1);
    int64_t* values[] = {&next_excluded_.negative, &next_excluded_.most_negative,
                         &next_excluded_.over_hour, &next_excluded_.max_over_hour};
    for (size_t i = 0; i < std::size(values); ++i) {
      if (!line.starts_with(excluded_fields[i])) return false;
      line.remove_prefix(excluded_fields[i].size());
      size_t end = i + 1 < std::size(values) ? line.find(',') : line.size();
      if (!parse_int(line.substr(0, end), values[i])) return false;
      line.remove_prefix(std::min(end, line.size()));
    }
    if (next_excluded_.negative < 0 || next_excluded_.most_negative > 0 ||
        next_excluded_.over_hour < 0 || next_excluded_.max_over_hour < 0)
      return false;
  }
  return true;
}

const char* HlogReader::parse_histogram_line(std::string_view line) {
  std::string_view rest = line;
  std::string_view tag;
  if (rest.starts_with(tag_prefix)) {
    rest.remove_prefix(tag_prefix.size());
    if (!next_field(&rest, &tag)) return "not a histogram line";
  }
  if (tag_ != nullptr) {
    if (tag != *tag_) {
      ++(tag.empty() ? untagged_ : other_tags_);
      return other_tag;
    }
    ++selected_;
  }
  std::string_view start, length, max;
  if (!next_field(&rest, &start) || !next_field(&rest, &length) || !next_field(&rest, &max))
    return "not a histogram line";
  if (!parse_seconds(start, &start_ns_)) return "bad interval start time";
  if (!parse_seconds(length, &length_ns_)) return "bad interval length";
  // One old writer put the interval's end where its length belongs; with
  // absolute times the two cannot be taken for each other.
  if (start_ns_ >= year_ns && length_ns_ >= start_ns_) length_ns_ -= start_ns_;
  // The maximum is the histogram's own, which may reach far beyond an hour;
  // only its form is checked.
  if (max.empty() || max.find_first_not_of("0123456789.") != std::string_view::npos)
    return "bad interval maximum";
  if (!have_base_) {
    have_base_ = true;
    base_ns_ = have_log_start_ && log_start_ns_ >= year_ns && start_ns_ < log_start_ns_ - year_ns
                   ? log_start_ns_
                   : 0;
  }
  if (start_ns_ > UINT64_MAX - base_ns_) return "bad interval start time";
  start_ns_ += base_ns_;
  if (length_ns_ > UINT64_MAX - start_ns_) return "bad interval length";
  histogram_ = rest;
  histogram_offset_ = line_offset_ + static_cast<off_t>(rest.data() - line.data());
  return nullptr;
}

bool HlogReader::next() {
  while (read_line()) {
    std::string_view line = head_;
    const char* what = nullptr;
    if (line.starts_with('#')) {
      if (!parse_comment(line)) {
        what = "bad comment line";
        next_excluded_ = LogInterval();
      }
    } else if (!line.empty() && !line.starts_with(legend_prefix)) {
      excluded_ = std::exchange(next_excluded_, LogInterval());
      what = parse_histogram_line(line);
      if (what == nullptr) {
        skip_rest();
        return true;
      }
    }
    skip_rest();
    if (failed_) return false;
    if (what != nullptr && what != other_tag) skip(what);
  }
  if (tag_ != nullptr && selected_ == 0 && !failed_) {
    std::string what = "no line is tagged " + *tag_ + " (untagged: " + std::to_string(untagged_) +
                       ", other tags: " + std::to_string(other_tags_) + ")";
    report_file(name_.c_str(), what.c_str());
  }
  return false;
}

const char* HlogReader::decode(HistogramCodec* codec, const Histogram& layout) {
  if (whole_) return codec->decode(histogram_, layout);
  // A line longer than the block: its histogram is read again, a piece at a
  // time, into a buffer that lives only as long as the decoding.
  auto piece = std::make_unique<char[]>(block);
  off_t at = histogram_offset_;
  return codec->decode(
      [&]() {
        ssize_t n = 0;
        if (at < line_end_) {
          auto size = static_cast<size_t>(std::min<off_t>(line_end_ - at, block));
          do {
            n = pread(fd_, piece.get(), size, at);
          } while (n < 0 && errno == EINTR);
        }
        if (n < 0 && !failed_) {
          failed_ = true;
          report_file(name_.c_str(), strerror(errno));
        }
        at += std::max<ssize_t>(n, 0);
        return std::string_view(piece.get(), static_cast<size_t>(std::max<ssize_t>(n, 0)));
      },
      layout);
}

}  // namespace caplat::stat
