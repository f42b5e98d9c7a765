// Prints what the HdrHistogram Java library writes for the latencies in ns on
// standard input, one per line: those from 0 to 1 hour are recorded in a
// histogram of 1 ns to 1 hour at the digits given (default 3), and the
// percentile distribution is printed in ms.
import java.io.BufferedReader;
import java.io.InputStreamReader;
import org.HdrHistogram.Histogram;

public class HgrmReference {
  public static void main(String[] args) throws Exception {
    int digits = args.length > 0 ? Integer.parseInt(args[0]) : 3;
    Histogram histogram = new Histogram(3600000000000L, digits);
    BufferedReader in = new BufferedReader(new InputStreamReader(System.in));
    for (String line = in.readLine(); line != null; line = in.readLine()) {
      String[] fields = line.split(" ");
      long value = Long.parseLong(fields[0]);
      long count = fields.length > 1 ? Long.parseLong(fields[1]) : 1;
      if (value >= 0 && value <= 3600000000000L) histogram.recordValueWithCount(value, count);
    }
    histogram.outputPercentileDistribution(System.out, 5, 1e6);
  }
}
