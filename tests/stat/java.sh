#!/usr/bin/env bash
# caplat-stat against HdrHistogram's Java library, byte for byte: the .hgrm
# distribution of the same latencies at each digits setting; the library's log
# processor reading caplat-stat's interval logs, as text and as CSV; and
# caplat-stat reading the library's logs (format 1.3 and 1.2, tag B, counts
# past 2^31). Skipped (77) without java, javac or the jar.
#   java.sh CAPLAT_STAT REFERENCE.java
set -u
stat=$1
jar=/usr/share/java/hdrhistogram.jar
if ! command -v java > /dev/null || ! command -v javac > /dev/null || [ ! -f "$jar" ]; then
  echo "no java, javac or $jar: skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The reference is compiled once; running the source each time would compile it each time.
javac -d "$work" -cp "$jar" "$2" || exit 1
failed=0
checks=0

# same NAME WANT GOT: the files are equal and GOT is not empty.
same() {
  checks=$((checks + 1))
  if ! diff -u "$2" "$3" > "$work/diff" || [ ! -s "$3" ]; then
    echo "FAIL: $1"
    head -30 "$work/diff"
    failed=$((failed + 1))
  fi
}
# reference DIGITS LOG < LINES: the library's interval log of the lines in LOG,
# their distribution in java.hgrm.
reference() { java -cp "$work:$jar" JavaReference "$1" "$2" > "$work/java.hgrm"; }

# Latencies in ns, one per line, on standard input, as caplat's lines at times
# near 10^12 ns, which doubles hold exactly.
hgrm() {
  awk '{ printf "%.0f %.0f\n", 1e12, 1e12 + $1 }' > "$work/input"
  "$stat" -d "$2" --hgrm "$work/ours.hgrm" "$work/input" > /dev/null 2>&1
  reference "$2" /dev/null < "$work/input"
  same "$1 (-d $2)" "$work/java.hgrm" "$work/ours.hgrm"
}
skewed() { awk -v seed="$1" -v n="$2" 'BEGIN { srand(seed); for (i = 0; i < n; i++) printf "%.0f\n", exp(rand() * rand() * 28) }'; }

for digits in 3 1 2 4 5; do
  hgrm "skewed" "$digits" < <(skewed 1 20000)
done
hgrm "skewed, another seed" 3 < <(skewed 2 100000)
hgrm "narrow band around 25 ms" 3 < \
  <(awk 'BEGIN { srand(3); for (i = 0; i < 50000; i++) printf "%.0f\n", 20000000 + rand() * 10000000 }')
# Each power of two and its neighbours, up to 1 hour and beyond, and negatives.
hgrm "bucket edges" 3 < <(awk 'BEGIN { for (p = 1; p < 2 ^ 43; p *= 2) printf "%.0f\n%.0f\n%.0f\n", p - 1, p, p + 1 }'
  printf '%s\n' 3600000000000 3600000000001 -1 -5000000)
hgrm "empty" 3 < /dev/null
hgrm "a single value" 3 <<< 27000000
hgrm "a single zero" 3 <<< 0
hgrm "values ending in 5" 3 < <(awk 'BEGIN { for (i = 0; i < 1000; i++) print i * 1000 + 500 }')

# caplat -2 lines from seed, with a gap, clock skew, stale and over-an-hour latencies.
lines() { awk -v seed="$1" -v n=20000 -v span=30 -v start=1700000000 -f "$(dirname "$0")/hlog_gen.awk"; }
processor() { java -cp "$jar" org.HdrHistogram.HistogramLogProcessor "$@" > /dev/null; }
# The rows of a distribution, in text or CSV: value, percentile, count.
rows() { awk -F '[ ,]+' '{ sub(/^ +/, "") } /^[0-9]/ { print $1, $2, $3 }' "$1"; }
for seed in 1 2; do
  lines $seed > "$work/input"
  "$stat" -i 1s --hlog "$work/ours.hlog" --hgrm "$work/ours.hgrm" "$work/input" > /dev/null
  processor -i "$work/ours.hlog" -o "$work/processor"
  # The processor's distribution follows two lines of its own.
  tail -n +3 "$work/processor.hgrm" > "$work/processor.rows"
  same "seed $seed: the processor's distribution" "$work/processor.rows" "$work/ours.hgrm"
  processor -csv -i "$work/ours.hlog" -o "$work/processor"
  rows "$work/processor.hgrm" > "$work/processor.rows"
  rows "$work/ours.hgrm" > "$work/ours.rows"
  same "seed $seed: the processor's distribution as CSV" "$work/processor.rows" "$work/ours.rows"
done

# ours NAME LOG [OPTION...]: caplat-stat reads the library's LOG and prints java.hgrm.
ours() {
  "$stat" "${@:3}" --hgrm "$work/ours.hgrm" "$2" > /dev/null
  same "$1" "$work/java.hgrm" "$work/ours.hgrm"
}
lines 3 | cut -d " " -f 1,2 > "$work/input"
reference 3 "$work/java.hlog" < "$work/input"
ours "the library's 1.3 log" "$work/java.hlog"
# A NUL byte in the column header line is a byte of that line: the first
# interval after it is read too.
perl -pe 's/"Interval_Length"/"Interval\0_Length"/' "$work/java.hlog" > "$work/nul.hlog"
ours "the library's log with a NUL byte in its column header" "$work/nul.hlog"
# Format 1.2 had no base time: the times are relative to the start time.
sed -e 's/version 1.3/version 1.2/' -e '/^#\[BaseTime/d' "$work/java.hlog" > "$work/java12.hlog"
ours "the library's log as format 1.2" "$work/java12.hlog"
# Tag B holds the odd seconds of receive time.
awk 'substr($2, 1, length($2) - 9) % 2' "$work/input" | reference 3 /dev/null
ours "the library's 1.3 log, tag B" "$work/java.hlog" --tag B
# Counts no input could give line by line, as many as an interval may hold:
# 10^12 of 1 ns, past 2^31 of 1 ms and two million of an hour.
reference 3 "$work/java.hlog" <<< "1700000000000000000 1700000000000000001 1000000000000
1700000000000000000 1700000000001000000 5000000000
1699996400000000000 1700000000000000000 2000000"
ours "huge counts from the library's log" "$work/java.hlog"
reference 3 "$work/java.hlog" <<< $'1700000000000000000 1700000000000004096 1\n1700000000000000000 1700000000000002048 2147483648'
ours "a count past 2^31 from the library's log" "$work/java.hlog"

echo "Java: $((checks - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
