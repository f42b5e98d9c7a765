// What HdrHistogram's Java library makes of caplat's "application_ns receive_ns"
// lines on standard input, each counted once or as often as an optional third
// field says: an interval log of one histogram per second of receive time, odd
// seconds tagged B (first argument), the percentile distribution in ms of tag B
// (second argument) and that of all lines (standard output). Latencies from 0
// to 1 hour are recorded, at the digits of the third argument.
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.io.PrintStream;
import org.HdrHistogram.Histogram;
import org.HdrHistogram.HistogramLogWriter;

public class JavaReference {
  static final long HOUR = 3600000000000L;
  static Histogram all, tagged, interval;
  static HistogramLogWriter writer;

  static void close(long second) {
    interval.setStartTimeStamp(second * 1000);
    interval.setEndTimeStamp(second * 1000 + 1000);
    interval.setTag(second % 2 == 1 ? "B" : null);
    writer.outputIntervalHistogram(interval);
    all.add(interval);
    if (second % 2 == 1) tagged.add(interval);
    interval.reset();
  }

  public static void main(String[] args) throws Exception {
    int digits = Integer.parseInt(args[2]);
    all = new Histogram(HOUR, digits);
    tagged = new Histogram(HOUR, digits);
    interval = new Histogram(HOUR, digits);
    PrintStream log = new PrintStream(args[0]);
    writer = new HistogramLogWriter(log);
    BufferedReader in = new BufferedReader(new InputStreamReader(System.in));
    long second = -1;
    for (String line = in.readLine(); line != null; line = in.readLine()) {
      String[] fields = line.split(" ");
      long receive = Long.parseLong(fields[1]);
      long latency = receive - Long.parseLong(fields[0]);
      long s = receive / 1000000000;
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
      long count = fields.length > 2 ? Long.parseLong(fields[2]) : 1;
      if (latency >= 0 && latency <= HOUR) interval.recordValueWithCount(latency, count);
    }
    if (second >= 0) close(second);
    log.close();
    tagged.outputPercentileDistribution(new PrintStream(args[1]), 5, 1e6);
    all.outputPercentileDistribution(System.out, 5, 1e6);
  }
}
