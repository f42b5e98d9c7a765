#!/usr/bin/env bash
# Renders caplat-stat's pictures with rsvg-convert and checks each PNG: its
# size, and that the curves' colours are drawn on it; skipped (77) without
# rsvg-convert, java or javac.
#   svg.sh CAPLAT_STAT
set -u
stat=$1
if ! command -v rsvg-convert > /dev/null || ! command -v java > /dev/null ||
  ! command -v javac > /dev/null; then
  echo "no rsvg-convert, java or javac: skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
javac -d "$work" "$(dirname "$0")/PixelCount.java" || exit 1
failed=0
rows=0

# check NAME WIDTH HEIGHT "COLOUR MIN..." with the picture in $work/p.svg.
check() {
  local name=$1 want_size="$2 $3"
  shift 3
  rows=$((rows + 1))
  local colours=() minimums=()
  while [ $# -gt 0 ]; do colours+=("$1"); minimums+=("$2"); shift 2; done
  if ! rsvg-convert "$work/p.svg" -o "$work/p.png"; then
    echo "FAIL: $name: rsvg-convert"; failed=$((failed + 1)); return
  fi
  mapfile -t found < <(java -cp "$work" PixelCount "$work/p.png" "${colours[@]}")
  local ok=1
  [ "${found[0]}" = "$want_size" ] || { echo "  size ${found[0]}, want $want_size"; ok=0; }
  for i in "${!colours[@]}"; do
    [ "${found[$((i + 1))]}" -ge "${minimums[$i]}" ] ||
      { echo "  ${found[$((i + 1))]} pixels of #${colours[$i]}, want at least ${minimums[$i]}"; ok=0; }
  done
  [ $ok = 1 ] || { echo "FAIL: $name"; failed=$((failed + 1)); }
}

# A minute of messages, a hundred a second, with a spike, a negative and a
# stale one.
awk 'BEGIN { srand(5); t = 1700000000000000000
  for (i = 0; i < 6000; i++) { t += 10000000; l = 20000000 + rand() * rand() * 10000000
    if (i == 3000) l = 900000000; if (i == 4000) l = -2000000; if (i == 5000) l = 12000000000
    printf "%.0f %.0f\n", t - l, t } }' > "$work/times"
# The percentile curve is blue; p50, p99 over time add blue and orange, the
# maximum a light red where it lies above p99, and the messages per interval
# grey bars.
"$stat" --svg "$work/p.svg" "$work/times" > /dev/null
check "percentiles and latency over time" 900 960 1f5fbf 800 e69f00 300 d2746a 20 7f8c8d 20000 000000 1000
"$stat" -i 5s --svg "$work/p.svg" "$work/times" > /dev/null
check "with -i" 900 960 1f5fbf 600 e69f00 200 d2746a 20 7f8c8d 20000
awk '{ printf "%.6f\n", ($2 - $1) / 1e6 }' "$work/times" | "$stat" --svg "$work/p.svg" > /dev/null
check "without receive times, the percentile curve alone" 900 450 1f5fbf 400 e69f00 0 000000 1000
# Against a baseline a tenth faster, its curve lies grey and dashed beneath,
# p99 is marked red as higher, and a panel of the change has its band.
awk '{ printf "%.0f %.0f\n", $2 - ($2 - $1) / 1.1, $2 }' "$work/times" > "$work/base"
"$stat" --baseline "$work/base" --svg "$work/p.svg" "$work/times" > /dev/null
check "against a baseline" 900 1240 1f5fbf 1200 888888 300 c0392b 30 d7e2f4 5000
: | "$stat" --svg "$work/p.svg" > /dev/null
check "no latency at all" 900 450 000000 500

echo "svg: $((rows - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
