#include "options.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "file_check.h"
#include "option_table.h"

namespace caplat::stat {

namespace {

// The usage lines' width, and the column where the help of an option starts.
constexpr size_t usage_width = 80;
constexpr size_t help_column = 26;

// Options without a letter are known to getopt_long by a number past every
// letter's.
constexpr int first_long_only = 256;

}  // namespace

std::string usage_text() {
  const std::string start = "usage: caplat-stat";
  std::string text = start, line = start;
  auto add = [&](const std::string& item) {
    if (line.size() + 1 + item.size() > usage_width) {
      text.append("\n");
      line.assign(start.size(), ' ');
      text.append(line);
    }
    text.append(" ").append(item);
    line.append(" ").append(item);
  };
  for (const OptionRow& row : std::span(option_rows, option_count)) {
    if (row.letter == 'h' || std::string(row.name) == "version") continue;
    std::string item =
        row.letter != 0 ? std::string("-") + row.letter : std::string("--") + row.name;
    if (row.value != nullptr) item += std::string(" ") + row.value;
    add(std::string("[").append(item).append("]"));
  }
  add("[FILE ...]");
  return text + "\n";
}

std::string help_text() {
  std::string text =
      usage_text() +
      "Latency distribution, intervals and pictures from caplat's output (any of its\n"
      "three forms), read from the FILEs in turn or from standard input (\"-\"). FILEs\n"
      "that are HdrHistogram interval logs are read as histograms, merged by time.\n\n";
  for (const OptionRow& row : std::span(option_rows, option_count)) {
    std::string left = row.letter != 0 ? std::string("  -") + row.letter + ", " : "      ";
    left += std::string("--") + row.name;
    if (row.value != nullptr) left += std::string(" ") + row.value;
    left += left.size() < help_column ? std::string(help_column - left.size(), ' ') : " ";
    text.append(left);
    std::string help = row.help;
    if (row.fallback != nullptr) help += std::string(" (default ") + row.fallback + ")";
    for (char c : help) {
      text.push_back(c);
      if (c == '\n') text.append(help_column, ' ');
    }
    text.append("\n");
  }
  return text;
}

int usage_error(const std::string& message, const char* value) {
  fprintf(stderr, "caplat-stat: %s", message.c_str());
  if (value != nullptr) fprintf(stderr, ": %s", value);
  fprintf(stderr, "\n%s", usage_text().c_str());
  return 2;
}

int parse_options(int argc, char** argv, Options* options) {
  apply_defaults(options);
  std::string letters = ":";
  std::vector<option> longs;
  for (size_t i = 0; i < option_count; ++i) {
    const OptionRow& row = option_rows[i];
    int key = row.letter != 0 ? row.letter : first_long_only + static_cast<int>(i);
    if (row.letter != 0) letters += std::string(1, row.letter) + (row.value ? ":" : "");
    longs.push_back({row.name, row.value ? required_argument : no_argument, nullptr, key});
  }
  longs.push_back({nullptr, 0, nullptr, 0});
  // getopt's own messages would not follow the program's form.
  opterr = 0;
  optind = 1;
  int c;
  while ((c = getopt_long(argc, argv, letters.c_str(), longs.data(), nullptr)) != -1) {
    if (c == ':') return usage_error("option needs a value", argv[optind - 1]);
    const OptionRow* row = nullptr;
    for (size_t i = 0; i < option_count; ++i) {
      if (c == option_rows[i].letter || c == first_long_only + static_cast<int>(i))
        row = &option_rows[i];
    }
    if (row == nullptr || c == 0) {
      // A short option's letter may sit in a cluster such as -xv.
      char letter[] = {'-', static_cast<char>(optopt), '\0'};
      return usage_error("unknown option", optopt != 0 ? letter : argv[optind - 1]);
    }
    int status = row->handle(optarg, options);
    if (status != go_on) return status;
  }
  if (options->csv != nullptr && options->interval == 0)
    return usage_error("--csv needs -i", nullptr);
  if (options->hlog_tag != nullptr && options->hlog == nullptr)
    return usage_error("--hlog-tag needs --hlog", nullptr);
  for (const Check& check : options->checks) {
    if (check.per_interval && options->interval == 0)
      return usage_error("a check of every interval needs -i", check.text.c_str());
    if (check.bound == Check::Baseline && options->baselines.empty())
      return usage_error("a check against the baseline needs --baseline", check.text.c_str());
  }
  if (const char* missing = metrics_missing(options->metrics)) return usage_error(missing, nullptr);
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
      return usage_error(std::string(user) + " and " + name + " cannot share standard output",
                         nullptr);
    }
    user = name;
  }
  options->summary = user == nullptr;
  for (int i = optind; i < argc; ++i) options->paths.push_back(argv[i]);
  std::vector<const char*> inputs = options->paths;
  if (inputs.empty()) inputs.push_back("-");
  inputs.insert(inputs.end(), options->baselines.begin(), options->baselines.end());
  const Options& o = *options;
  return outputs_apart(inputs, {o.csv, o.hgrm, o.svg, o.hlog, o.metrics.prom}) ? -1 : 2;
}

}  // namespace caplat::stat
