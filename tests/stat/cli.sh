#!/usr/bin/env bash
# End-to-end tests of caplat-stat, one row per case (see tests/support/table.sh).
#   cli.sh CAPLAT_STAT CAPLAT EXAMPLES
set -u
stat=$(realpath "$1")
caplat=$(realpath "$2")
examples=$(realpath "$3")
here=$(realpath "$(dirname "$0")")
program=$stat
# shellcheck source=../support/table.sh
. "$(dirname "$0")/../support/table.sh"

# The JSON summary of latencies that are all from 0 to 1 hour, none skipped:
#   j COUNT SPAN RATE MIN MEAN STDDEV MAX P50 P90 P99 P99.9 P99.99 NEGATIVE MOST STALE OVER MAXOVER SKIPPED
j() {
  printf '{"count":%s,"span_ns":%s,"messages_per_s":%s,"range_ns":[0,3600000000000],"in_range":%s,"min_ns":%s,"mean_ns":%s,"stddev_ns":%s,"max_ns":%s,"percentiles":{"50":%s,"90":%s,"99":%s,"99.9":%s,"99.99":%s},"negative":%s,"most_negative_ns":%s,"stale":%s,"over_hour":%s,"max_over_hour_ns":%s,"skipped_lines":%s,"digits":3,"confidence":95,"intervals":%s}\\n' "$@"
}
# The intervals of j: the mean's, then p50's and p90's where there are enough
# latencies for one.
iv() { printf '{"mean":%s,"50":%s,"90":%s,"99":%s,"99.9":%s,"99.99":%s}' "$1" "${2:-null}" "${3:-null}" "${4:-null}" "${5:-null}" "${6:-null}"; }
# The usage, as --help gives it first.
usage="$("$stat" --help | sed -n '1,/\[FILE \.\.\.\]/p')\n"
stdin='(standard input)'
e3='expected application and receive time in ns and a latency in ms'
e2='expected application and receive time in ns'
e1='expected a latency in ms'

# The three forms of caplat's output; the ms text is read as exact fixed point.
t "one field, fixed point" "" "--json" '1.500000\n-0.001500\n0.000001\n' \
  "$(j 3 null null 2 1 750000.500 749999.500 1500000 1 1500000 1500000 1500000 1500000 1 -1500 0 0 null 0 "$(iv null null '[1,null]' '[1499136,null]' '[1499136,null]' '[1499136,null]')")" "" 0 ""
t "two fields" "" "--json" '100 200\n300 250\n' \
  "$(j 2 50 40000000.0 1 100 100.000 0.000 100 100 100 100 100 100 1 -50 0 0 null 0 "$(iv null null null '[100,null]' '[100,null]' '[100,null]')")" "" 0 ""
t "three fields: the times give the latency" "" "--json" '1700000000123000000 1700000000150000000 27.000001\n' \
  "$(j 1 0 null 1 27000000 27000000.000 0.000 27000000 27000000 27000000 27000000 27000000 27000000 0 null 0 0 null 0 "$(iv null null null '[27000000,null]' '[27000000,null]' '[27000000,null]')")" "" 0 ""
t "the largest ms and time that fit, and one past each" "" "--json" \
  '9223372036854.775807\n9223372036854.775808\n-9223372036854.775807\n' \
  "$(j 2 null null 0 null null null null null null null null null 1 -9223372036854775807 1 1 9223372036854775807 1 "$(iv null)")" \
  "caplat-stat: $stdin:2: $e1\n" 1 ""
# Times are unsigned, as caplat prints them, and the latency is their
# difference modulo 2^64 read as signed, as caplat computes it.
t "times up to 2^64 - 1, the latency modulo 2^64" "" "--json" \
  '0 9223372036854775808\n18446744073709551615 0\n18446744073709551615 18446744073709551615\n18446744073709551616 0\n0 100000000000000000000\n' \
  "$(j 3 18446744073709551615 0.0 2 0 0.500 0.500 1 0 1 1 1 1 1 -9223372036854775808 0 0 null 2 "$(iv null null '[0,null]' '[1,null]' '[1,null]' '[1,null]')")" \
  "caplat-stat: $stdin:4: $e2\ncaplat-stat: $stdin:5: $e2\n" 1 ""
t "milliseconds of any length up to nine decimals, cut at the nanosecond" "" "--json" \
  '1.5\n-0.25\n2.000001\n0.123456789\n-9223372036854.775808\n1.1234567891\n2.\n' \
  "$(j 5 null null 3 123456 1207819.000 793466.062 2000001 1500159 2000001 2000001 2000001 2000001 2 -9223372036854775808 0 0 null 2 "$(iv null null '[123456,null]' '[1499136,null]' '[1999872,null]' '[1999872,null]')")" \
  "caplat-stat: $stdin:6: $e1\ncaplat-stat: $stdin:7: $e1\n" 1 ""
# caplat's own output of the sample log, through a pipe: figures checked
# against an independent computation (percentiles at the histogram's precision).
t "caplat -2 piped in" "" "--json < <(\"\$caplat\" -2 < \"\$examples/capture.log\" 2> /dev/null)" "" \
  "$(j 36 6673258730 5.4 36 3370454 368183059.972 2024674473.795 12346150017 29507583 38535167 12346150017 12346150017 12346150017 0 null 1 0 null 0 "$(iv null '[20561920,34406399]' '[37552128,12346150017]' '[38731776,null]' '[39452672,null]' '[12339642368,null]')")" \
  "" 0 ""
# Times of nineteen digits, read a line at a time in vectors, and the same
# times with a leading zero, read digit by digit, give the same figures.
t "the usual times and the same with twenty digits" \
  "\"\$caplat\" -2 < \"\$examples/capture.log\" 2> /dev/null > out; sed 's/^/0/; s/ / 0/' out > zeros" \
  "--json out > a; \"\$stat\" --json zeros > b" "" "" "" 0 "cmp a b && grep -q '\"count\":36,' a"
# The .hgrm layout, byte for byte as the Java library printed it once for
# these latencies, the eighth powers of 1 to 20 times 140 ns, up to an hour.
t ".hgrm as the Java library prints it" \
  "seq 20 | awk '{ printf \"0 %.0f%s\", \$1 ^ 8 * 140, ORS }' > in" \
  "--hgrm h in" "" "*" "" 0 "cmp h '$here/powers.hgrm'"

# Lines that cannot be read: reported, counted, skipped; status 1.
t "bad lines of each form" "" "--json" '1 2 3.00000\n1 2 x\n1 3 -0.000002\n4 5 1.000000 6\n' \
  "$(j 1 0 null 1 2 2.000 0.000 2 2 2 2 2 2 0 null 0 0 null 3 "$(iv null null null '[2,null]' '[2,null]' '[2,null]')")" \
  "caplat-stat: $stdin:1: $e3\ncaplat-stat: $stdin:2: $e3\ncaplat-stat: $stdin:4: $e3\n" 1 ""
