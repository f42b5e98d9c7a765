// What HdrHistogram's Java library makes of caplat's "application_ns receive_ns"
// lines on standard input, each counted once or as often as an optional third
// field says: an interval log of one histogram per second of receive time, odd
// seconds tagged B (file of the second argument), and the percentile
// distribution in ms of all lines (standard output). Latencies from 0 to 1 hour
// are recorded, at the digits of the first argument.
import java.io.*;
import org.HdrHistogram.*;

public class JavaReference {
  static final long HOUR = 3600000000000L;
  static Histogram all, interval;
  static HistogramLogWriter writer;

  static void close(long second) {
    interval.setStartTimeStamp(second * 1000);
    interval.setEndTimeStamp(second * 1000 + 1000);
    interval.setTag(second % 2 == 1 ? "B" : null);
    writer.outputIntervalHistogram(interval);
    all.add(interval);
    interval.reset();
  }

  public static void main(String[] args) throws IOException {
    all = new Histogram(HOUR, Integer.parseInt(args[0]));
    interval = new Histogram(HOUR, Integer.parseInt(args[0]));
    PrintStream log = new PrintStream(args[1]);
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
    all.outputPercentileDistribution(System.out, 5, 1e6);
  }
}
