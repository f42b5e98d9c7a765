# Writes caplat -2 lines (application and receive time in ns, latency in ms)
# of n latencies from seed, received from second start on over about span
# seconds, with a gap, clock skew, stale and over-an-hour latencies among them.
# Times are kept as seconds and nanoseconds, which doubles hold exactly, and
# counted from 10,000 s before start, which keeps application times positive.
BEGIN {
  srand(seed)
  t = 1e13
  for (i = 0; i < n; i++) {
    t += int(rand() * 2 * span * 1e9 / n)
    if (i == int(n / 2)) t += 5e9
    r = rand()
    lat = int(exp(rand() * 20))
    if (r < 0.01) lat = -lat
    else if (r < 0.015) lat = 1e10 + int(rand() * 1e11)
    else if (r < 0.017) lat = 3600000000000 + int(rand() * 1e9)
    a = t - lat
    mag = lat < 0 ? -lat : lat
    printf "%d%09d %d%09d %s%d.%06d\n", start - 1e4 + int(a / 1e9), a % 1e9, start - 1e4 + int(t / 1e9),
      t % 1e9, lat < 0 ? "-" : "", int(mag / 1e6), mag % 1e6
  }
}