t "the form waits for a line of one to three fields" "" "--json" '\n1 2 3 4\n5 6\n7\n' \
  "$(j 1 0 null 1 1 1.000 0.000 1 1 1 1 1 1 0 null 0 0 null 3 "$(iv null null null '[1,null]' '[1,null]' '[1,null]')")" \
  "caplat-stat: $stdin:1: expected one to three fields\ncaplat-stat: $stdin:2: expected one to three fields\ncaplat-stat: $stdin:4: $e2\n" 1 ""
t "a truncated last line" "" "--json" '1.000000\n2.000000' \
  "$(j 1 null null 1 1000000 1000000.000 0.000 1000000 1000000 1000000 1000000 1000000 1000000 0 null 0 0 null 1 "$(iv null null null '[1000000,null]' '[1000000,null]' '[1000000,null]')")" \
  "caplat-stat: $stdin:2: truncated line (no newline at the end)\n" 1 ""
bad='' reports=''
for i in {1..12}; do bad+='x\n'; done
for i in {1..10}; do reports+="caplat-stat: $stdin:$i: $e1\\n"; done
t "after ten reports, only the count" "" "--json" "${bad}1.000000\n" \
  "$(j 1 null null 1 1000000 1000000.000 0.000 1000000 1000000 1000000 1000000 1000000 1000000 0 null 0 0 null 12 "$(iv null null null '[1000000,null]' '[1000000,null]' '[1000000,null]')")" \
  "${reports}caplat-stat: 12 lines skipped in all\n" 1 ""
# A line longer than the reader's block of 1 MiB is one skipped line, wherever
# its newline falls against the blocks, from a file and from a pipe.
for end in $(seq $((2 * 1048576 - 6)) $((2 * 1048576 + 1))); do
  t "a line longer than a megabyte, ending at $end" \
    "head -c $((end - 1)) /dev/zero | tr -c 7 7 > long; printf '\n3.000000\n' >> long" "--json long - < long" "" \
    "$(j 2 null null 2 3000000 3000000.000 0.000 3000000 3000000 3000000 3000000 3000000 3000000 0 null 0 0 null 2 "$(iv null null '[3000000,null]' '[3000000,null]' '[3000000,null]' '[3000000,null]')")" \
    "caplat-stat: long:1: line longer than a megabyte\ncaplat-stat: $stdin:1: line longer than a megabyte\n" 1 ""
done

# Negative, 10 s or more, over 1 hour: counted apart, each with its share; the
# set of min to percentiles is 0 to 1 hour, both ends included.
acc='0 0\n1 0\n0 9999999999\n0 10000000000\n0 3600000000000\n0 3600000000001\n3 0\n'
t "accounting in the summary" "" "" "$acc" \
  'count          7\nspan           3600.000000001 s, 0.0 messages/s\n0 to 1 h       4 (57.1429 %%)\nmin            0.000000 ms\nmean           905000.000000 ms  (needs >= 150 messages)\nstddev         1555964.331211 ms\nmax            3600000.000000 ms\np50            10007.609343 ms  (needs >= 6 messages)\np90            3600000.000000 ms  (at least 9999.220736; needs >= 36 messages)\np99            3600000.000000 ms  (at least 9999.220736; needs >= 368 messages)\np99.9          3600000.000000 ms  (at least 3599182.594048; needs >= 3688 messages)\np99.99         3600000.000000 ms  (at least 3599182.594048; needs >= 36887 messages)\nnegative       2 (28.5714 %%), most negative -0.000003 ms\n10 s or more   3 (42.8571 %%)\nover 1 h       1 (14.2857 %%), largest 3600000.000001 ms\nskipped lines  0\n' \
  "" 0 ""
t "accounting in the interval rows and the .hgrm total" "" "-i 1h --csv rows --hgrm h" "$acc" "*" "" 0 \
  "grep -qx '0.000000000,4,10000.000000,10000.000000,10000.000000,10000.000000,10000.000000,1,1' rows &&
   grep -qx '3600.000000000,3,3600000.000000,3600000.000000,3600000.000000,3600000.000000,3600000.000001,1,2' rows &&
   grep -q 'Total count    =            4' h"

# Intervals of receive time: roll-over, empty rows for a gap, the last partial one.
iv='1000000000 1001000000\n1500000000 1520000000\n4000000000 4000000500\n4100000000 4050000000\n4200000000 14200000000\n'
t "interval rows" "" "-i 1s" "$iv" \
  'start_s,count,p50_ms,p90_ms,p99_ms,p99.9_ms,max_ms,negative,10s_or_more\n1.000000000,2,1.000447,20.000000,20.000000,20.000000,20.000000,0,0\n2.000000000,0,,,,,,0,0\n3.000000000,0,,,,,,0,0\n4.000000000,2,0.000500,0.000500,0.000500,0.000500,0.000500,1,0\n5.000000000,0,,,,,,0,0\n6.000000000,0,,,,,,0,0\n7.000000000,0,,,,,,0,0\n8.000000000,0,,,,,,0,0\n9.000000000,0,,,,,,0,0\n10.000000000,0,,,,,,0,0\n11.000000000,0,,,,,,0,0\n12.000000000,0,,,,,,0,0\n13.000000000,0,,,,,,0,0\n14.000000000,1,10000.000000,10000.000000,10000.000000,10000.000000,10000.000000,0,1\n' \
  "" 0 ""
t "interval rows in us, a receive time out of order joins the open interval" "" "-i 2.5s -u us" \
  '3000000000 3000001000\n2000000000 2000000002\n5000000000 5000000003\n' \
  'start_s,count,p50_us,p90_us,p99_us,p99.9_us,max_us,negative,10s_or_more\n2.500000000,2,0.002,1.000,1.000,1.000,1.000,0,0\n5.000000000,1,0.003,0.003,0.003,0.003,0.003,0,0\n' "" 0 ""
needs="-i and --hlog need receive times, and this input has one field"
t "-i needs receive times" "" "-i 1s" '1.000000\n' 'start_s,count,p50_ms,p90_ms,p99_ms,p99.9_ms,max_ms,negative,10s_or_more\n' \
  "caplat-stat: $stdin: $needs\n" 2 ""
t "--hlog needs receive times" "" "--hlog out.hlog" '1.000000\n' "*" "caplat-stat: $stdin: $needs\n" 2 \
  '[ "$(grep -vc "^#" out.hlog)" = 1 ]'
