#include "text_input.h"

#include <optional>

#include "clock_estimator.h"

namespace caplat::stat {

namespace {

// Why input without receive times has no clocks to tell.
constexpr const char* no_receive_times = "this input has no receive times";

}  // namespace

LatencyReader::Status read_text(InputFile* text, LatencyReader* reader, ClockTreatment treatment,
                                InputClock* clock) {
  if (treatment != ClockTreatment::Ignore) clock->input = text->name;
  ClockEstimator estimator;
  std::optional<Deskew> deskew;
  switch (treatment) {
    case ClockTreatment::Ignore:
      reader->set_clocks(LatencyReader::Count, nullptr, nullptr);
      return reader->read(text->source.get(), text->name);
    case ClockTreatment::Estimate:
      reader->set_clocks(LatencyReader::CountAndEstimate, &estimator, nullptr);
      break;
    case ClockTreatment::Remove: {
      if (!hold_input(text)) return LatencyReader::ReadError;
      reader->set_clocks(LatencyReader::EstimateOnly, &estimator, nullptr);
      LatencyReader::Status first = reader->read(text->source.get(), text->name);
      if (first != LatencyReader::Done && first != LatencyReader::NoReceiveTimes) return first;
      if (!rewind_input(text)) return LatencyReader::ReadError;
      if (first == LatencyReader::Done) {
        clock->estimate = estimator.estimate();
        deskew.emplace(*clock->estimate);
        reader->set_clocks(LatencyReader::CountDeskewed, nullptr, &*deskew);
      } else {
        clock->unknown = no_receive_times;
        reader->set_clocks(LatencyReader::Count, nullptr, nullptr);
      }
      return reader->read(text->source.get(), text->name);
    }
  }
  LatencyReader::Status status = reader->read(text->source.get(), text->name);
  if (reader->form() == LatencyReader::Latency) {
    clock->unknown = no_receive_times;
  } else {
    clock->estimate = estimator.estimate();
  }
  return status;
}

}  // namespace caplat::stat
