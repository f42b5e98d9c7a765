#pragma once

#include "clock_estimate.h"
#include "input_file.h"
#include "latency_reader.h"

namespace caplat::stat {

// What is done with the clocks of caplat's output as it is read: nothing;
// they are estimated; or they are estimated and then removed.
enum class ClockTreatment { Ignore, Estimate, Remove };

// Reads text, caplat's output, opened, with reader to its end and returns how
// the read ended. To remove the clocks it is read twice: first by the
// estimator alone (from a temporary copy if it cannot be read again), then
// counted with the drift and the steps removed; input without receive times
// is then read once, as it is. Unless treatment is Ignore, *clock holds what
// the clocks showed.
LatencyReader::Status read_text(InputFile* text, LatencyReader* reader, ClockTreatment treatment,
                                InputClock* clock);

}  // namespace caplat::stat
