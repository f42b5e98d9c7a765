#include "report.h"

#include <cinttypes>
#include <cstdio>

namespace caplat::stat {

void report_file(const char* name, const char* what) {
  fprintf(stderr, "caplat-stat: %s: %s\n", name, what);
}

void report_line(const char* name, int64_t line, const char* what) {
  fprintf(stderr, "caplat-stat: %s:%" PRId64 ": %s\n", name, line, what);
}

}  // namespace caplat::stat
