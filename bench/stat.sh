#!/usr/bin/env bash
# Times caplat-stat on caplat -2 output against `wc -l` and the read floor
# (bench/floor: read(2) in 256 KiB blocks and a count of newlines) on the same
# file, and in a pipe behind caplat against caplat alone.
#
#   bench/stat.sh [--size BYTES] [--rounds N] [--build DIR] [--before DIR]
#
# A log of --size bytes of small payloads (3.7 GB: some 9.3 million messages)
# is generated with loggen and turned into caplat -2 output once; the output is
# read once so that it is page-cached. --before times the caplat-stat of
# another build folder too (an earlier commit's), in the same rounds. Every
# round runs each command once, in turn, so that a noisy neighbour weighs on
# all of them alike; the table shows the median seconds, million lines a
# second, the median ratio to the baseline of the same round (wall and
# processor time), the peak resident memory, and beside each ratio the median
# seconds of `wc -l` and of the floor in the same rounds. The first line names
# the processor and the machine.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
size=3700000000
rounds=5
build=$here/../build
before=
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --before) before=$2; shift 2 ;;
    *) echo "usage: $0 [--size BYTES] [--rounds N] [--build DIR] [--before DIR]" >&2; exit 2 ;;
  esac
done
if [ ! -x "$build/stat/caplat-stat" ] || [ ! -x "$build/caplat" ] || [ ! -x "$build/loggen" ] ||
  [ ! -x "$build/floor" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$build" -j --target caplat caplat-stat loggen floor > /dev/null
fi
caplat=$build/caplat
stat=$build/stat/caplat-stat
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=bench/measure.sh
. "$here/measure.sh"

out=$tmp/latency.txt
"$build/loggen" --format e --small --size "$size" --seed 1 | "$caplat" -2 > "$out" 2> /dev/null
cat "$out" > /dev/null
lines=$(wc -l < "$out")
machine
echo "$lines lines of caplat -2 output ($(stat -c %s "$out") bytes), $rounds rounds"
names=() commands=() baseline=() floor=()
# Adds a row: its name, its command line, and the rows of its baseline and floor.
row() { names+=("$1"); commands+=("$2"); baseline+=("$3"); floor+=("$4"); }
row "wc -l" "wc -l < $out" 0 1
row "floor" "$build/floor < $out" 0 1
row "caplat-stat" "$stat < $out" 0 1
[ -z "$before" ] || row "before: caplat-stat" "$before/stat/caplat-stat < $out" 0 1
row "caplat-stat -i 1s" "$stat -i 1s < $out" 0 1
row "caplat-stat --svg" "$stat --svg $tmp/p.svg < $out" 0 1
row "caplat-stat --hgrm" "$stat --hgrm $tmp/h.hgrm < $out" 0 1
run_rounds
printf '%-22s %9s %9s %8s %8s %8s %8s %8s\n' command seconds "M lines/s" "x wc -l" "cpu x" "RSS MB" \
  "wc -l s" "floor s"
for i in "${!commands[@]}"; do
  b=${baseline[$i]}
  secs=$(seconds "$tmp/t.$i")
  printf '%-22s %9.3f %9.1f %8.2f %8.2f %8.1f %8.3f %8.3f\n' "${names[$i]}" "$secs" \
    "$(awk -v n="$lines" -v s="$secs" 'BEGIN {print n / 1e6 / s}')" \
    "$(ratio "$tmp/t.$i" "$tmp/t.$b" 1)" "$(ratio "$tmp/t.$i" "$tmp/t.$b" 3)" \
    "$(peak_mb "$tmp/t.$i")" "$(seconds "$tmp/t.$b")" "$(seconds "$tmp/t.${floor[$i]}")"
done
