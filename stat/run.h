#pragma once

#include "options.h"

namespace caplat::stat {

// Reads the inputs that options name and writes what they ask for, serving
// the final metrics after them if asked to; returns the exit status: 0, 1 if a
// line was skipped, 2 if a file could not be opened, read or written.
int run(const Options& options);

}  // namespace caplat::stat
