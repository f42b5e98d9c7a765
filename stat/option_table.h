#pragma once

#include <cstddef>
#include <string>

#include "options.h"

namespace caplat::stat {

// What an option's handler returns to go on with the next option; any other
// value is the status to exit with at once.
inline constexpr int go_on = -1;

// One option: its letter (0 for none), its long name, the name of its value
// (null for none), its default as it would be given (null for none), its help
// (lines after the first start with "\n"), and what it does with its value.
// Options start from their defaults, read by their own handlers, and --help
// names them, so that each stands once.
struct OptionRow {
  char letter;
  const char* name;
  const char* value;
  const char* fallback;
  const char* help;
  int (*handle)(const char* value, Options* options);
};

// Every option, in the order --help and the usage list them.
extern const OptionRow option_rows[];

// The number of rows of option_rows.
extern const size_t option_count;

// Sets every option that has a default to it, read by the option's own
// handler as if it were given, and the interval of --hlog without -i.
void apply_defaults(Options* options);

// Prints the usage error message, with value if not null, and the usage;
// returns the status of a usage error.
int usage_error(const std::string& message, const char* value);

// The usage lines, and the whole of --help's text.
std::string usage_text();
std::string help_text();

}  // namespace caplat::stat
