#pragma once

#include <cstddef>

// How far ahead of the line being decoded the log's bytes are asked for. The
// processor's own prefetcher follows a stream only up to the end of its 4 KiB
// page, so on a mapped log the first lines of every page would wait for memory;
// a hint a page ahead has the next page on its way. Where memory keeps up anyway
// the hint costs one instruction a line.
inline constexpr size_t prefetch_distance = 4096;

// Asks for the cache line prefetch_distance bytes past p, which need not be
// readable: a prefetch never faults.
inline void prefetch_ahead(const unsigned char* p) {
  __builtin_prefetch(p + prefetch_distance);
}
