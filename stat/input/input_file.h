#pragma once

#include <memory>

#include "source.h"

namespace caplat::stat {

// An input of caplat-stat, open: caplat's output, read through a source that
// decompresses it if need be, or an interval log on a descriptor that the log
// reader may read again at any offset.
struct InputFile {
  // The name in messages.
  const char* name = "";
  // The file, or for a compressed log or one from a pipe the unlinked
  // temporary file that holds it; -1 if none is open.
  int fd = -1;
  // True for an interval log, and for one copied only in part (reported).
  bool log = false;
  bool incomplete = false;
  // The reader of caplat's output.
  std::unique_ptr<Source> source;
};

// True if opening or looking into path, "-" for standard input, may wait for
// a writer: a pipe, a terminal or a socket, rather than a file.
bool may_wait(const char* path);

// Opens path, "-" for standard input, and tells an interval log from caplat's
// output, both plain or compressed with gzip or zstd; false after reporting a
// file that cannot be opened or read, is compressed in another format, starts
// with a gzip or zstd header that is not read (Source::open), or is a capture
// log by the first 64 KiB of a file. A compressed log, or one from a pipe, is
// copied to a temporary file first, since the log reader reads the rest of a
// long line again when it decodes it; the lines inflated before a damaged part
// are kept, and the input is left open.
bool open_input(const char* path, InputFile* input);

// Makes caplat's output of input, opened and not read yet, one that can be
// read again from its start: a regular file is; anything else is copied to
// an unlinked temporary file first. False after reporting what failed.
bool hold_input(InputFile* input);

// Reads caplat's output of input, held, from its start again, decompressed
// anew if need be; false after reporting what failed.
bool rewind_input(InputFile* input);

// Closes the input's file, unless it is standard input, and its source.
void close_input(InputFile* input);

}  // namespace caplat::stat
