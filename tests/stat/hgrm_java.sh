#!/usr/bin/env bash
# Compares caplat-stat --hgrm, byte for byte, with what the HdrHistogram Java
# library prints for the same latencies; skipped (77) without java, javac or
# the jar.
#   hgrm_java.sh CAPLAT_STAT HGRM_TOOL REFERENCE.java
set -u
stat=$1 tool=$2 reference=$3
jar=/usr/share/java/hdrhistogram.jar
if ! command -v java > /dev/null || ! command -v javac > /dev/null || [ ! -f "$jar" ]; then
  echo "no java, javac or $jar: skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The reference is compiled once; running the source each time would compile it each time.
javac -d "$work" -cp "$jar" "$reference" || exit 1
failed=0
sets=0

# Latencies in ns, one per line, on standard input: caplat-stat reads them as
# caplat's two-field output, the library records those from 0 to 1 hour. With
# DIGITS "pairs", "value count" pairs through the histogram alone instead, for
# counts no test could feed line by line. Standard input comes from a process
# substitution, not a pipe, so that the counts are kept in this shell.
compare() {
  local name=$1 digits=$2
  sets=$((sets + 1))
  cat > "$work/latencies"
  if [ "$digits" = pairs ]; then
    digits=3
    "$tool" "$digits" < "$work/latencies" > "$work/ours.hgrm"
  else
    # Times near 10^12 ns, which doubles hold exactly.
    awk '{ printf "%.0f %.0f\n", 1e12, 1e12 + $1 }' "$work/latencies" > "$work/input"
    "$stat" -d "$digits" --hgrm "$work/ours.hgrm" "$work/input" > /dev/null 2>&1
  fi
  java -cp "$work:$jar" HgrmReference "$digits" < "$work/latencies" > "$work/java.hgrm"
  if ! cmp -s "$work/java.hgrm" "$work/ours.hgrm"; then
    echo "FAIL: $name (-d $digits)"
    diff "$work/java.hgrm" "$work/ours.hgrm" | head -20
    failed=$((failed + 1))
  fi
}

skewed() { awk -v seed="$1" -v n="$2" 'BEGIN { srand(seed); for (i = 0; i < n; i++) printf "%.0f\n", exp(rand() * rand() * 28) }'; }

for digits in 3 1 2 4 5; do
  compare "skewed" "$digits" < <(skewed 1 20000)
done
compare "skewed, another seed" 3 < <(skewed 2 100000)
compare "narrow band around 25 ms" 3 < \
  <(awk 'BEGIN { srand(3); for (i = 0; i < 50000; i++) printf "%.0f\n", 20000000 + rand() * 10000000 }')
# Each power of two and its neighbours, up to 1 hour and beyond, and negatives.
compare "bucket edges" 3 < <(awk 'BEGIN { for (p = 1; p < 2 ^ 43; p *= 2) printf "%.0f\n%.0f\n%.0f\n", p - 1, p, p + 1 }'
  printf '%s\n' 3600000000000 3600000000001 -1 -5000000)
compare "empty" 3 < /dev/null
compare "a single value" 3 <<< 27000000
compare "a single zero" 3 <<< 0
compare "values ending in 5" 3 < <(awk 'BEGIN { for (i = 0; i < 1000; i++) print i * 1000 + 500 }')
compare "huge counts" pairs <<< $'1 3000000000000\n1000000 5000000000\n3600000000000 9000000000000000'
compare "a count past 2^31" pairs <<< $'4096 1\n2048 2147483648'

echo "hgrm: $((sets - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
