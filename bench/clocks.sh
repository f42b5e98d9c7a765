#!/usr/bin/env bash
# What --clock and --deskew add to caplat-stat's summary of an hour at 200
# messages a second (some 720,000 lines of caplat -2 output, made by
# clockgen): times `wc -l`, the read floor (bench/floor), caplat-stat's
# summary, with --clock and with --deskew on that output, one of each per
# round, prints each one's own work (its processor time less that of an
# empty input) as a multiple of the summary's, the peak memory of --clock on
# ten million lines through a pipe, and runs the estimator's
# micro-benchmarks (caplat_clock_bench, built with -DCAPLAT_BENCH=ON) for its
# ns per message and its work at the end. The summary's own work is its
# processor time less that of caplat-stat on an empty input (starting a
# process here costs about as much as reading the lines). Prints the
# processor and the machine, the median seconds and processor seconds, and
# the summary with the estimator's work added, as a multiple of the summary's
# own work.
#
#   bench/clocks.sh [--rounds N] [--build DIR]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
rounds=9
build=$here/../build
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: $0 [--rounds N] [--build DIR]" >&2; exit 2 ;;
  esac
done
for program in stat/caplat-stat clockgen floor bench/caplat_clock_bench; do
  [ -x "$build/$program" ] || { echo "$0: $build/$program is missing" >&2; exit 1; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=bench/measure.sh
. "$here/measure.sh"

out=$tmp/latency.txt
"$build/clockgen" --drift 25 --step 1800:3 > "$out"
cat "$out" > /dev/null
lines=$(wc -l < "$out")
machine
echo "$lines lines of caplat -2 output ($(stat -c %s "$out") bytes), $rounds rounds"
names=("wc -l" "floor" "caplat-stat" "caplat-stat, empty" "--clock" "--deskew")
commands=("wc -l < $out" "$build/floor < $out" "$build/stat/caplat-stat < $out"
  "$build/stat/caplat-stat < /dev/null" "$build/stat/caplat-stat --clock < $out"
  "$build/stat/caplat-stat --deskew $out")
run_rounds
cpu_seconds() { awk '{print $3}' "$1" | median; }
printf '%-14s %9s %9s %9s %9s\n' command seconds "cpu s" "cpu ns/line" "RSS MB"
for i in "${!commands[@]}"; do
  cpu=$(cpu_seconds "$tmp/t.$i")
  printf '%-14s %9.4f %9.3f %9.1f %9.1f\n' "${names[$i]}" "$(seconds "$tmp/t.$i")" "$cpu" \
    "$(awk -v c="$cpu" -v n="$lines" 'BEGIN {print c * 1e9 / n}')" "$(peak_mb "$tmp/t.$i")"
done

# Each option's own work against the summary's, round by round.
own() { paste -d' ' "$tmp/t.$1" "$tmp/t.3" "$tmp/t.2" | awk '{print ($3 - $6) / ($9 - $6)}' | median; }
echo "own work against the summary's: --clock $(own 4) x, --deskew $(own 5) x"
"$build/clockgen" --duration 50000 | /usr/bin/time -f '%M' -o "$tmp/rss" \
  "$build/stat/caplat-stat" --clock > /dev/null
echo "--clock on 10,000,000 lines through a pipe: peak $(awk '{print $1 / 1024}' "$tmp/rss") MB"

"$build/bench/caplat_clock_bench" --benchmark_repetitions="$rounds" \
  --benchmark_report_aggregates_only=true --benchmark_format=csv 2> /dev/null |
  awk -F, '/_median/ {gsub(/"/, "", $1); print $1, $4, $5, $7}' > "$tmp/micro"
echo
echo "estimator (medians of $rounds repetitions, processor time)"
awk '{
  name = $1; sub(/_median/, "", name)
  if ($4 != "") printf "%-24s %8.2f ns/message\n", name, 1e9 / $4
  else printf "%-24s %8.3f %s at the end\n", name, $2, $3
}' "$tmp/micro"
# The summary's own work: the processor time of each round less that of the
# empty input in the same round.
summary=$(paste -d' ' "$tmp/t.2" "$tmp/t.3" | awk '{print $3 - $6}' | median)
awk -v s="$summary" -v n="$lines" '
  $1 == "TakeMessage/0_median" {take = 1 / $4}
  $1 == "EstimateAtTheEnd/0_median" {end = $2 / 1e3}
  END {printf "\nsummary alone %.1f ms (%.1f ns a line); estimator %.1f ms a message at a time " \
              "and %.1f ms at the end: %.2f x the summary\n",
       s * 1e3, s * 1e9 / n, n * take * 1e3, end * 1e3, (s + n * take + end) / s}' "$tmp/micro"