t "a later file without receive times ends the reading, the rows up to it written" "printf '1.000000\\n' > one" \
  "-i 1s - one" "$iv" "*" "caplat-stat: one: $needs\n" 2 '[ "$(wc -l < .stdout)" = 15 ]'
# A time far ahead, as one bad line may carry: up to a day of one-second
# intervals the empty ones get their rows, past that one row stands for them.
day=86400000000000
t "a gap of more than a day of intervals is one empty row, reported once" "" "-i 1s" \
  "0 1000000000\n0 $((2 * day + 1000000000))\n0 $((4 * day + 3000000000))\n0 18446744073709551615\n" \
  "*" "caplat-stat: no latency received from 2.000000000 s to 172801.000000000 s: one empty interval stands for the gap\n" 0 \
  '[ "$(cut -d, -f1 .stdout | tail -n +2 | paste -sd" ")" = "1.000000000 2.000000000 172801.000000000 172802.000000000 345603.000000000 345604.000000000 18446744073.000000000" ]'
t "a gap in an interval log and at 1 ns" "" "-i 1ns --hlog out.hlog --csv rows" "0 1\n0 18446744073709551615\n" "*" "*" 0 \
  '[ "$(grep -vc "^#" out.hlog)" = 4 ] && [ "$(wc -l < rows)" = 4 ]'
for last in 86402 86403; do
  t "a gap of $((last - 2)) one-second intervals" "" "-i 1s" "0 1000000000\n0 ${last}000000000\n" "*" "*" 0 \
    "[ \$(wc -l < .stdout) = \$(($last == 86402 ? 86403 : 4)) ]"
done
t "--csv leaves standard output to the summary" "" "-i 1s --csv rows" "$iv" "*" "" 0 \
  "[ \$(wc -l < rows) = 15 ] && grep -q '^count          5$' .stdout"

# Options.
t "-p and -u" "" "-p 0,25,100 -u ns" '0 5\n0 7\n0 9\n0 11\n' \
  'count          4\nspan           0.000000006 s, 666666666.7 messages/s\n0 to 1 h       4 (100.0000 %%)\nmin            5 ns\nmean           8 ns  (needs >= 150 messages)\nstddev         2 ns\nmax            11 ns\np0             5 ns\np25            5 ns  (at most 11; needs >= 13 messages)\np100           11 ns\nnegative       0 (0.0000 %%)\n10 s or more   0 (0.0000 %%)\nover 1 h       0 (0.0000 %%)\nskipped lines  0\n' "" 0 ""
t "picture labels without trailing zeros" "" "--svg p.svg" '0.000500\n0.050000\n' "*" "" 0 \
  "grep -q '>0.0001</text>' p.svg"
t "picture labels in us" "" "-u us --svg p.svg" '0.500000\n50.000000\n' "*" "" 0 \
  "grep -q '>p50 500.223 us</text>' p.svg && grep -q '>100000</text>' p.svg && grep -q '>latency (us, log scale)<' p.svg"
t "-h" "" "-h" "" "*" "" 0 "head -1 .stdout | grep -q '^usage: caplat-stat'"
# Every option of the manual's OPTIONS, with its letter and value, is one that
# --help lists, and the other way round.
man_options() {
  sed -n '/^\.Sh OPTIONS/,/^\.Sh [^O]/p' "$here/../../man/caplat-stat.1" | grep '^\.It Fl' | sed 's/\\-/-/g' |
    awk '{ s = l = a = ""; for (i = 2; i <= NF; i++) { if ($(i-1) == "Fl") { if ($i ~ /^-/) l = substr($i, 2); else s = $i }
           if ($(i-1) == "Ar" && a == "") a = $i } print s, l, a }' | sort
}
help_options() {
  "$stat" --help | grep -E '^  (-[a-z],|   ) --' |
    awk '{ s = ""; if ($1 ~ /,$/) { s = substr($1, 2, 1); $1 = "" } $0 = $0; a = $2 ~ /^[A-Z][A-Z.]*$/ ? tolower($2) : ""
           sub(/\..*/, "", a)
           print s, substr($1, 3), a }' | sort
}
t "the manual's options are --help's" "" "--version" "" "*" "" 0 '[ "$(man_options)" = "$(help_options)" ] && [ "$(man_options | wc -l)" = 24 ]'
t "--version" "" "--version" "" 'caplat-stat 1.0.0\n' "" 0 ""
t "a usage error names the value" "" "-d 6" "" "" "caplat-stat: digits must be 1 to 5: 6\n$usage" 2 ""
t "a missing value names its option" "" "-i" "" "" "caplat-stat: option needs a value: -i\n$usage" 2 ""
t "a usage error without a value" "" "-i 1s --json" "" "" \
  "caplat-stat: --json and the interval rows cannot share standard output\n$usage" 2 ""
t "an output on standard output takes the summary's place" "" "--hgrm -" '1.000000\n' "*" "" 0 \
  "head -1 .stdout | grep -q '^       Value' && ! grep -q '^count' .stdout"
t "a percentile asked for twice is given once" "" "--json -p 50,50.0,90,50" '1.000000\n' "*" "" 0 \
  "grep -q '\"percentiles\":{\"50\":1000000,\"90\":1000000},' .stdout"
for bad in "-x" "--bogus" "-d 0" "-d 3x" "-u min" "-p 101" "-p 50,,99" "-p -1" "-i 0s" "-i 1x" \
  "-i 0.0000000001s" "--csv rows" "--tag a,b" "--tag ''" "--csv - -i 1s --json" "--hgrm - --svg -" \
  "-i 1s --hlog -"; do
  t "usage error: $bad" "" "$bad" "" "" "*" 2 "tail -n +2 .stderr | cmp -s - <(printf '$usage')"
done

# Checks: one line each on standard error; status 3 if any fails.
three='0 1000000\n0 2000000\n0 3000000\n'
ck='caplat-stat: check'
figures='figures are pN, min, mean, max, count, negative, stale, over_hour, skipped'
units='units are ns, us, ms, s, m and h'
t "checks of each comparison" "" \
  "--check 'max<=3ms' --check 'max<3ms' --check 'count==3' --check 'count!=3' --check 'min>=1ms' --check 'mean>2ms' > /dev/null" \
  "$three" "" \
  "$ck max<=3ms: passed, max = 3.000000 ms\n$ck max<3ms: failed, max = 3.000000 ms\n$ck count==3: passed, count = 3\n$ck count!=3: failed, count = 3\n$ck min>=1ms: passed, min = 1.000000 ms\n$ck mean>2ms: failed, mean = 2.000000 ms (needs >= 150 messages)\n" 3 ""
