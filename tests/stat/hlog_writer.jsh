// Writes what HdrHistogram's Java library makes of "receive_ns latency_ns"
// lines (environment HLOG_IN): an interval log of one histogram per second of
// receive time, odd seconds tagged B (HLOG_OUT), and the percentile
// distributions of all lines and of tag B alone (HGRM_ALL, HGRM_B).
import org.HdrHistogram.*;
import java.io.*;
import java.nio.file.*;

var log = new PrintStream(System.getenv("HLOG_OUT"));
var writer = new HistogramLogWriter(log);
var all = new Histogram(3600000000000L, 3);
var tagged = new Histogram(3600000000000L, 3);
var interval = new Histogram(3600000000000L, 3);
long second = -1;

void close(long s) {
  interval.setStartTimeStamp(s * 1000);
  interval.setEndTimeStamp(s * 1000 + 1000);
  interval.setTag(s % 2 == 1 ? "B" : null);
  writer.outputIntervalHistogram(interval);
  all.add(interval);
  if (s % 2 == 1) tagged.add(interval);
  interval.reset();
}

for (String line : Files.readAllLines(Path.of(System.getenv("HLOG_IN")))) {
  String[] f = line.trim().split(" +");
  long s = Long.parseLong(f[0].substring(0, f[0].length() - 9));
  long latency = Long.parseLong(f[1]);
  if (second < 0) {
    writer.outputLogFormatVersion();
    writer.outputStartTime(s * 1000);
    writer.setBaseTime(s * 1000);
    writer.outputBaseTime(s * 1000);
    writer.outputLegend();
  } else if (s != second) {
    close(second);
  }
  second = s;
  if (latency >= 0 && latency <= 3600000000000L) interval.recordValue(latency);
}
close(second);
log.close();
all.outputPercentileDistribution(new PrintStream(System.getenv("HGRM_ALL")), 5, 1000000.0);
tagged.outputPercentileDistribution(new PrintStream(System.getenv("HGRM_B")), 5, 1000000.0);
/exit
