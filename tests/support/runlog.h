#pragma once

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "parser.h"

namespace caplat {

// Writes capture logs and runs them, held in memory, through caplat's main
// loop or through the plain loop that reads with fgets and decodes each line by
// the line rules alone, capturing what each prints. Shared by the tests and
// the fuzz targets.
namespace runlog {

// Hex dump lines of data, sixteen bytes a line, with the bytes themselves in a
// column after them if ascii (for payloads of printable bytes).
inline std::string dump(const std::string& data, bool ascii = false) {
  const char* hex = "0123456789abcdef";
  std::string text;
  for (size_t offset = 0; offset < data.size(); offset += 16) {
    for (int shift = 12; shift >= 0; shift -= 4) text += hex[offset >> shift & 15];
    text += ' ';
    const std::string bytes = data.substr(offset, 16);
    for (unsigned char b : bytes) text += {' ', hex[b >> 4], hex[b & 15]};
    text += (ascii ? std::string(3 * (16 - bytes.size()) + 3, ' ') + bytes : "") + "\n";
  }
  return text;
}

// A receive-time line, if any, then a payload header and the dump of json.
inline std::string record(const std::string& receive, const std::string& json, bool ascii = false) {
  return (receive.empty() ? "" : receive + "\n") + "Decompressed payload (" +
         std::to_string(json.size()) + " bytes)\n" + dump(json, ascii);
}

// Writes data to file and flushes it, or aborts; file is closed if close.
inline void write_all(FILE* file, const std::string& data, bool close = false) {
  if (fwrite(data.data(), 1, data.size(), file) != data.size() ||
      (close ? fclose : fflush)(file) != 0)
    abort();
}

// A stream over a file in memory, holding data from its start.
inline FILE* memory_file(const std::string& data = "") {
  FILE* file = fdopen(memfd_create("log", 0), "w+");
  write_all(file, data);
  rewind(file);
  return file;
}

// Closes a stream opened for update; what was written to it.
inline std::string take(FILE* file) {
  std::string text(ftell(file), '\0');
  rewind(file);
  if (fread(text.data(), 1, text.size(), file) != text.size()) abort();
  fclose(file);
  return text;
}

// The loop as plain as it can be written: fgets, the line rules, one pair at a time.
inline int plain(Input* input, Output* output) {
  static char line[piece_limit + 1];
  uint64_t pair[2];
  while (!feof(input->file)) {
    line[0] = 0;
    if (fgets(line, sizeof line, input->file) == nullptr && ferror(input->file)) break;
    if (input->parse(pair, reinterpret_cast<unsigned char*>(line))) output->output(pair);
  }
  return output->flush() ? 0 : 1;
}

// data deflated at zlib's level 6, window_bits as zlib takes them: negative
// for bare deflate data, plus 16 for a gzip member.
inline std::string deflated(const std::string& data, int window_bits) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK) abort();
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) abort();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// data as one gzip member.
inline std::string gzip(const std::string& data) { return deflated(data, 16 + MAX_WBITS); }

// How the log reaches the decoder: by the plain loop, or by the main loop from a
// file, from a pipe that a thread writes, or from a file gzipped, decompressed
// into buffers of the block's size.
enum class Via { Plain, File, Pipe, Gzip };

// What a run printed on its destination and on standard error, and its status.
struct Result {
  std::string out, errors;
  int status = 0;
  bool operator==(const Result&) const = default;
};

// Runs log in format; the main loop reads block bytes at a time.
inline Result run(const std::string& log, uint32_t format, Via via = Via::File,
                  size_t block = size_t{1} << 17) {
  Parser parser;
  std::thread writer;
  if (via == Via::Pipe) {
    int ends[2];
    if (pipe(ends) != 0) abort();
    writer = std::thread([&log, end = fdopen(ends[1], "w")] { write_all(end, log, true); });
    parser.input.file = fdopen(ends[0], "r");
  } else {
    parser.input.file = memory_file(via == Via::Gzip ? gzip(log) : log);
  }
  parser.output.file = memory_file();
  parser.output.format = format;
  parser.block = block;
  // The stream is swapped, not the descriptor, so that sanitizer and fuzzer
  // reports still reach the terminal.
  FILE* terminal = stderr;
  FILE* errors = stderr = memory_file();
  Result result;
  result.status = via == Via::Plain ? plain(&parser.input, &parser.output) : parser.parse();
  stderr = terminal;
  result.errors = take(errors);
  if (writer.joinable()) writer.join();
  fclose(parser.input.file);
  result.out = take(parser.output.file);
  return result;
}

}  // namespace runlog

}  // namespace caplat