t "checks in every unit, and shares of the count" "" \
  "--check 'max<0.004s' --check 'max<=3000us' --check 'max>2999999ns' --check 'p50<1m' --check 'min>0ns' --check 'negative==0' --check 'stale<=0%' --check 'negative>33.3%' > /dev/null" \
  '0 1000000\n0 2000000\n3 0\n' "" \
  "$ck max<0.004s: passed, max = 2.000000 ms\n$ck max<=3000us: passed, max = 2.000000 ms\n$ck max>2999999ns: failed, max = 2.000000 ms\n$ck p50<1m: passed, p50 = 1.000447 ms (needs >= 6 messages)\n$ck min>0ns: passed, min = 1.000000 ms\n$ck negative==0: failed, negative = 1\n$ck stale<=0%%: passed, stale = 0 (0.0000 %%)\n$ck negative>33.3%%: passed, negative = 1 (33.3333 %%)\n" 3 ""
t "a check of every interval names the first that fails" "" \
  "-i 1s --check 'interval.max<100ms' --check 'interval.count<=2' > /dev/null" \
  '1700000000000000000 1700000000050000000\n1700000001000000000 1700000001500000000\n1700000002000000000 1700000002300000000\n' "" \
  "$ck interval.max<100ms: failed in 2 of 3 intervals, first at 1700000001.000000000 s: max = 500.000000 ms\n$ck interval.count<=2: passed in 3 intervals\n" 3 ""
t "the rate counts every interval's messages" "" "-i 1s --csv /dev/null --json" \
  '1700000000000000000 1700000000050000000\n1700000001000000000 1700000001500000000\n1700000002000000000 1700000002300000000\n' \
  "*" "" 0 "grep -q '\"count\":3,\"span_ns\":2250000000,\"messages_per_s\":1.3,' .stdout"
t "every interval passing passes" "" "-i 1s --check 'interval.count<=2' > /dev/null" \
  '1700000000000000000 1700000000050000000\n1700000001000000000 1700000001500000000\n' "" \
  "$ck interval.count<=2: passed in 2 intervals\n" 0 ""
t "a check against the baseline, and a verdict" "printf '0 1000000\n0 2000000\n0 3000000\n' > base" \
  "--baseline base --check 'max<=1.5*baseline' --check 'max<=1.1*baseline' --check 'p50:not-higher' > /dev/null" \
  '0 1000000\n0 2000000\n0 4000000\n' "" \
  "$ck max<=1.5*baseline: passed, max = 4.000000 ms against the baseline's 3.000000 ms\n$ck max<=1.1*baseline: failed, max = 4.000000 ms against the baseline's 3.000000 ms\n$ck p50:not-higher: passed, p50 = 2.000895 ms (needs >= 6 messages) against 2.000895 ms (needs >= 6 messages): unknown\n" 3 ""
# Decisions at the edges. One message a side has no interval: the verdict is
# unknown and no verdict fails. A bound known decides where it separates: a
# thousand latencies of 5 s have no upper bound for p99.9 but a lower one far
# above the baseline's. Each verdict check reads its own direction.
t "one message a side: no verdict" "printf '0 5000000\n' > base" \
  "--baseline base --check 'mean:not-higher' --check 'p50:not-lower' > /dev/null" '0 5001000\n' "" \
  "$ck mean:not-higher: passed, mean = 5.001000 ms (needs >= 150 messages) against 5.000000 ms (needs >= 150 messages): unknown\n$ck p50:not-lower: passed, p50 = 5.001000 ms (needs >= 6 messages) against 5.000000 ms (needs >= 6 messages): unknown\n" 0 ""
t "a known lower bound decides, each verdict its direction" \
  "awk 'BEGIN { for (i = 0; i < 100000; i++) printf \"%.6f\\n\", 15 + (i * 7919 % 10000) / 1000 }' > base" \
  "--baseline base --check 'p99.9:not-higher' --check 'p50:not-higher' --check 'p50:not-lower' --check 'mean:not-lower' > /dev/null" \
  "$(awk 'BEGIN { for (i = 0; i < 1000; i++) printf "%.6f\\n", 4900 + (i * 7919 % 1000) / 5 }')" "" \
  "$ck p99.9:not-higher: failed, p99.9 = 5099.800000 ms (at least 5096.079360; needs >= 3688 messages) against 24.999000 ms [24.985600, 24.999000]: higher\n$ck p50:not-higher: failed, p50 = 5003.804671 ms [4991.221760, 5007.998975] against 20.004863 ms [19.955712, 20.037631]: higher\n$ck p50:not-lower: passed, p50 = 5003.804671 ms [4991.221760, 5007.998975] against 20.004863 ms [19.955712, 20.037631]: higher\n$ck mean:not-lower: passed, mean = 4999.900000 ms [4996.315469, 5003.484509] against 19.999500 ms [19.981608, 20.017392]: higher\n" 3 ""
# A latency check with nothing to check fails, per interval as for the run:
# an input without latencies, latencies all negative or all over an hour; an
# interval that received only a negative latency has no min (nor max) at
# all, whatever its count.
for input in "" "1700000000005000000 1700000000000000000\n" "1700000000000000000 1700007200000000000\n"; do
  t "interval checks with nothing to check: '$input'" "" "-i 1s --check 'interval.p99<=1ms' --check 'interval.max<=1ms' > /dev/null" \
    "$input" "" "*" 3 "grep -c 'failed.* from 0 to 1 h\$' .stderr | grep -qx 2"
done
t "interval.min of an interval with only a negative latency" "" "-i 1s --check 'interval.min>=0ns' --check 'interval.count>=1' > /dev/null" \
  '1700000000000000000 1700000000000500000\n1700000001005000000 1700000001000000000\n' "" \
  "$ck interval.min>=0ns: failed in 1 of 2 intervals, first at 1700000001.000000000 s: min = none from 0 to 1 h\n$ck interval.count>=1: passed in 2 intervals\n" 3 ""
t "p99 of no latency fails" "" "--check 'p99<=1ms' > /dev/null" '-5.000000\n' "" "$ck p99<=1ms: failed, no latency from 0 to 1 h\n" 3 ""

# --range: the latencies the figures and checks describe; stale ones beyond
# it still counted apart.
replays="$(for i in $(seq 200); do echo "0 $((25000000 + i * 1000))"; done; for i in 1 2 3; do echo "0 2${i}000000000"; done)"
t "--range leaves stale replays out of the figures" "" "--range 0..10s -p 50 --check 'max<=30ms' --check 'stale==3' 2> err" "$replays\n" \
  'count          203\nspan           22.974999000 s, 8.8 messages/s\n0 to 10 s      200 (98.5222 %%)\nmin            25.001000 ms\nmean           25.100500 ms  [25.092432, 25.108574]\nstddev         0.057734 ms\nmax            25.200000 ms\np50            25.100287 ms  [25.083904, 25.116671]\nnegative       0 (0.0000 %%)\n10 s or more   3 (1.4778 %%)\nover 1 h       0 (0.0000 %%)\nskipped lines  0\n' "" 0 \
  "grep -c passed err | grep -qx 2"
