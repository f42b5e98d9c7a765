// caplat with its dump line decoders held at one instruction level, so that the
// benchmarks can time a level that this processor would not choose:
//
//   caplat_level LEVEL [caplat's arguments]
//
// The program itself, in src/main.cpp, is built into this tool with its main
// renamed to caplat_main.
#include <cstdio>
#include <cstring>

#include "hexline.h"

#undef main

int caplat_main(int argc, char** argv);

int main(int argc, char** argv) {
  static const char* const names[] = {"scalar", "ssse3", "avx2", "avx512"};
  for (int level = 0; argc >= 2 && level <= static_cast<int>(caplat::hexline::best_level());
       ++level) {
    if (strcmp(argv[1], names[level]) == 0) {
      caplat::hexline::use(static_cast<caplat::hexline::Level>(level));
      argv[1] = argv[0];
      return caplat_main(argc - 1, argv + 1);
    }
  }
  fputs(
      "usage: caplat_level scalar|ssse3|avx2|avx512 [caplat's arguments]; the level must run "
      "here\n",
      stderr);
  return 2;
}
