#pragma once

#include <cstdint>

namespace caplat::stat {

// Reports a problem with a file on standard error, in the one form of every
// message about a file: "caplat-stat: NAME: WHAT".
void report_file(const char* name, const char* what);

// Reports a problem with a line of a file: "caplat-stat: NAME:LINE: WHAT".
void report_line(const char* name, int64_t line, const char* what);

}  // namespace caplat::stat
