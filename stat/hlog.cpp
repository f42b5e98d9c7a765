#include "hlog.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <iterator>
#include <utility>

#include "histogram.h"

namespace {

constexpr int64_t ns_per_s = 1000000000;
constexpr int64_t ns_per_ms = 1000000;
// A line longer than any histogram a log can sensibly hold is skipped unread,
// so that a file without newlines costs no more memory than this.
constexpr size_t max_line_bytes = size_t{4} << 20;
// Java's reader takes a log's first time stamp as relative to its start time
// when it is more than a year before it, and as absolute otherwise.
constexpr int64_t year_ns = int64_t{365} * 24 * 3600 * ns_per_s;
// The most latencies all logs together may hold: the sum of the squares of as
// many latencies of an hour still fits the summary's 128-bit sums.
constexpr int64_t max_total_count = int64_t{1} << 43;
constexpr std::string_view version_line = "#[Histogram log format version 1.3]";
constexpr std::string_view start_time_prefix = "#[StartTime: ";
constexpr std::string_view base_time_prefix = "#[BaseTime: ";
constexpr std::string_view legend_prefix = "\"StartTimestamp\"";
constexpr std::string_view tag_prefix = "Tag=";
// The comment line that carries the latencies a histogram cannot hold; readers
// of other programs skip it, as they skip every comment.
constexpr std::string_view excluded_prefix = "#[Excluded: ";
// Its fields, in order: the count of negative latencies and the most negative,
// the count of those over the histogram's range and the largest.
constexpr std::string_view excluded_fields[] = {"negative=", ", min=", ", over=", ", max="};

// Appends value / unit with three decimals, rounded half up, as the Java
// writer prints seconds and milliseconds.
void put_thousandths(int64_t value, int64_t unit, Output* out) {
  int64_t step = unit / 1000;
  int64_t magnitude = value < 0 ? -(value / step) : value / step;
  int64_t rest = value < 0 ? -(value % step) : value % step;
  if (rest * 2 >= step) ++magnitude;
  out->put_fixed(value < 0 ? -magnitude : magnitude, 3);
}

// Reads decimal seconds (digits, then maybe a point and digits) as ns exactly;
// digits past the ninth decimal are dropped.
bool parse_seconds(std::string_view text, int64_t* ns) {
  size_t point = std::min(text.find('.'), text.size());
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point < text.size() ? text.substr(point + 1) : std::string_view();
  if (whole.empty() || whole.size() > 10) return false;
  int64_t value = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > INT64_MAX / ns_per_s - 1) return false;
  int64_t scale = ns_per_s;
  value *= ns_per_s;
  for (char c : fraction) {
    if (c < '0' || c > '9') return false;
    scale /= 10;
    value += (c - '0') * scale;
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

HlogWriter::HlogWriter(Output* out, std::string tag) : out_(out), tag_(std::move(tag)) {}

void HlogWriter::write_header(int64_t start_ns) {
  started_ = true;
  // Whole milliseconds, as the Java writer's, keep the base time exact in text.
  base_ns_ = start_ns - (start_ns % ns_per_ms + ns_per_ms) % ns_per_ms;
  std::time_t seconds = base_ns_ / ns_per_s - (base_ns_ % ns_per_s < 0 ? 1 : 0);
  std::tm utc{};
  char date[64] = "";
  if (gmtime_r(&seconds, &utc)) strftime(date, sizeof date, "%a %b %d %H:%M:%S UTC %Y", &utc);
  out_->put(version_line);
  out_->put('\n');
  out_->put(start_time_prefix);
  put_thousandths(base_ns_, ns_per_s, out_);
  out_->put(" (seconds since epoch), ");
  out_->put(date);
  out_->put("]\n");
  out_->put(base_time_prefix);
  put_thousandths(base_ns_, ns_per_s, out_);
  out_->put(" (seconds since epoch)]\n");
  out_->put(legend_prefix);
  out_->put(",\"Interval_Length\",\"Interval_Max\",\"Interval_Compressed_Histogram\"\n");
}

void HlogWriter::interval(const Interval& closed) {
  if (!started_) write_header(closed.start);
  const Histogram& histogram = closed.histogram;
  int64_t over = closed.count - histogram.total_count() - closed.negative;
  if (closed.negative != 0 || over != 0) {
    const int64_t values[] = {closed.negative, closed.most_negative, over, over ? closed.max : 0};
    out_->put(excluded_prefix);
    for (size_t i = 0; i < std::size(values); ++i) {
      out_->put(excluded_fields[i]);
      out_->put_int(values[i]);
    }
    out_->put("]\n");
  }
  if (!tag_.empty()) {
    out_->put(tag_prefix);
    out_->put(tag_);
    out_->put(',');
  }
  put_thousandths(closed.start - base_ns_, ns_per_s, out_);
  out_->put(',');
  put_thousandths(closed.length, ns_per_s, out_);
  out_->put(',');
  // The Java writer's maximum: the highest value counted with the largest one, in ms.
  int64_t max = histogram.total_count() ? histogram.highest_equivalent(histogram.max()) : 0;
  put_thousandths(max, ns_per_ms, out_);
  out_->put(',');
  text_.clear();
  codec_.encode(histogram, &text_);
  out_->put(text_);
  out_->put('\n');
  // Each interval reaches the file as it closes, as the rows do, so that a
  // log stays whole however the run ends and can be followed while it grows.
  out_->flush();
}

void HlogWriter::finish() {
  if (!started_) write_header(0);
}

bool HlogReader::is_log(std::string_view line) {
  return line.starts_with("#") || line.starts_with(legend_prefix);
}

HlogReader::HlogReader(FILE* file, std::string name, const std::string* tag)
    : file_(file), name_(std::move(name)), tag_(tag) {}

bool is_log_file(int fd) {
  char start[64];
  ssize_t size = pread(fd, start, sizeof start, 0);
  return size > 0 && HlogReader::is_log(std::string_view(start, static_cast<size_t>(size)));
}

bool read_logs(const std::vector<std::pair<int, const char*>>& logs, const char* tag,
               Accumulator* accumulator, int64_t* skipped) {
  std::string selected = tag != nullptr ? tag : "";
  std::vector<HlogReader> readers;
  readers.reserve(logs.size());
  std::vector<FILE*> files;
  for (auto [fd, name] : logs) {
    files.push_back(fdopen(fd, "r"));
    if (files.back() == nullptr) {
      fprintf(stderr, "caplat-stat: %s: %s\n", name, strerror(errno));
      close(fd);
      files.pop_back();
      continue;
    }
    readers.emplace_back(files.back(), name, tag != nullptr ? &selected : nullptr);
  }
  std::vector<HlogReader*> merged(readers.size());
  std::transform(readers.begin(), readers.end(), merged.begin(), [](auto& r) { return &r; });
  HlogMerge merge(merged);
  LogInterval logged;
  while (merge.next(accumulator->histogram(), &logged)) accumulator->add(logged);
  bool ok = files.size() == logs.size();
  for (const auto& reader : readers) {
    *skipped += reader.skipped();
    ok = ok && !reader.failed();
  }
  for (FILE* file : files) fclose(file);
  return ok;
}

bool HlogReader::read_line() {
  line_.clear();
  bool too_long = false;
  char block[4096];
  bool any = false;
  while (fgets(block, sizeof block, file_)) {
    any = true;
    size_t n = strlen(block);
    too_long = too_long || line_.size() + n > max_line_bytes;
    if (!too_long) line_.append(block, n);
    if (n > 0 && block[n - 1] == '\n') break;
  }
  if (!any) {
    failed_ = ferror(file_) != 0;
    if (failed_) fprintf(stderr, "caplat-stat: %s: %s\n", name_.c_str(), strerror(errno));
    return false;
  }
  ++line_number_;
  while (!line_.empty() && (line_.back() == '\n' || line_.back() == '\r')) line_.pop_back();
  if (too_long) {
    report("line is too long for a histogram log");
    line_.clear();
  }
  return true;
}

void HlogReader::report(const char* what) {
  ++skipped_;
  fprintf(stderr, "caplat-stat: %s:%" PRId64 ": %s\n", name_.c_str(), line_number_, what);
}

bool HlogReader::parse_comment() {
  std::string_view line = line_;
  int64_t ns = 0;
  if (line.starts_with(start_time_prefix) || line.starts_with(base_time_prefix)) {
    bool start = line.starts_with(start_time_prefix);
    line.remove_prefix(start ? start_time_prefix.size() : base_time_prefix.size());
    if (!parse_seconds(line.substr(0, line.find_first_of(" ]")), &ns)) return false;
    (start ? log_start_ns_ : base_ns_) = ns;
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

const char* HlogReader::parse_histogram_line() {
  std::string_view rest = line_;
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
  if (base_ns_ < 0)
    base_ns_ = log_start_ns_ >= 0 && start_ns_ < log_start_ns_ - year_ns ? log_start_ns_ : 0;
  if (start_ns_ > INT64_MAX - base_ns_) return "bad interval start time";
  start_ns_ += base_ns_;
  if (length_ns_ > INT64_MAX - start_ns_) return "bad interval length";
  while (!rest.empty() && rest.back() == ' ') rest.remove_suffix(1);
  histogram_ = rest;
  return nullptr;
}

bool HlogReader::next() {
  while (read_line()) {
    if (line_.empty()) continue;
    if (line_[0] == '#') {
      if (!parse_comment()) {
        report("bad comment line");
        next_excluded_ = LogInterval();
      }
      continue;
    }
    if (line_.starts_with(legend_prefix)) continue;
    excluded_ = std::exchange(next_excluded_, LogInterval());
    size_t tag_end = 0;
    if (line_.starts_with(tag_prefix)) {
      tag_end = line_.find(',');
      if (tag_end == std::string::npos) {
        report("not a histogram line");
        continue;
      }
    }
    std::string_view tag;
    if (tag_end)
      tag = std::string_view(line_).substr(tag_prefix.size(), tag_end - tag_prefix.size());
    if (tag_ && tag != *tag_) continue;
    line_.erase(0, tag_end ? tag_end + 1 : 0);
    const char* what = parse_histogram_line();
    if (!what) return true;
    report(what);
  }
  return false;
}

HlogMerge::HlogMerge(const std::vector<HlogReader*>& readers) {
  std::copy_if(readers.begin(), readers.end(), std::back_inserter(live_),
               [](HlogReader* reader) { return reader->next(); });
}

bool HlogMerge::next(const Histogram& layout, LogInterval* logged) {
  while (!live_.empty()) {
    auto first = std::min_element(live_.begin(), live_.end(),
                                  [](auto* a, auto* b) { return a->start_ns() < b->start_ns(); });
    HlogReader* reader = *first;
    const char* what = codec_.decode(reader->histogram(), layout);
    const LogInterval& excluded = reader->excluded();
    int64_t count = excluded.negative + excluded.over_hour;
    for (auto [value, n] : codec_.counts()) count += n;
    if (!what && count > max_total_count - total_)
      what = "the logs hold more latencies than the totals can sum";
    if (what) {
      reader->report(what);
    } else {
      total_ += count;
      *logged = excluded;
      logged->start = reader->start_ns();
      logged->length = reader->length_ns();
      logged->counts = &codec_.counts();
    }
    if (!reader->next()) live_.erase(first);
    if (!what) return true;
  }
  return false;
}
