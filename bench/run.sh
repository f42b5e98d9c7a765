#!/usr/bin/env bash
# Times caplat against `wc -l` and `cat` on generated logs, one case at a time.
#
#   bench/run.sh [--size BYTES] [--rounds N] [--cases "e iso ..."] [--build DIR] [--level NAME]
#
# --level runs caplat's dump line decoders at one instruction level (scalar,
# ssse3, avx2, avx512) rather than the best this processor has.
# Each case's log is generated into a temporary folder and read once so that
# it is page-cached. Every round runs each command once, in turn, so that a
# noisy neighbour weighs on all of them alike; the table shows the median
# seconds, MB/s, the median ratio to `wc -l` in the same round, of the wall
# time and of the processor time, and the peak resident memory.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
size=1000000000
rounds=5
cases="e data ts iso mixed small ascii frames"
build=$here/../build
level=
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --cases) cases=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --level) level=$2; shift 2 ;;
    *) echo "usage: $0 [--size BYTES] [--rounds N] [--cases LIST] [--build DIR] [--level NAME]" >&2; exit 2 ;;
  esac
done
if [ ! -x "$build/caplat" ] || [ ! -x "$build/loggen" ] || [ ! -x "$build/caplat_level" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$build" -j --target caplat loggen caplat_level > /dev/null
fi
caplat=$build/caplat
if [ -n "$level" ]; then
  "$build/caplat_level" "$level" < /dev/null || exit 2
  caplat="$build/caplat_level $level"
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=bench/measure.sh
. "$here/measure.sh"

loggen_args() {
  case $1 in
    e | data | ts | iso | mixed) echo "--format $1" ;;
    small) echo "--format e --small" ;;
    ascii) echo "--format e --ascii" ;;
    frames) echo "--format e --ascii --frames" ;;
  esac
}


printf '%-8s %-22s %9s %9s %8s %8s %8s\n' case command seconds MB/s "x wc -l" "cpu x" "RSS MB"
for c in $cases; do
  log=$tmp/$c.log
  # shellcheck disable=SC2046
  "$build/loggen" $(loggen_args "$c") --size "$size" --seed 1 > "$log"
  cat "$log" > /dev/null
  bytes=$(stat -c %s "$log")
  names=("wc -l" "cat" "caplat -0" "caplat -1" "caplat -2" "pipe: wc -l" "pipe: caplat -0")
  commands=("wc -l < $log" "cat $log" "$caplat -0 < $log" "$caplat -1 < $log" "$caplat -2 < $log"
            "cat $log | wc -l" "cat $log | $caplat -0")
  # The pipe rows are compared with wc -l reading the same pipe.
  baseline=(0 0 0 0 0 5 5)
  rm -f "$tmp"/t.*
  for ((r = 0; r < rounds; r++)); do
    for i in "${!commands[@]}"; do measure "${commands[$i]}" "$tmp/t.$i"; done
  done
  for i in "${!commands[@]}"; do
    b=${baseline[$i]}
    secs=$(awk '{print $1 / 1e6}' "$tmp/t.$i" | median)
    printf '%-8s %-22s %9.3f %9.0f %8.2f %8.2f %8.1f\n' "$c" "${names[$i]}" "$secs" \
      "$(awk -v b="$bytes" -v s="$secs" 'BEGIN {print b / 1e6 / s}')" \
      "$(ratio "$tmp/t.$i" "$tmp/t.$b" 1)" "$(ratio "$tmp/t.$i" "$tmp/t.$b" 3)" "$(peak_mb "$tmp/t.$i")"
  done
  rm -f "$log"
done
