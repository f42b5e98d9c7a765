#!/usr/bin/env bash
# End-to-end tests of --clock and --deskew on inputs generated with known
# clocks (clockgen), one row per case (see tests/support/table.sh).
#   clock_cli.sh CAPLAT_STAT CLOCKGEN
set -u
stat=$(realpath "$1")
gen=$(realpath "$2")
program=$stat
# shellcheck source=../support/table.sh
. "$(dirname "$0")/../support/table.sh"

# Twenty minutes at 200 messages a second, a drift of 25 ppm and a step of
# 3 ms at 600 s; the fourth field is the true latency without them.
hour="\"\$gen\" --drift 25 --step 600:3 --rate 200 --duration 1200 --seed 3 --truth > t; cut -d' ' -f1,2 t > in"
# The drift within 0.05 ppm, the step within 2 s and 0.2 ms, read off the
# summary's lines.
found='awk "/^clock/ { d = \$4 + 0 } /^step/ { n++; t = \$4 + 0; s = substr(\$6, 1) + 0 }
  END { exit !(d > 24.95 && d < 25.05 && n == 1 && t > 1700000598 && t < 1700000602 && s > 2.8 && s < 3.2) }" .stdout'
t "drift and a step found" "$hour" "--clock -p 50 in" "" "*" "" 0 "$found"
t "the same through a pipe and compressed" "$hour; gzip -c in > in.gz" "--clock -p 50 - in.gz < in" "" "*" "" 0 \
  '[ "$(grep -c "^clock .*drift +25.00" .stdout)" = 2 ]'
# Deskewed, the percentiles are those of the true latencies, within 1 %.
truth='awk "{ printf \"%.6f\\n\", \$4 / 1e6 }" t | "$stat" -p 50,99,99.9 > truth &&
  paste <(grep "^p" .stdout) <(grep "^p" truth) |
  awk "{ r = \$2 / \$7; if (r < 0.99 || r > 1.01) bad = 1 } END { exit bad }"'
t "deskewed percentiles against the truth" "$hour" "--deskew -p 50,99,99.9 in" "" "*" "" 0 "$truth"
t "deskewed through a pipe as from a file" "$hour" "--deskew --clock --json - < in > a; \"\$stat\" --deskew --clock --json in > b" \
  "" "" "" 0 'sed "s/(standard input)/in/" a | cmp - b && grep -q "\"deskewed\":true,\"clock\":\[{\"input\":\"in\",\"drift_ppm\":25.0" b'
t "no step in heavy-tailed jitter" "\"\$gen\" --rate 200 --duration 600 --jitter pareto --seed 5 > in" "--clock in" "" "*" "" 0 \
  '! grep -q "^step" .stdout && grep -q "^clock          in: drift 0.0000 ppm" .stdout'
t "too few messages" "\"\$gen\" --rate 10 --duration 10 > in" "--clock --json in" "" "*" "" 0 \
  'grep -q "\"clock\":\[{\"input\":\"in\",\"drift_ppm\":null,\"drift_bound_ppm\":null,\"floor_ms\":null,\"steps\":null,\"drift_unknown\":\"too few messages: 120; needs at least 512\"" .stdout'
t "no receive times" "" "--clock" '1.000000\n' "*" "" 0 \
  'grep -qx "clock          (standard input): unknown, this input has no receive times" .stdout'
t "an interval log" "\"\$gen\" --rate 10 --duration 10 | \"\$stat\" --hlog h.hlog > /dev/null" "--clock --deskew h.hlog" "" "*" "" 0 \
  'grep -qx "clock          h.hlog: unknown, an interval log holds no time of each message" .stdout'
t "the floor and the step in the picture" "$hour" "--clock --svg p.svg in" "" "*" "" 0 \
  'grep -q ">floor</text>" p.svg && grep -q ">step +2.99" p.svg'
t "a baseline deskewed too" "$hour" "--deskew --baseline in -p 50 in" "" "*" "" 0 \
  'grep -q "^p50 .*same$" .stdout && grep -q "^deskewed       baseline drift" .stdout'

echo "clock_cli: $((rows - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