t "--range in JSON, and at its ends" "" "--json --range 25.1ms..25.2ms" "$replays\n" "*" "" 0 \
  "grep -q '\"range_ns\":\\[25100000,25200000\\],\"in_range\":101,' .stdout"
for bad in "10s..0|MIN must be below MAX" "5ms..5ms|MIN must be below MAX" "0..2h|the histogram holds latencies up to 1 h" \
  "0..10|a duration needs a unit; $units" "10s|expected MIN..MAX, as in 0..10s" "-1ms..1s|expected a duration, as in 50ms"; do
  t "bad range: ${bad%|*}" "" "--range ${bad%|*}" "" "" "caplat-stat: bad range (${bad#*|}): ${bad%|*}\n$usage" 2 ""
done
# A file that cannot be read comes before a failed check, which comes before
# a skipped line.
t "a failed check and a skipped line" "" "--check 'count>5' > /dev/null" "${three}x\n" "" \
  "caplat-stat: $stdin:4: $e2\n$ck count>5: failed, count = 3\n" 3 ""
t "a missing file refuses the run before its check" "" "--check 'count>5' - missing > /dev/null" "$three" "" \
  "caplat-stat: missing: No such file or directory\n" 2 ""
t "a pipeline from a capture log fails on its p99" "" \
  "--check 'p99<=1s' --check 'p50<=50ms' < <(\"\$caplat\" -2 < \"\$examples/capture.log\" 2> /dev/null) > /dev/null" "" "" \
  "$ck p99<=1s: failed, p99 = 12346.150017 ms (at least 38.731776; needs >= 368 messages)\n$ck p50<=50ms: passed, p50 = 29.507583 ms [20.561920, 34.406399]\n" 3 ""
