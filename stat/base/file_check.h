#pragma once

#include <vector>

namespace caplat::stat {

// False, after reporting it, if one of outputs (null for none, "-" for
// standard output) would be written over one of inputs ("-" for standard
// input) or over another output, through whatever name or link: outputs are
// truncated before inputs are read.
bool outputs_apart(const std::vector<const char*>& inputs,
                   const std::vector<const char*>& outputs);

}  // namespace caplat::stat
