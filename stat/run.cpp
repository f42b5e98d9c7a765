#include "run.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <iterator>
#include <memory>
#include <numeric>

#include "accumulator.h"
#include "checked_writer.h"
#include "checks.h"
#include "confidence.h"
#include "csv.h"
#include "exporter.h"
#include "figures.h"
#include "hgrm.h"
#include "hlog_merge.h"
#include "hlog_reader.h"
#include "hlog_writer.h"
#include "input_file.h"
#include "latency_reader.h"
#include "text_input.h"
#include "report.h"
#include "summary.h"
#include "svg.h"

namespace caplat::stat {

namespace {

// Interval of the picture's latency over time when -i is not given, at first;
// it doubles whenever more than picture_rows would cover the time so far.
constexpr int64_t picture_interval_ns = 100 * ns_per_ms;
constexpr int64_t picture_rows = 1000;


// Interval logs stay open while they merge, one descriptor each: the logs of
// more hosts than the usual soft limit of 1,024 need the hard limit.
void raise_descriptor_limit() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

// Opens the inputs at paths into inputs, which holds one place per path: those
// that may wait for a writer if waiting, the others if not; false after
// reporting one that cannot be read at all. A log copied only in part is
// kept, and read as far as it goes.
bool open_inputs(const std::vector<const char*>& paths, bool waiting,
                 std::vector<InputFile>* inputs) {
  inputs->resize(paths.size());
  bool ok = true;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (may_wait(paths[i]) != waiting) continue;
    InputFile& input = (*inputs)[i];
    if (!open_input(paths[i], &input) && input.fd < 0) ok = false;
  }
  return ok;
}

// The files a run writes, and the writers of its intervals.
struct Outputs {
  CheckedWriter standard{STDOUT_FILENO, "standard output"};
  std::unique_ptr<CheckedWriter> csv_file, hgrm_file, svg_file, hlog_file;
  std::unique_ptr<CsvWriter> csv;
  std::unique_ptr<SvgWriter> svg;
  std::unique_ptr<HlogWriter> hlog;

  // Opens the files that o names; false after reporting one that cannot be opened.
  bool open(const Options& o) {
    if (o.csv != nullptr) csv_file.reset(CheckedWriter::open(o.csv));
    if (o.hgrm != nullptr) hgrm_file.reset(CheckedWriter::open(o.hgrm));
    if (o.svg != nullptr) svg_file.reset(CheckedWriter::open(o.svg));
    if (o.hlog != nullptr) hlog_file.reset(CheckedWriter::open(o.hlog));
    return (o.csv == nullptr || csv_file) && (o.hgrm == nullptr || hgrm_file) &&
           (o.svg == nullptr || svg_file) && (o.hlog == nullptr || hlog_file);
  }

  // Makes the writers of intervals that o asks for, the picture's titled with
  // the inputs' paths, and hands them to accumulator.
  void attach(const Options& o, const std::vector<const char*>& paths, Accumulator* accumulator) {
    if (o.interval != 0) {
      csv = std::make_unique<CsvWriter>(*o.unit, csv_file ? csv_file.get() : &standard);
      accumulator->add_consumer(csv.get());
    }
    if (svg_file) {
      std::vector<std::string> names(paths.begin(), paths.end());
      std::replace(names.begin(), names.end(), std::string("-"), std::string("standard input"));
      std::vector<std::string> baselines(o.baselines.begin(), o.baselines.end());
      svg = std::make_unique<SvgWriter>(*o.unit, names, baselines, o.range.label());
      accumulator->add_consumer(svg.get());
    }
    if (hlog_file) {
      const char* tag = o.hlog_tag != nullptr ? o.hlog_tag : o.tag;
      hlog = std::make_unique<HlogWriter>(hlog_file.get(), tag != nullptr ? tag : "");
      accumulator->add_consumer(hlog.get());
    }
  }