for bad in "p99:expected a comparison, as in p99<=50ms" "p99<=:expected a duration, as in 50ms" \
  "p99<=50|a duration needs a unit; $units" "max<1mss|unknown unit; $units" "x<1ms|unknown figure; $figures" \
  "p101<1ms|unknown figure; $figures" "p<1ms|unknown figure; $figures" "p99 <= 60ms|no spaces in a check, as in p99<=50ms" \
  "count>=99999999999999999999|count out of range" "p99<=9223372036855s|duration out of range" "count>=1.5|expected a count" \
  "count<=1%:a share of what?" "p99=<1ms:unknown comparison" "max<=x*baseline:expected a factor, as in 1.05*baseline" \
  "min:not-higher|only the mean and percentiles have verdicts" "interval.mean<1s:not known per interval"; do
  [[ $bad == *"|"* ]] || bad=${bad/:/|}
  expr=${bad%%|*} what=${bad#*|}
  t "bad check: $expr" "" "--check '$expr'" "" "" "caplat-stat: bad check (${what//%/%%}): ${expr//%/%%}\n$usage" 2 ""
done
for need in "interval.p99<1s|a check of every interval needs -i" "p99:not-higher|a check against the baseline needs --baseline" \
  "p99<=2*baseline|a check against the baseline needs --baseline"; do
  t "a check that needs more: ${need%|*}" "" "--check '${need%|*}'" "" "" "caplat-stat: ${need#*|}: ${need%|*}\n$usage" 2 ""
done

# Against a baseline: a table of both, the change and the verdicts; JSON
# carries the baseline's summary, the changes and the verdicts.
t "a summary against its baseline" "printf '0 1000000\n0 3000000\n' > base" "--baseline base -p 50" '0 2000000\n0 4000000\n' \
  '               baseline     this run     change                    verdict\ncount          2            2            +0 (+0.00 %%)\n0 to 1 h       2            2            +0 (+0.00 %%)\nmin            1.000000 ms  2.000000 ms  +1.000000 ms (+100.00 %%)\nmean           2.000000 ms  3.000000 ms  +1.000000 ms (+50.00 %%)   unknown\nmax            3.000000 ms  4.000000 ms  +1.000000 ms (+33.33 %%)\np50            1.000447 ms  2.000895 ms  +1.000448 ms (+100.00 %%)  unknown\nnegative       0            0            +0\n10 s or more   0            0            +0\nover 1 h       0            0            +0\nskipped lines  0            0            +0\n' "" 0 ""
t "JSON against a baseline" "printf '0 1000000\n0 3000000\n' > base" "--json --baseline base -p 50" '0 2000000\n0 4000000\n' "*" "" 0 \
  "grep -q '\"baseline\":{\"count\":2,.*\"changes\":{\"mean\":1000000,\"50\":1000448},\"verdicts\":{\"mean\":\"unknown\",\"50\":\"unknown\"}}\$' .stdout"
# The ranks of p50 of 1 to 1,000 ms at 99.9 %, 448 and 553, are the exact
# binomial ones; the mean's is Student's t with 999 degrees.
t "--confidence" "seq 1000 | sed 's/$/.000000/' > in" "--json --confidence 99.9 -p 50 in" "" "*" "" 0 \
  "grep -q '\"confidence\":99.9,\"intervals\":{\"mean\":\\[470357530,530642470\\],\"50\":\\[447741952,553123839\\]}' .stdout"
for bad in 0 100 x 95% -5; do
  t "usage error: --confidence $bad" "" "--confidence $bad" "" "" \
    "caplat-stat: a confidence level is above 0 and below 100: ${bad//%/%%}\n$usage" 2 ""
done

# Files.
# A run refused for what is known before reading (a file that cannot be
# opened or is refused, caplat's input in place of its output, an input of a
# baseline) leaves every output as it was.
olds='for f in h s o c; do echo old > $f; done'
outputs='-i 1s --hgrm h --svg s --hlog o --csv c'
kept='for f in h s o c; do [ "$(cat $f)" = old ] || exit 1; done'
capture="caplat-stat: cap.log: this looks like a capture log: run caplat on it first\n"
t "a missing file" "$olds; printf '$three' > a" "$outputs a missing" "" "" 'caplat-stat: missing: No such file or directory\n' 2 "$kept"
t "a missing baseline" "$olds; printf '$three' > a" "$outputs --baseline missing a" "" "" \
  'caplat-stat: missing: No such file or directory\n' 2 "$kept"
t "a file compressed with xz" "$olds; printf '$three' | xz -c > in.xz" "$outputs in.xz" "" "" \
  'caplat-stat: in.xz: compressed with xz; decompress it first\n' 2 "$kept"
t "xz through a pipe" "$olds" "$outputs < <(printf '$three' | xz -c)" "" "" \
  'caplat-stat: (standard input): compressed with xz; decompress it first\n' 2 "$kept"
t "a capture log" "$olds; cp \"\$examples/capture.log\" cap.log" "$outputs cap.log" "" "" "$capture" 2 "$kept"
t "a capture log compressed with gzip" "$olds; gzip -c \"\$examples/capture.log\" > cap.log" "$outputs cap.log" "" "" \
  "$capture" 2 "$kept"
# Through a pipe, whose first bytes may be all there is for a while, a
# capture log is told from the lines at hand when its first line is read.
t "a capture log through a pipe" "" "-i 1s < <(cat \"\$examples/capture.log\")" "" "*" \
  'caplat-stat: (standard input): this looks like a capture log: run caplat on it first\n' 2 ""
t "files in turn, - is standard input" "echo '0 1' > a; echo 2.000000 > b" "--json a - b" '0 3\n' \
  "$(j 3 2 1000000000.0 3 1 666668.000 942808.099 2000000 3 2000000 2000000 2000000 2000000 0 null 0 0 null 0 "$(iv null null '[1,null]' '[3,null]' '[1999872,null]' '[1999872,null]')")" "" 0 ""
t "a read error ends the run, what was read is summed up" "mkdir d; echo 1.000000 > f" "--json f d f" "" \
  "$(j 1 null null 1 1000000 1000000.000 0.000 1000000 1000000 1000000 1000000 1000000 1000000 0 null 0 0 null 0 "$(iv null null null '[1000000,null]' '[1000000,null]' '[1000000,null]')")" \
  'caplat-stat: d: Is a directory\n' 2 ""
# Lines across the reader's blocks of 1 MiB, from a file and from a pipe: 16
# bytes long, they end where a block ends; 28 bytes long, they straddle it.
for width in 7 19; do
  t "lines of width $width across read blocks" \
    "awk 'BEGIN { for (i = 0; i < 200000; i++) printf \"%0${width}d %d\\n\", 1000000 + i, 1000000 + 2 * i }' > big" \
    "--json big <(cat big)" "" "*" "" 0 "grep -q '\"count\":400000,.*\"mean_ns\":99999.500,.*\"skipped_lines\":0' .stdout"
done
# caplat's output compressed with gzip or zstd reads as the plain output does,
# from a path, standard input and a pipe; cut short, what was read before is
# summed up. (Members, frames and damage: tests/source_test.cpp.)
two='0 1\n0 3\n'
both="$(printf "$two" | "$stat" --json)\n"
for c in "gzip -c" "zstd -q -c"; do
  t "$c from a path" "printf '$two' | $c > in" "--json in" "" "$both" "" 0 ""
  t "$c from standard input" "printf '$two' | $c > in" "--json - < in" "" "$both" "" 0 ""
  t "$c through a pipe" "" "--json < <(printf '$two' | $c)" "" "$both" "" 0 ""
done
# A zstd window beyond the 128 MiB read and a gzip header that sets a
# reserved flag are refused, each with its reason; zero bytes after the last
# gzip member are taken, as gzip takes them.
t "a zstd window beyond the limit is refused" "printf '$two' | zstd -q --long=31 > in.zst" "--json in.zst" "" "*" \
  'caplat-stat: in.zst: compressed with zstd in a window of 2048 MiB, larger than the 128 MiB read; decompress it first (zstd -d --memory=2048MB)\n' 2 ""
t "a reserved gzip flag is refused" \
  "printf '$two' | gzip -c > plain.gz; { head -c 3 plain.gz; printf '\\040'; tail -c +5 plain.gz; } > in.gz" "--json in.gz" "" "*" \
  'caplat-stat: in.gz: compressed with gzip, but its header sets reserved flags (0x20)\n' 2 ""
t "gzip and 512 zero bytes" "{ printf '$two' | gzip -c; head -c 512 /dev/zero; } > in.gz" "--json in.gz" "" "$both" "" 0 ""
t "zstd data cut short" "seq 100000 | sed 's/^/0 /' | zstd -q -c | head -c 20000 > in.zst" \
  "--json in.zst" "" "*" 'caplat-stat: in.zst: truncated zstd data\n' 2 "grep -q '^{\"count\":[1-9]' .stdout"
t "a full disk fails" "" "> /dev/full" '1.000000\n' "" 'caplat-stat: standard output: No space left on device\n' 2 ""
# An output that is also an input, or two outputs in one file, is refused
# before anything is opened for writing: outputs are truncated first.
lat='1000000000 1001000000\n'
for clash in "--hgrm lat lat:lat: is also an input, which it would overwrite" \
  "--svg ./lat - < lat:./lat: is also an input, which it would overwrite" \
  "--csv link -i 1s lat:link: is also an input, which it would overwrite" \
  "--hlog d/../new new:d/../new: is also an input, which it would overwrite" \
  "--svg x --hgrm ./x lat:x: is named for two outputs" \
  "--svg link --hgrm lat - < lat:lat: is also an input, which it would overwrite"; do
  t "refused: ${clash%%:*}" "printf '$lat' > lat; ln -s lat link; mkdir d" "${clash%%:*}" "" "" \
    "caplat-stat: ${clash#*:}\n" 2 "[ \"\$(cat lat)\" = '1000000000 1001000000' ] && [ ! -e new ] && [ ! -e x ]"
done
t "/dev/null takes every output" "" "--svg /dev/null --hgrm /dev/null" "$lat" "*" "" 0 ""
t "an output that cannot be opened" "" "--hgrm no/such/h" '1.000000\n' "" 'caplat-stat: no/such/h: No such file or directory\n' 2 ""
t "closed standard output fails" "" ">&-" '1.000000\n' "" 'caplat-stat: standard output: Bad file descriptor\n' 2 ""
t "closed standard error: no message lands in a file" "" "--hgrm h 2>&-" '1.000000\nx\n' "*" "" 1 \
  "! grep -q caplat-stat h"
# The sanitizers reserve more address space than any limit that would bite.
if ! grep -qa __asan_init "$stat"; then
  t "out of memory" "ulimit -v 40000" "-d 5 --svg o.svg" '1.000000\n' "" 'caplat-stat: out of memory\n' 1 ""
fi

# Interval logs. Their rows run beside a.txt and b.txt, caplat -2 output of
# two hosts, and their logs a.hlog and b.hlog.
logs=$work/logs
mkdir "$logs"
gen() { awk -v seed="$1" -v n=3000 -v span=20 -v start="$2" -f "$(dirname "$0")/hlog_gen.awk"; }
gen 1 1700000000 > "$logs/a.txt"
gen 2 1700000003 > "$logs/b.txt"
"$stat" -i 1s --hlog "$logs/a.hlog" "$logs/a.txt" > /dev/null
"$stat" -i 1s --hlog "$logs/b.hlog" "$logs/b.txt" > /dev/null
tl() { t "$1" "cp \"\$logs\"/* .; $2" "${@:3}"; }
# The interval starts of out.hlog, one line.
starts() { grep -v '^#' out.hlog | tail -n +2 | cut -d, -f1 | paste -sd' '; }
# The summary's counts and the percentiles below the maximum, which a log keeps
# exactly (the maximum itself only to the histogram's precision).
kept() { grep -E '^(count|0 to 1 h|p50|p90|p99 |p99.9 |negative|10 s|over 1 h)' "$1"; }

header='#[Histogram log format version 1.3]
#[StartTime: 1700000000.000 (seconds since epoch), Tue Nov 14 22:13:20 UTC 2023]
#[BaseTime: 1700000000.000 (seconds since epoch)]
"StartTimestamp","Interval_Length","Interval_Max","Interval_Compressed_Histogram"'
ms='1700000000%09d 1700000000%09d %s\n'
gap=$(printf "$ms" 0 1000000 1.000000)'
1700000001000000000 1700000001500000000 500.000000
1700000004250000000 1700000004250000007 0.000007'

# Writing: the header, one line per interval with gaps, at -i or 1 s.
tl "the 1.3 header" "" "--hlog out.hlog" "$gap\n" "*" "" 0 \
  '[ "$(head -4 out.hlog)" = "$header" ]'
for i in "-i 1s:0.000 1.000 2.000 3.000 4.000" ":0.000 1.000 2.000 3.000 4.000" \
  "-i 2s:0.000 2.000 4.000" "-i 1m:0.000" "-i 250ms:0.000 0.250 0.500 0.750 1.000 1.250 1.500 1.750 2.000 2.250 2.500 2.750 3.000 3.250 3.500 3.750 4.000 4.250"; do
  tl "interval starts with ${i%%:*}" "" "${i%%:*} --hlog out.hlog -" "$gap\n" "*" "" 0 \
    "[ \"\$(starts)\" = '${i#*:}' ]"
done
tl "the maximum in ms to three decimals, half up" "" "--hlog out.hlog" "$(printf "$ms" 0 1500 0.001500)\n" \
  "*" "" 0 'grep -q "^0.000,1.000,0.002,HIST" out.hlog'
tl "no input: the header alone" "" "--hlog out.hlog" "" "*" "" 0 '[ "$(wc -l < out.hlog)" = 4 ]'
tl "negative and over an hour on a comment" "" "--hlog out.hlog" \
  "$(printf "$ms" 200000000 100000000 -100.000000)\n1699996300000000000 1700000000000000000 3700000.000000\n" \
  "*" "" 0 'grep -qx "#\[Excluded: negative=1, min=-100000000, over=1, max=3700000000000\]" out.hlog'
tl "--tag marks every line" "" "--tag hostA --hlog out.hlog" "$gap\n" "*" "" 0 \
  '[ "$(grep -c "^Tag=hostA,[0-9]" out.hlog)" = 5 ]'
# A tag that selects no line of a log is reported with what the log holds;
# --hlog-tag tags what --hlog writes, an untagged log's lines among them.
lines=$(grep -c '^[0-9]' "$logs/a.hlog")
tl "--tag that selects nothing in an untagged log" "" "--tag hostA --json a.hlog" "" "*" \
  "caplat-stat: a.hlog: no line is tagged hostA (untagged: $lines, other tags: 0)\n" 0 \
  "grep -q '^{\"count\":0,' .stdout"
tl "--tag that selects nothing in a log of other tags" "\"\$stat\" --tag hostB --hlog b.hlog a.txt > /dev/null" \
  "--tag hostA --json a.hlog b.hlog" "" "*" \
  "caplat-stat: a.hlog: no line is tagged hostA (untagged: $lines, other tags: 0)\ncaplat-stat: b.hlog: no line is tagged hostA (untagged: 0, other tags: $lines)\n" 0 ""
tl "--hlog-tag tags an untagged log" "" "--hlog-tag hostA --hlog t.hlog a.hlog" "" "*" "" 0 \
  '[ "$(grep -c "^Tag=hostA,[0-9]" t.hlog)" = '"$lines"' ] && "$stat" --tag hostA t.hlog > tagged && "$stat" a.hlog | cmp - tagged'
tl "--hlog-tag renames the tag --tag reads" "\"\$stat\" --tag hostB --hlog b.hlog a.txt > /dev/null" \
  "--tag hostB --hlog-tag hostA --hlog t.hlog b.hlog" "" "*" "" 0 \
  '[ "$(grep -c "^Tag=hostA,[0-9]" t.hlog)" = '"$lines"' ] && ! grep -q hostB t.hlog'
tl "--hlog-tag needs --hlog" "" "--hlog-tag hostA a.hlog" "" "" "caplat-stat: --hlog-tag needs --hlog\n$usage" 2 ""
tl "--hlog to a full disk" "" "--hlog /dev/full a.txt" "" "*" \
  "caplat-stat: /dev/full: No space left on device\n" 2 ""

# Reading: logs merge into what one run over both hosts' output gives.
tl "two logs give the summary and the .hgrm of both" "" "--hgrm m.hgrm b.hlog a.hlog" "" "*" "" 0 \
  '"$stat" --hgrm t.hgrm a.txt b.txt > text && [ "$(kept .stdout)" = "$(kept text)" ] && cmp m.hgrm t.hgrm'
tl "a merged log is the union" "" "--hlog m.hlog a.hlog b.hlog" "" "*" "" 0 \
  '"$stat" m.hlog > merged && "$stat" a.hlog b.hlog > both && cmp merged both &&
   "$stat" a.txt b.txt > text && [ "$(kept merged)" = "$(kept text)" ]'
# From a log, the minimum and maximum are the ends of their histogram ranges,
# the mean their middles, and the span runs to the last interval's end.
tl "min, mean, max and span from a log" \
  "printf '1700000000000000000 1700000000010000000\\n1700000004000000000 1700000004010000000\\n' | \"\$stat\" --hlog ten.hlog > /dev/null" \
  "-p 50,100 ten.hlog" "" \
  'count          2\nspan           5.000000000 s, 0.4 messages/s\n0 to 1 h       2 (100.0000 %%)\nmin            9.994240 ms\nmean           9.998336 ms  (needs >= 150 messages)\nstddev         0.000000 ms\nmax            10.002431 ms\np50            10.002431 ms  (needs >= 6 messages)\np100           10.002431 ms\nnegative       0 (0.0000 %%)\n10 s or more   0 (0.0000 %%)\nover 1 h       0 (0.0000 %%)\nskipped lines  0\n' \
  "" 0 ""
tl "the picture of two logs has a point for every interval" "" "--svg p.svg a.hlog b.hlog" "" "*" "" 0 \
  '[ "$(grep "stroke=\"#1f5fbf\" stroke-width=\"1.5\" stroke-linecap" p.svg | grep -o h0 | wc -l)" = \
     "$("$stat" -i 1s a.hlog b.hlog | tail -n +2 | cut -d, -f3 | grep -c .)" ]'
tl "more logs than the soft limit on descriptors" "for i in {1..20}; do cp a.hlog \$i.hlog; done; ulimit -Sn 16" \
  "--json {1..20}.hlog" "" "*" "" 0 'grep -q "^{\"count\":60000," .stdout'
tl "a log on standard input from a file" "" "--hgrm m.hgrm - < a.hlog" "" "*" "" 0 \
  '"$stat" --hgrm t.hgrm a.txt > /dev/null && cmp m.hgrm t.hgrm'
tl "a log through a pipe" "" "--hgrm m.hgrm <(cat a.hlog) - < <(cat b.hlog)" "" "*" "" 0 \
  '"$stat" --hgrm t.hgrm a.txt b.txt > /dev/null && cmp m.hgrm t.hgrm'
tl "caplat output and a log together" "" "--hgrm m.hgrm a.txt b.hlog" "" "*" "" 0 \
  '"$stat" --hgrm t.hgrm a.txt b.txt > /dev/null && cmp m.hgrm t.hgrm'
# Logs compressed with gzip or zstd, or coming through a pipe, are copied to a
# temporary file and read as the plain ones.
for c in "gzip -c" "zstd -q -c"; do
  tl "a log compressed by $c" "$c < a.hlog > a.c" "--hgrm m.hgrm a.c b.txt" "" "*" "" 0 \
    '"$stat" --hgrm t.hgrm a.txt b.txt > /dev/null && cmp m.hgrm t.hgrm'
  tl "a log compressed by $c through a pipe" "" "--hgrm m.hgrm <($c < a.hlog) b.hlog" "" "*" "" 0 \
    '"$stat" --hgrm t.hgrm a.txt b.txt > /dev/null && cmp m.hgrm t.hgrm'
done
tl "a compressed log without a folder for its temporary file refuses the run" \
  "gzip -c < a.hlog > a.gz; export TMPDIR=\$PWD/missing" "--json a.gz b.hlog" "" "" \
  "caplat-stat: a.gz: cannot copy it into a temporary file: No such file or directory\n" 2 ""
tl "a compressed log cut short keeps its lines before" "gzip -c < a.hlog | head -c 2000 > a.gz" \
  "-i 1s a.gz" "" "*" "*" 2 '[ "$(tail -n +2 .stdout | head -n 3)" = "$("$stat" -i 1s a.hlog | tail -n +2 | head -n 3)" ] &&
   grep -qx "caplat-stat: a.gz: truncated gzip data" .stderr'
# The rows of caplat output and of logs, earlier or later, at their own times.
rows() { cut -d, -f1,2 "$1"; }
sort -n -k2,2 "$logs/a.txt" "$logs/b.txt" | "$stat" -i 1s | rows /dev/stdin > "$logs/rows"
tl "a log that starts before caplat's output" "" "-i 1s a.hlog b.txt" "" "*" "" 0 \
  '[ "$(rows .stdout)" = "$(cat rows)" ]'
tl "a log that starts after caplat's output" "" "-i 1s --hlog m.hlog a.txt b.hlog" "" "*" "" 0 \
  '[ "$(rows .stdout)" = "$(cat rows)" ] && "$stat" -i 1s m.hlog > merged && [ "$(rows merged)" = "$(cat rows)" ]'
tl "merging a log into itself is refused" "" "--hlog a.hlog a.hlog b.hlog" "" "" \
  "caplat-stat: a.hlog: is also an input, which it would overwrite\n" 2 'cmp a.hlog "$logs/a.hlog"'
# The same log a thousand times, with a line of 100 KiB: its readers hold a
# small block each, not their longest line.
if ! grep -qa __asan_init "$stat"; then
  tl "a thousand logs with long lines in little memory" \
    "grep -m5 -v '^#\\[Excluded' a.hlog > short.hlog; { head -c -1 short.hlog; head -c 102400 /dev/zero | tr '\\0' ' '; echo; } > long.hlog; ulimit -v 60000" \
    "--json \$(printf 'long.hlog %.0s' {1..1000})" "" "*" "" 0 \
    'n=$("$stat" --json short.hlog | cut -d, -f1); grep -q "^{\"count\":$((1000 * ${n#*:}))," .stdout'
fi

# Bad lines are reported with their file and line, and skipped.
good=$(grep -m1 '^[0-9]' "$logs/a.hlog")
for bad in "0.000,1.000,1.0,HIST!AAA:histogram is not base64" "x,1.000,1.0,${good##*,}:bad interval start time" \
  "0.000,1.000:not a histogram line" \
  "#[Excluded: negative=-1, min=0, over=0, max=0]:bad comment line"; do
  tl "bad line: ${bad##*:}" "{ echo '#[BaseTime: 0.000]'; echo '$good'; echo '${bad%:*}'; } > bad.hlog" \
    "--hlog out.hlog bad.hlog" "" "*" "caplat-stat: bad.hlog:3: ${bad##*:}\n" 1 '[ "$(grep -c "^[0-9]" out.hlog)" = 1 ]'
done

# A NUL byte is a byte of its line: after a comment that holds one, the next
# line is read; a histogram line that holds one is the only line skipped.
tl "a NUL byte in a comment" "{ echo '#[BaseTime: 0.000]'; printf '#x\\0\\n'; echo '$good'; } > nul.hlog" \
  "--json nul.hlog" "" "*" "" 0 "grep -q '^{\"count\":[1-9]' .stdout"
tl "a NUL byte in a histogram line" "{ echo '#[BaseTime: 0.000]'; printf '0.000,1.0\\0,'; echo '${good#*,*,}'; echo '$good'; } > nul.hlog" \
  "--hlog out.hlog nul.hlog" "" "*" "caplat-stat: nul.hlog:2: bad interval length\n" 1 '[ "$(grep -c "^[0-9]" out.hlog)" = 1 ]'

echo "cli: $((rows - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
