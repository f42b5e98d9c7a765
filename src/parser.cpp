#include "parser.h"

#include "reader.h"

int Parser::parse() {
  if (input.file == nullptr) {
    fputs("Source file can't be opened\n", stderr);
    return 1;
  }
  if (output.file == nullptr) {
    fputs("Destination file can't be opened\n", stderr);
    return 1;
  }
  Reader reader(input.file, block);
  uint64_t pair[2];
  const unsigned char* line;
  size_t size;
  for (;;) {
    // Most lines are the dump lines of a payload: they are decoded in bulk,
    // straight from the read buffer.
    const unsigned char* data;
    reader.buffered(&data, &size);
    reader.consume(input.parse_dump(data, size));
    if (!reader.next(&line, &size)) break;
    if (input.parse(pair, line, size)) output.output(pair);
  }
  int status = 0;
  if (reader.failed()) {
    fputs("Source file can't be read\n", stderr);
    status = 1;
  }
  // Results already printed are kept even when the source fails; a full disk
  // must not pass for success.
  if (!output.flush()) {
    fputs("Destination file can't be written\n", stderr);
    status = 1;
  }
  return status;
}
