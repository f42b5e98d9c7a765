#include "options.h"

#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "histogram.h"
#include "output.h"

namespace {

const char usage_text[] =
    "usage: caplat-stat [-p LIST] [-d DIGITS] [-u UNIT] [-i DURATION] [--csv FILE]\n"
    "                   [--json] [--hgrm FILE] [--svg FILE] [FILE ...]\n";

const char help_text[] =
    "Latency distribution, intervals and pictures from caplat's output (any of its\n"
    "three forms), read from the FILEs in turn or from standard input (\"-\").\n"
    "\n"
    "  -p, --percentiles LIST  percentiles of the summary (default 50,90,99,99.9,99.99)\n"
    "  -d, --digits N          significant digits of the histogram, 1 to 5 (default 3)\n"
    "  -u, --unit UNIT         ns, us, ms (default) or s\n"
    "  -i, --interval DURATION one CSV row per interval of receive time (e.g. 100ms, 1s,\n"
    "                          1m), on standard output unless --csv is given\n"
    "      --csv FILE          write the interval rows to FILE\n"
    "      --json              print the summary as one JSON object, values in ns\n"
    "      --hgrm FILE         write the percentile distribution in .hgrm form\n"
    "      --svg FILE          draw the percentile curve and latency over time\n"
    "  -h, --help              print this help\n"
    "      --version           print the version\n";

enum LongOnly { Csv = 256, Json, Hgrm, Svg, Version };

const option long_options[] = {{"percentiles", required_argument, nullptr, 'p'},
                               {"digits", required_argument, nullptr, 'd'},
                               {"unit", required_argument, nullptr, 'u'},
                               {"interval", required_argument, nullptr, 'i'},
                               {"csv", required_argument, nullptr, Csv},
                               {"json", no_argument, nullptr, Json},
                               {"hgrm", required_argument, nullptr, Hgrm},
                               {"svg", required_argument, nullptr, Svg},
                               {"help", no_argument, nullptr, 'h'},
                               {"version", no_argument, nullptr, Version},
                               {nullptr, 0, nullptr, 0}};

int usage_error(const char* message, const char* value) {
  fprintf(stderr, "caplat-stat: %s", message);
  if (value != nullptr) fprintf(stderr, ": %s", value);
  fprintf(stderr, "\n%s", usage_text);
  return 2;
}

// Prints text on standard output; 0, or 2 if it could not be written.
int print(const std::string& text) {
  Output out(STDOUT_FILENO, "standard output");
  out.put(text);
  out.flush();
  return out.report() ? 0 : 2;
}

}  // namespace

int parse_options(int argc, char** argv, Options* options) {
  // getopt's own messages would not follow the program's form.
  opterr = 0;
  optind = 1;
  int c;
  while ((c = getopt_long(argc, argv, ":p:d:u:i:h", long_options, nullptr)) != -1) {
    switch (c) {
      case 'p':
        if (!parse_percentiles(optarg, &options->percentiles))
          return usage_error("bad percentile list", optarg);
        break;
      case 'd': {
        char* end;
        long digits = strtol(optarg, &end, 10);
        if (*end != '\0' || end == optarg ||
            !Histogram::valid(1, hour_ns, static_cast<int>(digits)) ||
            digits != static_cast<int>(digits))
          return usage_error("digits must be 1 to 5", optarg);
        options->digits = static_cast<int>(digits);
        break;
      }
      case 'u':
        options->unit = find_unit(optarg);
        if (options->unit == nullptr) return usage_error("unit must be ns, us, ms or s", optarg);
        break;
      case 'i':
        if (!parse_duration(optarg, &options->interval)) return usage_error("bad duration", optarg);
        break;
      case Csv:
        options->csv = optarg;
        break;
      case Json:
        options->json = true;
        break;
      case Hgrm:
        options->hgrm = optarg;
        break;
      case Svg:
        options->svg = optarg;
        break;
      case 'h':
        return print(std::string(usage_text) + help_text);
      case Version:
        return print(std::string("caplat-stat ") + CAPLAT_VERSION + "\n");
      case ':':
        return usage_error("option needs a value", argv[optind - 1]);
      default: {
        // A short option's letter may sit in a cluster such as -xv.
        char letter[] = {'-', static_cast<char>(optopt), '\0'};
        return usage_error("unknown option", optopt != 0 ? letter : argv[optind - 1]);
      }
    }
  }
  if (options->csv != nullptr && options->interval == 0)
    return usage_error("--csv needs -i", nullptr);
  if (options->json && options->interval != 0 && options->csv == nullptr)
    return usage_error("--json and the interval rows cannot share standard output", nullptr);
  for (int i = optind; i < argc; ++i) options->paths.push_back(argv[i]);
  return -1;
}
