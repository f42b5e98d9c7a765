#!/usr/bin/env bash
# Times caplat against `wc -l`, `cat` and the read floor (bench/floor: read(2)
# in 256 KiB blocks and a count of newlines) on generated logs, one case at a
# time.
#
#   bench/run.sh [--size BYTES] [--rounds N] [--cases "e iso ..."] [--build DIR] [--level NAME]
#                [--before DIR]
#
# --level runs caplat's dump line decoders at one instruction level (scalar,
# ssse3, avx2, avx512) rather than the best this processor has. --before times
# the caplat of another build folder too (an earlier commit's), in the same
# rounds; its rows are marked "before".
# Each case's log is generated into a temporary folder and read once so that
# it is page-cached. Every round runs each command once, in turn, so that a
# noisy neighbour weighs on all of them alike; the table shows the median
# seconds, MB/s, the median ratio to `wc -l` in the same round, of the wall
# time and of the processor time, the peak resident memory, and beside each
# ratio the median seconds of `wc -l` and of the floor in the same rounds. The
# first line names the processor and the machine.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
size=1000000000
rounds=5
cases="e data ts iso mixed small ascii frames"
build=$here/../build
level=
before=
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --cases) cases=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --level) level=$2; shift 2 ;;
    --before) before=$2; shift 2 ;;
    *) echo "usage: $0 [--size BYTES] [--rounds N] [--cases LIST] [--build DIR] [--level NAME] [--before DIR]" >&2; exit 2 ;;
  esac
done
if [ ! -x "$build/caplat" ] || [ ! -x "$build/loggen" ] || [ ! -x "$build/caplat_level" ] ||
  [ ! -x "$build/floor" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$build" -j --target caplat loggen caplat_level floor > /dev/null
fi
caplat=$build/caplat
old=$before/caplat
if [ -n "$level" ]; then
  "$build/caplat_level" "$level" < /dev/null || exit 2
  caplat="$build/caplat_level $level"
  old="$before/caplat_level $level"
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=bench/measure.sh
. "$here/measure.sh"

machine
printf '%-8s %-22s %9s %9s %8s %8s %8s %8s %8s\n' case command seconds MB/s "x wc -l" "cpu x" \
  "RSS MB" "wc -l s" "floor s"
for c in $cases; do
  log=$tmp/$c.log
  # shellcheck disable=SC2046
  "$build/loggen" $(loggen_args "$c") --size "$size" --seed 1 > "$log"
  cat "$log" > /dev/null
  bytes=$(stat -c %s "$log")
  names=() commands=() baseline=() floor=()
  # Adds a row: its name, its command line, and the rows of its wc -l and floor.
  row() { names+=("$1"); commands+=("$2"); baseline+=("$3"); floor+=("$4"); }
  row "wc -l" "wc -l < $log" 0 1
  row "floor" "$build/floor < $log" 0 1
  row "cat" "cat $log" 0 1
  for f in 0 1 2; do row "caplat -$f" "$caplat -$f < $log" 0 1; done
  if [ -n "$before" ]; then
    for f in 0 1 2; do row "before: caplat -$f" "$old -$f < $log" 0 1; done
  fi
  # The pipe rows are compared with wc -l and the floor reading the same pipe.
  p=${#names[@]}
  row "pipe: wc -l" "cat $log | wc -l" "$p" $((p + 1))
  row "pipe: floor" "cat $log | $build/floor" "$p" $((p + 1))
  row "pipe: caplat -0" "cat $log | $caplat -0" "$p" $((p + 1))
  if [ -n "$before" ]; then row "before pipe: caplat -0" "cat $log | $old -0" "$p" $((p + 1)); fi
  run_rounds
  for i in "${!commands[@]}"; do
    b=${baseline[$i]}
    secs=$(seconds "$tmp/t.$i")
    printf '%-8s %-22s %9.3f %9.0f %8.2f %8.2f %8.1f %8.3f %8.3f\n' "$c" "${names[$i]}" "$secs" \
      "$(awk -v b="$bytes" -v s="$secs" 'BEGIN {print b / 1e6 / s}')" \
      "$(ratio "$tmp/t.$i" "$tmp/t.$b" 1)" "$(ratio "$tmp/t.$i" "$tmp/t.$b" 3)" \
      "$(peak_mb "$tmp/t.$i")" "$(seconds "$tmp/t.$b")" "$(seconds "$tmp/t.${floor[$i]}")"
  done
  rm -f "$log"
done
