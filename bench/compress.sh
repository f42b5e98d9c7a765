#!/usr/bin/env bash
# Times caplat on compressed logs, against what the user would run without it
# and against the decompression alone, one case at a time.
#
#   bench/compress.sh [--size BYTES] [--rounds N] [--cases "e small ..."] [--build DIR]
#
# Each case's log is generated with loggen (seeded), compressed with `gzip -6`
# and `zstd -3`, and all three files are read once so that they are
# page-cached. Every round runs each command once, in turn: `wc -l` on the
# log; `zstd -dc log.zst > /dev/null` and `caplat -2 < log.zst`; `zcat log.gz |
# caplat -2` and `caplat -2 < log.gz`; and bench/decompress, which only
# decompresses, with each library: zlib, ISA-L's igzip and libdeflate on the
# gzip file (libdeflate given the whole file and its whole output in memory,
# having no streaming interface), libzstd on the zstd file. The table shows
# the median seconds, MB/s of the log, the median ratio in the same round to
# the row's baseline (named in the last column), of the wall time and of the
# processor time, the peak resident memory, and the median seconds of `wc -l`
# in the same rounds. The first line names the processor and the machine.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
size=1000000000
rounds=5
cases="e data ts iso mixed small ascii frames"
build=$here/../build-bench
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --cases) cases=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: $0 [--size BYTES] [--rounds N] [--cases LIST] [--build DIR]" >&2; exit 2 ;;
  esac
done
if [ ! -x "$build/caplat" ] || [ ! -x "$build/loggen" ] || [ ! -x "$build/bench/decompress" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DCAPLAT_BENCH=ON > /dev/null
  cmake --build "$build" -j --target caplat loggen decompress > /dev/null
fi
caplat=$build/caplat
decompress=$build/bench/decompress
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=bench/measure.sh
. "$here/measure.sh"

machine
printf '%-8s %-28s %9s %9s %8s %8s %8s %8s  %s\n' case command seconds MB/s "x base" "cpu x" \
  "RSS MB" "wc -l s" base
for c in $cases; do
  log=$tmp/$c.log
  # shellcheck disable=SC2046
  "$build/loggen" $(loggen_args "$c") --size "$size" --seed 1 > "$log"
  gzip -6 -c < "$log" > "$log.gz"
  zstd -q -3 -c < "$log" > "$log.zst"
  cat "$log" "$log.gz" "$log.zst" > /dev/null
  bytes=$(stat -c %s "$log")
  names=() commands=() baseline=()
  # Adds a row: its name, its command line, and the row it is compared with.
  row() { names+=("$1"); commands+=("$2"); baseline+=("$3"); }
  row "wc -l" "wc -l < $log" 0
  row "zstd -dc > /dev/null" "zstd -dc $log.zst" 1
  row "caplat -2 < log.zst" "$caplat -2 < $log.zst" 1
  row "zcat | caplat -2" "zcat $log.gz | $caplat -2" 3
  row "caplat -2 < log.gz" "$caplat -2 < $log.gz" 3
  row "decompress zlib" "$decompress zlib < $log.gz" 5
  row "decompress isal" "$decompress isal < $log.gz" 5
  row "decompress libdeflate" "$decompress libdeflate < $log.gz" 5
  row "decompress zstd" "$decompress zstd < $log.zst" 1
  run_rounds
  for i in "${!commands[@]}"; do
    b=${baseline[$i]}
    secs=$(seconds "$tmp/t.$i")
    printf '%-8s %-28s %9.3f %9.0f %8.2f %8.2f %8.1f %8.3f  %s\n' "$c" "${names[$i]}" "$secs" \
      "$(awk -v b="$bytes" -v s="$secs" 'BEGIN {print b / 1e6 / s}')" \
      "$(ratio "$tmp/t.$i" "$tmp/t.$b" 1)" "$(ratio "$tmp/t.$i" "$tmp/t.$b" 3)" \
      "$(peak_mb "$tmp/t.$i")" "$(seconds "$tmp/t.0")" "${names[$b]}"
  done
  rm -f "$log" "$log.gz" "$log.zst"
done
