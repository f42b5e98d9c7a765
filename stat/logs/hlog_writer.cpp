#include "hlog_writer.h"

#include <ctime>
#include <iterator>
#include <utility>

#include "hlog_format.h"

namespace caplat::stat {

using namespace hlog_format;

namespace {

// Appends value / unit with three decimals, rounded half up, as the Java
// writer prints seconds and milliseconds.
void put_thousandths(uint64_t value, int64_t unit, CheckedWriter* out) {
  auto step = static_cast<uint64_t>(unit / 1000);
  uint64_t thousandths = value / step + (value % step * 2 >= step ? 1 : 0);
  out->put_fixed(thousandths, 3);
}

}  // namespace

HlogWriter::HlogWriter(CheckedWriter* out, std::string tag) : out_(out), tag_(std::move(tag)) {}

void HlogWriter::write_header(uint64_t start_ns) {
  started_ = true;
  // Whole milliseconds, as the Java writer's, keep the base time exact in text.
  base_ns_ = start_ns - start_ns % ns_per_ms;
  auto seconds = static_cast<std::time_t>(base_ns_ / ns_per_s);
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
  put_thousandths(static_cast<uint64_t>(max), ns_per_ms, out_);
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

}  // namespace caplat::stat
