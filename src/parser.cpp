#include "parser.h"

#include <cstdio>

#include "reader.h"

namespace caplat {

bool Parser::open_source() {
  source_ = std::make_unique<Source>(fileno(input.file), block);
  if (source_->open()) return true;
  fprintf(stderr, "Source file is %s\n", source_->error());
  return false;
}

int Parser::parse() {
  if (input.file == nullptr) {
    fputs("Source file can't be opened\n", stderr);
    return 1;
  }
  if (output.file == nullptr) {
    fputs("Destination file can't be opened\n", stderr);
    return 1;
  }
  if (!source_ && !open_source()) return 1;
  // Results decoded so far go out before the run waits for more input, so that
  // a live capture shows each message at once and a kill loses none.
  Reader reader(source_.get(), block, [this] { output.flush(); });
  run(&reader);
  bool failed = reader.failed();
  // Results already printed are kept even when the source fails; a full disk
  // must not pass for success. A read error is the run's one message.
  bool written = output.flush();
  if (failed) {
    fputs("Source file can't be read\n", stderr);
    return 1;
  }
  if (!written) {
    fputs("Destination file can't be written\n", stderr);
    return 1;
  }
  return 0;
}

void Parser::run(Reader* reader) {
  uint64_t pair[2];
  const unsigned char* line;
  size_t size;
  for (;;) {
    // Whole lines are decoded straight from the read buffer; the rest, such as
    // the last line of a block, are cut and copied as fgets would.
    const unsigned char* data;
    size_t used;
    reader->buffered(&data, &size);
    bool complete = input.parse_lines(pair, data, size, &used);
    reader->consume(used);
    if (!complete) {
      if (!reader->next(&line, &size)) break;
      complete = input.parse(pair, line, size);
    }
    if (complete) output.output(pair);
  }
}

}  // namespace caplat
