#include "run.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "accumulator.h"
#include "csv.h"
#include "hgrm.h"
#include "hlog.h"
#include "latency_reader.h"
#include "output.h"
#include "svg.h"

namespace {

// Interval of the picture's latency over time when -i is not given, at first;
// it doubles whenever more than picture_rows would cover the time so far.
constexpr int64_t picture_interval_ns = 100000000;
constexpr int64_t picture_rows = 1000;

// Interval of an interval log when -i is not given, as HdrHistogram's tools write.
constexpr int64_t log_interval_ns = 1000000000;

// Opens the output files named; false after reporting one that cannot be opened.
bool open_outputs(const Options& o, std::unique_ptr<Output>* csv, std::unique_ptr<Output>* hgrm,
                  std::unique_ptr<Output>* svg, std::unique_ptr<Output>* hlog) {
  if (o.csv != nullptr) csv->reset(Output::open(o.csv));
  if (o.hgrm != nullptr) hgrm->reset(Output::open(o.hgrm));
  if (o.svg != nullptr) svg->reset(Output::open(o.svg));
  if (o.hlog != nullptr) hlog->reset(Output::open(o.hlog));
  return (o.csv == nullptr || *csv) && (o.hgrm == nullptr || *hgrm) && (o.svg == nullptr || *svg) &&
         (o.hlog == nullptr || *hlog);
}

// Interval logs stay open while they merge, one descriptor each: the logs of
// more hosts than the usual soft limit of 1,024 need the hard limit.
void raise_descriptor_limit() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

}  // namespace

int run(const Options& o) {
  raise_descriptor_limit();
  std::unique_ptr<Output> csv_file, hgrm_file, svg_file, hlog_file;
  if (!open_outputs(o, &csv_file, &hgrm_file, &svg_file, &hlog_file)) return 2;
  Output standard_output(STDOUT_FILENO, "standard output");
  // Only the picture's own interval grows: the rows of a log keep their length.
  int64_t interval = o.interval;
  if (interval == 0) interval = o.hlog != nullptr ? log_interval_ns : 0;
  int64_t rows = interval == 0 && o.svg != nullptr ? picture_rows : 0;
  if (interval == 0) interval = o.svg != nullptr ? picture_interval_ns : 0;
  Accumulator accumulator(o.digits, interval, rows);
  std::unique_ptr<CsvWriter> csv;
  if (o.interval != 0) {
    csv = std::make_unique<CsvWriter>(*o.unit, csv_file ? csv_file.get() : &standard_output);
    accumulator.add_consumer(csv.get());
  }
  std::unique_ptr<SvgWriter> svg;
  if (svg_file) {
    svg = std::make_unique<SvgWriter>(*o.unit);
    accumulator.add_consumer(svg.get());
  }

  std::unique_ptr<HlogWriter> hlog;
  if (hlog_file) {
    hlog = std::make_unique<HlogWriter>(hlog_file.get(), o.tag != nullptr ? o.tag : "");
    accumulator.add_consumer(hlog.get());
  }

  LatencyReader reader(&accumulator, o.interval != 0);
  // Interval logs are read after caplat's output, all at once, merged by time.
  std::vector<std::pair<int, const char*>> logs;
  int status = 0;
  std::vector<const char*> paths = o.paths;
  if (paths.empty()) paths.push_back("-");
  for (const char* path : paths) {
    bool standard_input = strcmp(path, "-") == 0;
    int fd = standard_input ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      fprintf(stderr, "caplat-stat: %s: %s\n", path, strerror(errno));
      status = 2;
      continue;
    }
    const char* name = standard_input ? "(standard input)" : path;
    if (is_log_file(fd)) {
      logs.emplace_back(fd, name);
      continue;
    }
    LatencyReader::Status read = reader.read(fd, name);
    if (!standard_input) close(fd);
    if (read == LatencyReader::NoReceiveTimes) {
      fprintf(stderr, "caplat-stat: %s: -i needs receive times, and this input has one field\n",
              name);
      return 2;
    }
    // A read error ends the run; what was read is still summed up.
    if (read == LatencyReader::ReadError) {
      status = 2;
      break;
    }
  }
  int64_t skipped = 0;
  if (!read_logs(logs, o.tag, &accumulator, &skipped)) status = 2;
  accumulator.finish();
  if (hlog) hlog->finish();
  reader.report_unreported();
  skipped += reader.skipped();

  Summary summary{accumulator.totals(), accumulator.histogram(), o.percentiles, skipped};
  if (o.json) {
    write_json(summary, &standard_output);
  } else if (o.interval == 0 || csv_file) {
    write_summary(summary, *o.unit, &standard_output);
  }
  if (hgrm_file) write_hgrm(accumulator.histogram(), hgrm_file.get());
  if (svg) svg->write(accumulator.histogram(), accumulator.totals(), svg_file.get());

  bool written = true;
  for (Output* out :
       {&standard_output, csv_file.get(), hgrm_file.get(), svg_file.get(), hlog_file.get()}) {
    if (out != nullptr) {
      out->flush();
      written = out->report() && written;
    }
  }
  if (!written) return 2;
  if (status != 0) return status;
  return skipped != 0 ? 1 : 0;
}
