#!/usr/bin/env bash
# Times caplat-stat on caplat -2 output against `wc -l` on the same file, and
# in a pipe behind caplat against caplat alone.
#
#   bench/stat.sh [--size BYTES] [--rounds N] [--build DIR]
#
# A log of --size bytes of small payloads (4 GB: some 10 million messages) is
# generated with loggen and turned into caplat -2 output once; both are read
# once so that they are page-cached. Every round runs each command once, in
# turn, so that a noisy neighbour weighs on all of them alike; the table shows
# the median seconds, million lines a second, the median ratio to the baseline
# of the same round, and the peak resident memory.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
size=4000000000
rounds=5
build=$here/../build
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: $0 [--size BYTES] [--rounds N] [--build DIR]" >&2; exit 2 ;;
  esac
done
if [ ! -x "$build/stat/caplat-stat" ] || [ ! -x "$build/caplat" ] || [ ! -x "$build/loggen" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$build" -j --target caplat caplat-stat loggen > /dev/null
fi
caplat=$build/caplat
stat=$build/stat/caplat-stat
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=bench/measure.sh
. "$here/measure.sh"

log=$tmp/capture.log
out=$tmp/latency.txt
"$build/loggen" --format e --small --size "$size" --seed 1 > "$log"
"$caplat" -2 < "$log" > "$out" 2> /dev/null
cat "$log" "$out" > /dev/null
lines=$(wc -l < "$out")
echo "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores;" \
  "$lines lines of caplat -2 output ($(stat -c %s "$out") bytes), $rounds rounds"
names=("wc -l" "caplat-stat" "caplat-stat -i 1s" "caplat-stat --svg" "caplat-stat --hgrm"
       "caplat -2 > /dev/null" "caplat -2 | caplat-stat")
commands=("wc -l < $out" "$stat < $out" "$stat -i 1s < $out" "$stat --svg $tmp/p.svg < $out"
          "$stat --hgrm $tmp/h.hgrm < $out"
          "$caplat -2 < $log > /dev/null" "$caplat -2 < $log | $stat")
# The pipe is compared with caplat alone, the rest with wc -l.
baseline=(0 0 0 0 0 5 5)
for ((r = 0; r < rounds; r++)); do
  for i in "${!commands[@]}"; do measure "${commands[$i]}" "$tmp/t.$i"; done
done
printf '%-24s %9s %9s %9s %8s\n' command seconds "M lines/s" "x base" "RSS MB"
for i in "${!commands[@]}"; do
  b=${baseline[$i]}
  secs=$(awk '{print $1 / 1e6}' "$tmp/t.$i" | median)
  printf '%-24s %9.3f %9.1f %9.2f %8.1f\n' "${names[$i]}" "$secs" \
    "$(awk -v n="$lines" -v s="$secs" 'BEGIN {print n / 1e6 / s}')" \
    "$(ratio "$tmp/t.$i" "$tmp/t.$b" 1)" "$(peak_mb "$tmp/t.$i")"
done
