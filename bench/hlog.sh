#!/usr/bin/env bash
# Times caplat-stat merging interval logs: LOGS logs (default 10) of about
# 1,000 one-second intervals each, into one summary and into one merged log,
# against `wc -l` and `cat` on the same logs.
#
#   bench/hlog.sh [--logs N] [--rate PER_SECOND] [--rounds N] [--build DIR]
#
# The logs are written by caplat-stat itself from generated caplat output
# (RATE latencies a second, default 200) and read once so that they are
# page-cached. Every round runs each command once, in turn; the table shows the
# median seconds of wall and of processor time (user and system), the median
# ratio to `wc -l` in the same round, and the peak resident memory.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
logs=10
rate=200
rounds=5
build=$here/../build
while [ $# -gt 0 ]; do
  case $1 in
    --logs) logs=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: $0 [--logs N] [--rate PER_SECOND] [--rounds N] [--build DIR]" >&2; exit 2 ;;
  esac
done
if [ ! -x "$build/stat/caplat-stat" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$build" -j --target caplat-stat > /dev/null
fi
stat=$build/stat/caplat-stat
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=bench/measure.sh
. "$here/measure.sh"

files=()
for ((i = 0; i < logs; i++)); do
  awk -v seed=$((i + 1)) -v n=$((rate * 1000)) -v span=1000 -v start=1700000000 \
    -f "$here/../tests/stat/hlog_gen.awk" | "$stat" -i 1s --hlog "$tmp/$i.hlog" > /dev/null || true
  files+=("$tmp/$i.hlog")
done
cat "${files[@]}" > /dev/null
bytes=$(cat "${files[@]}" | wc -c)
intervals=$(grep -hc '^[0-9]' "${files[@]}" | awk '{n += $1} END {print n}')

echo "$logs logs, $intervals intervals, $((bytes / 1000)) kB"
printf '%-34s %9s %9s %8s %8s\n' command seconds "cpu s" "x wc -l" "RSS MB"
names=("wc -l" "cat" "caplat-stat (summary)" "caplat-stat --hlog merged.hlog")
commands=("wc -l ${files[*]}" "cat ${files[*]}" "$stat ${files[*]}"
          "$stat --hlog $tmp/merged.hlog ${files[*]}")
run_rounds
for i in "${!commands[@]}"; do
  secs=$(awk '{print $1 / 1e6}' "$tmp/t.$i" | median)
  cpu=$(awk '{print $3}' "$tmp/t.$i" | median)
  printf '%-34s %9.3f %9.2f %8.2f %8.1f\n' "${names[$i]}" "$secs" "$cpu" \
    "$(ratio "$tmp/t.$i" "$tmp/t.0" 1)" "$(peak_mb "$tmp/t.$i")"
done
