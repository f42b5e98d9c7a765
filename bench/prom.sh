#!/usr/bin/env bash
# Times caplat-stat's summary with and without the exporter (--listen, and
# --prom) against `wc -l` on the same caplat -2 output, and measures how close
# Prometheus's histogram_quantile over the default buckets comes to the exact
# percentiles of that output.
#
#   bench/prom.sh [--file FILE] [--size BYTES] [--rounds N] [--build DIR]
#
# FILE is caplat -2 output; without it, a log of --size bytes of small payloads
# (default 4 GB: some 10 million messages) is generated with loggen and turned
# into caplat -2 output once. The file is read once so that it is page-cached.
# Every round runs each command once, in turn, so that a noisy neighbour
# weighs on all of them alike; the table shows the median seconds, the median
# ratio to `wc -l` in the same round (wall and processor time), the median
# ratio to the summary without the exporter in the same round (wall and
# processor time), and the peak resident memory; the pipe rows against `cat |
# wc -l` and the summary through a pipe. With --listen the server starts,
# serves nobody and stops at the end (--linger 1ns): what it costs the reader
# to publish its snapshots.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
file=
size=4000000000
rounds=9
build=$here/../build
while [ $# -gt 0 ]; do
  case $1 in
    --file) file=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: $0 [--file FILE] [--size BYTES] [--rounds N] [--build DIR]" >&2; exit 2 ;;
  esac
done
if [ ! -x "$build/stat/caplat-stat" ] || [ ! -x "$build/caplat" ] || [ ! -x "$build/loggen" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$build" -j --target caplat caplat-stat loggen > /dev/null
fi
stat=$build/stat/caplat-stat
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=bench/measure.sh
. "$here/measure.sh"

if [ -z "$file" ]; then
  file=$tmp/latency.txt
  "$build/loggen" --format e --small --size "$size" --seed 1 | "$build/caplat" -2 > "$file" 2> /dev/null
fi
cat "$file" > /dev/null
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

machine
echo "$(wc -l < "$file") lines of caplat -2 output ($(stat -c %s "$file") bytes), $rounds rounds"
# The summary without the exporter runs twice a round: how far apart its two
# runs are is the noise the other rows stand in.
names=("wc -l" "caplat-stat" "caplat-stat --listen" "caplat-stat, again" "caplat-stat --prom"
       "cat | wc -l" "cat | caplat-stat" "cat | caplat-stat --listen" "cat | caplat-stat, again")
commands=("wc -l < $file" "$stat $file" "$stat --listen $port --linger 1ns $file" "$stat $file"
          "$stat --prom $tmp/m.prom $file" "cat $file | wc -l" "cat $file | $stat"
          "cat $file | $stat --listen $port --linger 1ns" "cat $file | $stat")
# Each row's wc -l and summary without the exporter: through a pipe, those
# through a pipe, where the reader also checks whether a read would wait.
base=(0 0 0 0 0 5 5 5 5)
plain=(1 1 1 1 1 6 6 6 6)
run_rounds
printf '%-28s %9s %8s %8s %9s %9s %8s\n' command seconds "x wc -l" "cpu x" "x summary" "cpu x s" \
  "RSS MB"
for i in "${!commands[@]}"; do
  b=${base[$i]} p=${plain[$i]}
  printf '%-28s %9.3f %8.2f %8.2f %9.3f %9.3f %8.1f\n' "${names[$i]}" "$(seconds "$tmp/t.$i")" \
    "$(ratio "$tmp/t.$i" "$tmp/t.$b" 1)" "$(ratio "$tmp/t.$i" "$tmp/t.$b" 3)" \
    "$(ratio "$tmp/t.$i" "$tmp/t.$p" 1)" "$(ratio "$tmp/t.$i" "$tmp/t.$p" 3)" "$(peak_mb "$tmp/t.$i")"
done

# histogram_quantile as Prometheus computes it from the buckets of a --prom
# file (linear within the bucket that holds the rank, from 0 below the
# first), against the percentile of caplat-stat at five digits.
echo
"$stat" --prom "$tmp/m.prom" "$file" > /dev/null
printf '%-8s %14s %14s %8s %24s\n' quantile "exact s" "estimate s" "error %" "bucket s"
for q in 0.5 0.9 0.99 0.999; do
  exact=$("$stat" -d 5 -u s -p "$(awk -v q=$q 'BEGIN {print q * 100}')" "$file" | awk '/^p/ {print $2}')
  awk -v q=$q -v exact="$exact" '
    /^caplat_latency_seconds_bucket/ {
      match($0, /le="[^"]*"/); le = substr($0, RSTART + 4, RLENGTH - 5)
      n++; bound[n] = le == "+Inf" ? -1 : le + 0; cumulative[n] = $NF + 0
    }
    END {
      rank = q * cumulative[n]
      for (b = 1; cumulative[b] < rank; b++) {}
      start = b == 1 ? 0 : bound[b - 1]; below = b == 1 ? 0 : cumulative[b - 1]
      estimate = bound[b] < 0 ? start : start + (bound[b] - start) * (rank - below) / (cumulative[b] - below)
      printf "%-8s %14.9f %14.9f %8.2f %11.6g to %-10.6g\n", q, exact, estimate,
        100 * (estimate - exact) / exact, start, bound[b]
    }' "$tmp/m.prom"
done
