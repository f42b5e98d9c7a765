#pragma once

#include <string_view>

namespace caplat::stat {

// The text of HdrHistogram's interval log, format 1.3, as both the writer and
// the reader of interval logs know it.
namespace hlog_format {

inline constexpr std::string_view version_line = "#[Histogram log format version 1.3]";
inline constexpr std::string_view start_time_prefix = "#[StartTime: ";
inline constexpr std::string_view base_time_prefix = "#[BaseTime: ";
// The column header line.
inline constexpr std::string_view legend_prefix = "\"StartTimestamp\"";
inline constexpr std::string_view tag_prefix = "Tag=";
// The comment line that carries the latencies a histogram cannot hold; readers
// of other programs skip it, as they skip every comment. Its fields, in order:
// the count of negative latencies and the most negative, the count of those
// over the histogram's range and the largest.
inline constexpr std::string_view excluded_prefix = "#[Excluded: ";
inline constexpr std::string_view excluded_fields[] = {"negative=", ", min=", ", over=", ", max="};

}  // namespace hlog_format

}  // namespace caplat::stat
