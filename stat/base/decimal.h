#pragma once

#include <cstdlib>
#include <string>
#include <string_view>

namespace caplat::stat {

// Reads text as a plain decimal number, digits with at most one point and no
// sign or exponent, as percentiles, levels, shares and factors are given;
// false if it is not one.
inline bool parse_decimal(std::string_view text, double* value) {
  if (text.empty() || text == "." || text.find_first_not_of("0123456789.") != std::string_view::npos ||
      text.find('.') != text.rfind('.'))
    return false;
  *value = strtod(std::string(text).c_str(), nullptr);
  return true;
}

}  // namespace caplat::stat
