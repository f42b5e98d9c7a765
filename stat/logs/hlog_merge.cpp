#include "hlog_merge.h"

#include <algorithm>

namespace caplat::stat {

namespace {

// The most latencies all logs together may hold: the sum of the squares of as
// many latencies of an hour still fits the summary's 128-bit sums.
constexpr int64_t max_total_count = int64_t{1} << 43;

// The order of the heap, whose top is the earliest start; logs that start
// together go in the order they were given, so that every run merges alike.
bool later(const HlogMerge::Head& a, const HlogMerge::Head& b) {
  return a.start != b.start ? a.start > b.start : a.reader > b.reader;
}

}  // namespace

HlogMerge::HlogMerge(const std::vector<HlogReader*>& readers, Accumulator* accumulator)
    : readers_(readers), accumulator_(accumulator) {
  for (size_t i = 0; i < readers_.size(); ++i) {
    if (readers_[i]->next()) push(i);
  }
}

void HlogMerge::push(size_t reader) {
  heads_.push_back({readers_[reader]->start_ns(), reader});
  std::push_heap(heads_.begin(), heads_.end(), later);
}

bool HlogMerge::take(LogInterval* logged) {
  std::pop_heap(heads_.begin(), heads_.end(), later);
  size_t index = heads_.back().reader;
  heads_.pop_back();
  HlogReader* reader = readers_[index];
  const char* what = reader->decode(&codec_, accumulator_->histogram());
  const LogInterval& excluded = reader->excluded();
  int64_t count = excluded.negative + excluded.over_hour;
  for (auto [value, n] : codec_.counts()) count += n;
  if (!what && count > max_total_count - total_)
    what = "the logs hold more latencies than the totals can sum";
  if (what) {
    reader->skip(what);
  } else {
    total_ += count;
    *logged = excluded;
    logged->start = reader->start_ns();
    logged->length = reader->length_ns();
    logged->counts = &codec_.counts();
  }
  if (reader->next()) push(index);
  return what == nullptr;
}

bool HlogMerge::next(LogInterval* logged) {
  while (!heads_.empty()) {
    if (take(logged)) return true;
  }
  return false;
}

void HlogMerge::add_until(uint64_t time) {
  LogInterval logged;
  while (!heads_.empty() && heads_.front().start <= time) {
    if (take(&logged)) accumulator_->add(logged);
  }
}

}  // namespace caplat::stat
