#pragma once

#include "options.h"

namespace caplat::stat {

// False, after reporting it, if an output that options name would be written
// over an input or over another output, through whatever name or link: outputs
// are truncated before inputs are read.
bool outputs_apart(const Options& options);

}  // namespace caplat::stat