  // Writes what describes the whole input, against the baseline if there is
  // one, and flushes every file; false after reporting a write that failed.
  bool finish(const Options& o, const Accumulator& accumulator, const Figures& run,
              const Accumulator* baseline, const Figures* base, const Confidence& confidence) {
    if (hlog) hlog->finish();
    if (o.json) {
      write_json(run, base, o.confidence_text, &standard);
    } else if (o.summary && base != nullptr) {
      write_comparison(*base, run, *o.unit, &standard);
    } else if (o.summary) {
      write_summary(run, *o.unit, &standard);
    }
    if (hgrm_file) write_hgrm(accumulator.histogram(), hgrm_file.get());
    if (svg) {
      svg->show_clocks(&run.clocks, run.deskewed);
      svg->write(accumulator.histogram(), accumulator.totals(), confidence,
                 baseline ? &baseline->histogram() : nullptr, svg_file.get());
    }
    bool written = true;
    for (CheckedWriter* out :
         {&standard, csv_file.get(), hgrm_file.get(), svg_file.get(), hlog_file.get()}) {
      if (out != nullptr) {
        out->flush();
        written = out->report() && written;
      }
    }
    return written;
  }
};

// Reads inputs, each open, into accumulator and finishes it; returns 0, or 2
// if an input could not be read whole, was a capture log, or lacked receive
// times where needs_times, and adds the lines skipped to skipped, which
// exporter, if not null, counts as they come.
int read_inputs(const Options& o, std::vector<InputFile>* inputs, bool needs_times,
                Accumulator* accumulator, int64_t* skipped, Exporter* exporter,
                std::vector<InputClock>* clocks) {
  int status = 0;
  std::vector<InputFile> texts, logs;
  for (InputFile& input : *inputs) {
    if (input.incomplete) status = 2;
    if (input.log) {
      logs.push_back(std::move(input));
    } else {
      texts.push_back(std::move(input));
    }
  }
  // Interval logs are read beside caplat's output, in order of time, so that
  // both fall into the intervals of their own receive times.
  const std::string selected = o.tag != nullptr ? o.tag : "";
  std::deque<HlogReader> log_readers;
  std::transform(logs.begin(), logs.end(), std::back_inserter(log_readers),
                 [&](const InputFile& log) {
                   return HlogReader(log.fd, log.name, o.tag ? &selected : nullptr);
                 });
  std::vector<HlogReader*> merged;
  std::transform(log_readers.begin(), log_readers.end(), std::back_inserter(merged),
                 [](HlogReader& log) { return &log; });
  HlogMerge merge(merged, accumulator);
  accumulator->set_earlier(&merge);

  LatencyReader reader(accumulator, needs_times);
  if (exporter != nullptr) {
    exporter->count_skipped([&] {
      return std::accumulate(log_readers.begin(), log_readers.end(), reader.skipped(),
                             [](int64_t n, const HlogReader& log) { return n + log.skipped(); });
    });
  }
  // A file that cannot be read, or lacks the receive times that intervals
  // need, ends the reading; what was read is still summed up.
  bool reading = true;
  ClockTreatment treatment = o.deskew  ? ClockTreatment::Remove
                             : o.clock ? ClockTreatment::Estimate
                                       : ClockTreatment::Ignore;
  for (InputFile& text : texts) {
    InputClock clock;
    LatencyReader::Status read =
        reading ? read_text(&text, &reader, treatment, &clock) : LatencyReader::Done;
    if (treatment != ClockTreatment::Ignore && read == LatencyReader::Done)
      clocks->push_back(std::move(clock));
    close_input(&text);
    if (read == LatencyReader::NoReceiveTimes)
      report_file(text.name, "-i and --hlog need receive times, and this input has one field");
    if (read == LatencyReader::CaptureLog) report_file(text.name, LatencyReader::capture_log);
    if (read != LatencyReader::Done) {
      reading = false;
      status = 2;
    }
  }
  accumulator->finish();
  if (exporter != nullptr) exporter->count_skipped(nullptr);
  reader.report_unreported();
  *skipped += reader.skipped();
  for (const HlogReader& log : log_readers) {
    *skipped += log.skipped();
    if (log.failed()) status = 2;
  }
  for (InputFile& log : logs) {
    if (treatment != ClockTreatment::Ignore)
      clocks->push_back({log.name, std::nullopt, "an interval log holds no time of each message"});
    close_input(&log);
  }
  return status;
}

// Adds what the clocks of the inputs of figures showed, as o asks.
void show_clocks(const Options& o, std::vector<InputClock> clocks, Figures* figures) {
  figures->deskewed = o.deskew;
  figures->clocks_shown = o.clock;
  if (o.clock) figures->clocks = std::move(clocks);
}

}  // namespace

