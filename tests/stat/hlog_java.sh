#!/usr/bin/env bash
# caplat-stat's interval logs against HdrHistogram's Java library: the
# library's log processor reads what caplat-stat writes and finds the same
# percentile distribution (as text and as CSV), and caplat-stat reads the logs
# the library writes (format 1.3 and 1.2, tagged lines among them) and prints
# the library's distribution. Skipped without java and the library.
# Usage: hlog_java.sh CAPLAT-STAT
set -uo pipefail
stat=$1
here=$(dirname "$0")
jar=/usr/share/java/hdrhistogram.jar
if ! command -v java > /dev/null || [ ! -f "$jar" ]; then
  echo "skipped: needs java and $jar"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0
# Compares two files, which must not be empty.
same() {
  if ! diff -u "$2" "$3" > "$dir/diff" || [ ! -s "$3" ]; then
    echo "FAIL: $1"
    head -30 "$dir/diff"
    failed=1
  fi
}
processor() { java -cp "$jar" org.HdrHistogram.HistogramLogProcessor "$@" > /dev/null; }
# The rows of a distribution, in text or CSV: value, percentile, count.
rows() { awk -F '[ ,]+' '{ sub(/^ +/, "") } /^[0-9]/ { print $1, $2, $3 }' "$1"; }

for seed in 1 2; do
  awk -v seed=$seed -v n=20000 -v span=30 -v start=1700000000 -f "$here/hlog_gen.awk" > "$dir/in.txt"
  "$stat" -i 1s --hlog "$dir/out.hlog" --hgrm "$dir/out.hgrm" "$dir/in.txt" > /dev/null
  processor -i "$dir/out.hlog" -o "$dir/java"
  # The processor's distribution follows two lines of its own.
  tail -n +3 "$dir/java.hgrm" > "$dir/java.rows"
  same "seed $seed: the processor's distribution" "$dir/java.rows" "$dir/out.hgrm"
  processor -csv -i "$dir/out.hlog" -o "$dir/javacsv"
  rows "$dir/javacsv.hgrm" > "$dir/java.rows"
  rows "$dir/out.hgrm" > "$dir/out.rows"
  same "seed $seed: the processor's distribution as CSV" "$dir/java.rows" "$dir/out.rows"
done

if ! command -v jshell > /dev/null; then
  echo "skipped: reading the Java library's logs needs jshell"
  exit $failed
fi
awk -v seed=3 -v n=20000 -v span=30 -v start=1700000000 -v pairs=1 -f "$here/hlog_gen.awk" > "$dir/pairs.txt"
HLOG_IN=$dir/pairs.txt HLOG_OUT=$dir/java.hlog HGRM_ALL=$dir/all.hgrm HGRM_B=$dir/b.hgrm \
  jshell --class-path "$jar" "$here/hlog_writer.jsh" > /dev/null 2>&1
"$stat" --hgrm "$dir/out.hgrm" "$dir/java.hlog" > /dev/null
same "the library's 1.3 log" "$dir/all.hgrm" "$dir/out.hgrm"
"$stat" --tag B --hgrm "$dir/out.hgrm" "$dir/java.hlog" > /dev/null
same "the library's 1.3 log, tag B" "$dir/b.hgrm" "$dir/out.hgrm"
# Format 1.2 had no base time: the times are relative to the start time.
sed -e 's/version 1.3/version 1.2/' -e '/^#\[BaseTime/d' "$dir/java.hlog" > "$dir/java12.hlog"
"$stat" --hgrm "$dir/out.hgrm" "$dir/java12.hlog" > /dev/null
same "the library's log as format 1.2" "$dir/all.hgrm" "$dir/out.hgrm"
[ $failed = 0 ] && echo "all Java comparisons passed"
exit $failed
