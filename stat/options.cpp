#include "options.h"

#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "histogram.h"
#include "output.h"

namespace {

const char usage_text[] =
    "usage: caplat-stat [-p LIST] [-d DIGITS] [-u UNIT] [-i DURATION] [--csv FILE]\n"
    "                   [--json] [--hgrm FILE] [--svg FILE] [--hlog FILE] [--tag NAME]\n"
    "                   [FILE ...]\n";

const char help_text[] =
    "Latency distribution, intervals and pictures from caplat's output (any of its\n"
    "three forms), read from the FILEs in turn or from standard input (\"-\"). FILEs\n"
    "that are HdrHistogram interval logs are read as histograms, merged by time.\n"
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
    "      --hlog FILE         write one histogram per interval (-i, default 1s) as an\n"
    "                          HdrHistogram interval log\n"
    "      --tag NAME          read only the interval log lines tagged NAME, and tag\n"
    "                          the lines written\n"
    "  -h, --help              print this help\n"
    "      --version           print the version\n";

enum LongOnly { Csv = 256, Json, Hgrm, Svg, Hlog, Tag, Version };

const option long_options[] = {{"percentiles", required_argument, nullptr, 'p'},
                               {"digits", required_argument, nullptr, 'd'},
                               {"unit", required_argument, nullptr, 'u'},
                               {"interval", required_argument, nullptr, 'i'},
                               {"csv", required_argument, nullptr, Csv},
                               {"json", no_argument, nullptr, Json},
                               {"hgrm", required_argument, nullptr, Hgrm},
                               {"svg", required_argument, nullptr, Svg},
                               {"hlog", required_argument, nullptr, Hlog},
                               {"tag", required_argument, nullptr, Tag},
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

// Names a file as open would reach it: an existing one by its device and
// inode, through whatever name or link; another by its folder's and its own
// name. Devices and other special files have no key: /dev/null may take every
// output at once.
struct FileKey {
  dev_t device = 0;
  ino_t inode = 0;
  std::string name;
  bool operator==(const FileKey&) const = default;
};

bool key_of_path(const char* path, FileKey* key) {
  struct stat st;
  if (stat(path, &st) == 0) {
    *key = {st.st_dev, st.st_ino, ""};
    return S_ISREG(st.st_mode);
  }
  std::string folder = path;
  size_t slash = folder.find_last_of('/');
  std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  if (stat(folder.c_str(), &st) != 0) return false;
  *key = {st.st_dev, st.st_ino, name};
  return true;
}

// False, after reporting it, if an output would be written over an input or
// over another output: outputs are truncated before inputs are read.
bool files_apart(const Options& o) {
  std::vector<std::pair<FileKey, const char*>> inputs;
  FileKey key;
  bool standard_input = o.paths.empty();
  for (const char* path : o.paths) {
    if (strcmp(path, "-") == 0) {
      standard_input = true;
    } else if (key_of_path(path, &key)) {
      inputs.emplace_back(key, path);
    }
  }
  struct stat st;
  if (standard_input && fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode))
    inputs.emplace_back(FileKey{st.st_dev, st.st_ino, ""}, "-");
  std::vector<std::pair<FileKey, const char*>> outputs;
  for (const char* path : {o.csv, o.hgrm, o.svg, o.hlog}) {
    if (path == nullptr || strcmp(path, "-") == 0 || !key_of_path(path, &key)) continue;
    for (const auto& [input, name] : inputs) {
      if (input == key) {
        fprintf(stderr, "caplat-stat: %s: is also an input, which it would overwrite\n", path);
        return false;
      }
    }
    for (const auto& [output, name] : outputs) {
      if (output == key) {
        fprintf(stderr, "caplat-stat: %s: is named for two outputs\n", path);
        return false;
      }
    }
    outputs.emplace_back(key, path);
  }
  return true;
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
      case Hlog:
        options->hlog = optarg;
        break;
      case Tag:
        // The log format separates fields with commas and readers split at spaces.
        if (*optarg == '\0' || strpbrk(optarg, ", \t\r\n") != nullptr)
          return usage_error("a tag must be a word without commas", optarg);
        options->tag = optarg;
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
  // Standard output takes one thing: JSON, the interval rows, or a file named
  // "-"; the summary's table when nothing else.
  auto dash = [](const char* path) { return path != nullptr && strcmp(path, "-") == 0; };
  const std::pair<bool, const char*> standard_users[] = {
      {options->json, "--json"},
      {options->interval != 0 && (options->csv == nullptr || dash(options->csv)),
       "the interval rows"},
      {dash(options->hgrm), "--hgrm -"},
      {dash(options->svg), "--svg -"},
      {dash(options->hlog), "--hlog -"}};
  const char* user = nullptr;
  for (auto [uses, name] : standard_users) {
    if (!uses) continue;
    if (user != nullptr) {
      return usage_error((std::string(user) + " and " + name + " cannot share standard output").c_str(),
                         nullptr);
    }
    user = name;
  }
  options->summary = user == nullptr;
  for (int i = optind; i < argc; ++i) options->paths.push_back(argv[i]);
  return files_apart(*options) ? -1 : 2;
}