int run(const Options& o) {
  raise_descriptor_limit();
  std::vector<const char*> paths = o.paths;
  if (paths.empty()) paths.push_back("-");
  // Whatever refuses the run before reading does so before any output is
  // opened: files are opened and looked into, and the address bound, first;
  // then pipes, which may wait for their first bytes while the server
  // already answers.
  std::vector<InputFile> inputs, baselines;
  bool opened = open_inputs(paths, false, &inputs);
  if (!open_inputs(o.baselines, false, &baselines) || !opened) return 2;
  // Only the picture's own interval grows: the rows of a log keep their length.
  int64_t interval = o.interval;
  if (interval == 0) interval = o.hlog != nullptr ? o.log_interval : 0;
  int64_t rows = interval == 0 && o.svg != nullptr ? picture_rows : 0;
  if (interval == 0) interval = o.svg != nullptr ? picture_interval_ns : 0;
  Accumulator accumulator(o.digits, interval, rows, o.range);
  Exporter exporter(o.metrics, o.interval, o.range.label());
  size_t later_files = std::count_if(paths.begin(), paths.end(), may_wait) +
                       std::count_if(o.baselines.begin(), o.baselines.end(), may_wait);
  if (!exporter.start(&accumulator, later_files)) return 2;
  opened = open_inputs(paths, true, &inputs);
  if (!open_inputs(o.baselines, true, &baselines) || !opened) return 2;
  Outputs outputs;
  if (!outputs.open(o)) return 2;
  outputs.attach(o, paths, &accumulator);
  Confidence confidence(o.confidence);
  Checker checker(o.checks, *o.unit, confidence, o.range.label());
  accumulator.add_consumer(&checker);
  int64_t skipped = 0;
  std::vector<InputClock> clocks, base_clocks;
  int status = read_inputs(o, &inputs, o.interval != 0 || o.hlog != nullptr, &accumulator, &skipped,
                           &exporter, &clocks);
  bool exported = exporter.finish(accumulator, skipped);
  Figures run = figures_of(accumulator.totals(), accumulator.histogram(), o.percentiles, o.range,
                           skipped, confidence);
  show_clocks(o, std::move(clocks), &run);
  // The baseline is read as the inputs are, into an accumulator of its own.
  std::unique_ptr<Accumulator> baseline;
  Figures base;
  if (!o.baselines.empty()) {
    baseline = std::make_unique<Accumulator>(o.digits, 0, 0, o.range);
    int64_t base_skipped = 0;
    status = std::max(status, read_inputs(o, &baselines, false, baseline.get(), &base_skipped,
                                          nullptr, &base_clocks));
    base = figures_of(baseline->totals(), baseline->histogram(), o.percentiles, o.range,
                      base_skipped, confidence);
    show_clocks(o, std::move(base_clocks), &base);
    skipped += base_skipped;
  }
  bool written =
      outputs.finish(o, accumulator, run, baseline.get(), baseline ? &base : nullptr, confidence);
  Subject run_subject{run, accumulator.histogram()};
  std::unique_ptr<Subject> base_subject;
  if (baseline) base_subject = std::make_unique<Subject>(Subject{base, baseline->histogram()});
  bool checked = checker.report(run_subject, base_subject.get());
  exporter.linger();
  // A failed file or usage comes first, then a failed check, then a skipped line.
  if (!exported || !written || status != 0) return 2;
  if (!checked) return 3;
  return skipped != 0 ? 1 : 0;
}

}  // namespace caplat::stat
