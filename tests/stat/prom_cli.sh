#!/usr/bin/env bash
# End-to-end tests of caplat-stat's metrics: the text of --prom, the options of
# the exporter and their errors, one row per case (see tests/support/table.sh).
#   prom_cli.sh CAPLAT_STAT
set -u
stat=$(realpath "$1")
here=$(realpath "$(dirname "$0")")
program=$stat
# shellcheck source=../support/table.sh
. "$(dirname "$0")/../support/table.sh"
usage="$("$stat" --help | sed -n '1,/\[FILE \.\.\.\]/p')\n"

# Latencies of 0; 1 us, a bound, and 1 ns past it; 999,424 ns, a bound and
# the lowest value of its range of the histogram; 1 ms, a bound inside the
# next range, that range's last ns and the first of the range after; 10 s,
# one negative and one over an hour.
edges='2000000000 2000000000\n1000000000 1000001000\n1000000000 1000001001\n1000000000 1000999424\n1000000000 1001000000\n1000000000 1001000447\n1000000000 1001000448\n0 10000000000\n3000000000 2000000000\n0 3600000000001\n'
edge_buckets="--buckets 1us,999424ns,1ms,10ms,1s"
edges_prom='# HELP caplat_latency_seconds Latencies from 0 to 1 h (receive time minus application time) since the start; negative ones and those over 1 hour are counted apart. A latency read from the output of caplat counts in the bucket of the first bound at or above it; one of an interval log, known to the precision of its histogram, by the lowest value of its range.
# TYPE caplat_latency_seconds histogram
caplat_latency_seconds_bucket{host="a",le="1e-06"} 2
caplat_latency_seconds_bucket{host="a",le="0.000999424"} 4
caplat_latency_seconds_bucket{host="a",le="0.001"} 5
caplat_latency_seconds_bucket{host="a",le="0.01"} 7
caplat_latency_seconds_bucket{host="a",le="1"} 7
caplat_latency_seconds_bucket{host="a",le="+Inf"} 8
caplat_latency_seconds_sum{host="a"} 10.00400232
caplat_latency_seconds_count{host="a"} 8
# HELP caplat_messages_total Latencies read, one per message, whatever their value.
# TYPE caplat_messages_total counter
caplat_messages_total{host="a"} 10
# HELP caplat_negative_latencies_total Latencies below zero: clocks that disagree.
# TYPE caplat_negative_latencies_total counter
caplat_negative_latencies_total{host="a"} 1
# HELP caplat_stale_latencies_total Latencies of 10 s or more, stale or replayed data, those over 1 hour included.
# TYPE caplat_stale_latencies_total counter
caplat_stale_latencies_total{host="a"} 2
# HELP caplat_over_hour_latencies_total Latencies over 1 hour.
# TYPE caplat_over_hour_latencies_total counter
caplat_over_hour_latencies_total{host="a"} 1
# HELP caplat_skipped_lines_total Input lines that could not be read.
# TYPE caplat_skipped_lines_total counter
caplat_skipped_lines_total{host="a"} 0
# HELP caplat_last_receive_time_seconds The latest receive time read, in seconds since the epoch.
# TYPE caplat_last_receive_time_seconds gauge
caplat_last_receive_time_seconds{host="a"} 3600.000000001'
# Each latency read from caplat's output counts in the bucket of the first
# bound at or above it, exactly; from an interval log, which knows each only
# to its range of the histogram, at the first bound at or above the range's
# lowest value: the range's last ns counts at 1 ms.
t "the metrics of --prom, at the edges of a bucket" "" "--prom m.prom $edge_buckets --label host=a" \
  "$edges" "*" "" 0 'printf "%s\n" "$edges_prom" | cmp - m.prom'
t "from an interval log, by the lowest value of each range" "\"\$stat\" -i 1s --hlog e.hlog < .stdin > /dev/null" \
  "--prom m.prom $edge_buckets e.hlog" "$edges" "*" "" 0 \
  '[ "$(grep -o "le=\"[^\"]*\"} [0-9]*" m.prom | paste -sd" ")" = "le=\"1e-06\"} 2 le=\"0.000999424\"} 4 le=\"0.001\"} 6 le=\"0.01\"} 7 le=\"1\"} 7 le=\"+Inf\"} 8" ]'
# --range: the histogram holds the latencies in range alone; the counters
# keep every latency.
t "--range in the buckets and HELP" "" "--prom m.prom $edge_buckets --range 1ms..10ms" "$edges" "*" "" 0 \
  "grep -q '^# HELP caplat_latency_seconds Latencies from 1 ms to 10 ms (' m.prom &&
   grep -qx 'caplat_latency_seconds_bucket{le=\"0.000999424\"} 0' m.prom &&
   grep -qx 'caplat_latency_seconds_count 3' m.prom && grep -qx 'caplat_messages_total 10' m.prom"
t "the summary is printed as without --prom" "" "--prom m.prom" "$edges" "*" "" 0 '"$stat" < .stdin | cmp - .stdout'
# Bounds are written as Prometheus's clients and node_exporter write them.
# The preferred numbers of each decade, then the last steps to an hour.
series=$(for d in e-05 e-04 e-03 e-02 e-01 e+00 e+01 e+02; do
  for m in 1 1.25 1.6 2 2.5 3.15 4 5 6.3 8; do awk "BEGIN { printf \"%.6g\\n\", $m$d }"; done
done | tr '\n' ' ')
t "87 default buckets from 10 us to 1 hour" "" "--prom m.prom" "$edges" "*" "" 0 \
  '[ "$(grep -o "_bucket{le=\"[^\"]*" m.prom | cut -d\" -f2 | tr "\n" " ")" = "${series}1000 1250 1600 2000 2500 3150 3600 +Inf " ] &&
   grep -q "{le=\"1e-05\"} 3$" m.prom &&
   grep -q "{le=\"1.25e-05\"} 3$" m.prom && grep -q "{le=\"0.0001\"} 3$" m.prom &&
   grep -q "{le=\"3150\"} 8$" m.prom && grep -q "{le=\"3600\"} 8$" m.prom'
t "label values escaped, in the order given" "" "--prom m.prom --label 'b=a\"b\\c' --label a=é" '1.000000\n' "*" "" 0 \
  'grep -qF "caplat_messages_total{b=\"a\\\"b\\\\c\",a=\"é\"} 1" m.prom'
t "without receive times, no last receive time" "" "--prom m.prom" '1.000000\nx\n' "*" "*" 1 \
  '! grep -q last_receive m.prom && grep -qx "caplat_skipped_lines_total 1" m.prom'
t "no input: every count zero" "" "--prom m.prom" "" "*" "" 0 \
  'grep -qx "caplat_latency_seconds_count 0" m.prom && grep -qx "caplat_messages_total 0" m.prom'
# With -i, the last closed interval's quantiles as its row gives them; NaN
# when it had no latency from 0 to 1 hour.
quantiles() { grep '^caplat_interval_latency_seconds{' m.prom | cut -d' ' -f2 | paste -sd' '; }
t "the last interval's quantiles" "" "-i 1s --csv rows --prom m.prom" \
  '1000000000 1000000001\n1000000000 1003000000\n1000000000 1002000000\n' "*" "" 0 \
  '[ "$(quantiles)" = "0.002000895 0.003 0.003 0.003" ] && grep -q "# HELP caplat_interval_latency_seconds.*do not aggregate" m.prom'
t "NaN for an interval without latencies from 0 to 1 hour" "" "-i 1s --csv rows --prom m.prom" \
  '1000000000 1000000001\n3000000000 2000000000\n' "*" "" 0 '[ "$(quantiles)" = "NaN NaN NaN NaN" ]'
t "lint-clean by promtool, the interval quantiles a summary" "" "-i 1s --csv rows --prom m.prom --label host=a" \
  "$edges" "*" "" 0 'promtool check metrics < m.prom && grep -qx "# TYPE caplat_interval_latency_seconds summary" m.prom'
t "no interval quantiles without -i" "" "--hlog h --prom m.prom" '1000000000 1000000001\n' "*" "" 0 \
  '! grep -q caplat_interval m.prom'

# Whole milliseconds, at least 1 ms from every bound but those they equal:
# the buckets against a count of the latencies up to each bound.
t "bucket counts against a count of the latencies" \
  "awk 'BEGIN { for (i = 0; i < 5000; i++) printf \"0 %d\\n\", (i * 7919 % 200 + 1) * 1000000 }' > in" \
  "--prom m.prom --buckets 2ms,10ms,25ms,100ms,150ms,199ms in" "" "*" "" 0 \
  'for b in 2 10 25 100 150 199; do
     n=$(awk -v b=$b "\$2 <= b * 1000000" in | wc -l)
     grep -qx "caplat_latency_seconds_bucket{le=\"$(awk -v b=$b "BEGIN {print b / 1000}")\"} $n" m.prom || exit 1
   done'
# The buckets of two hosts add up to those of one run over both outputs.
awk -v seed=1 -v n=3000 -v span=20 -v start=1700000000 -f "$here/hlog_gen.awk" > "$work/a.txt"
awk -v seed=2 -v n=4000 -v span=20 -v start=1700000003 -f "$here/hlog_gen.awk" > "$work/b.txt"
counts() { grep -E '^caplat_[a-z_]+(_bucket\{le="[^"]*"\}|_total|_count) ' "$@" | sed 's/^[^:]*://'; }
t "the buckets of two runs add up to those of one over both" \
  "\"\$stat\" --prom a.prom \"\$work/a.txt\" > /dev/null && \"\$stat\" --prom b.prom \"\$work/b.txt\" > /dev/null" \
  "--prom ab.prom \"\$work/a.txt\" \"\$work/b.txt\"" "" "*" "" 0 \
  '[ "$(counts a.prom b.prom | awk "{n[\$1] += \$2} END {for (k in n) print k, n[k]}" | sort)" = "$(counts ab.prom | sort)" ] &&
   grep -qx "caplat_messages_total 7000" ab.prom'
t "from interval logs as from the output they were written from, with bounds at the tops of ranges" \
  "\"\$stat\" -i 1s --hlog a.hlog \"\$work/a.txt\" > /dev/null" "--prom m.prom --buckets 999935ns,2000895ns,10002431ns a.hlog" "" "*" "" 0 \
  '"$stat" --prom t.prom --buckets 999935ns,2000895ns,10002431ns "$work/a.txt" > /dev/null &&
   [ "$(counts m.prom | grep _bucket)" = "$(counts t.prom | grep _bucket)" ]'

# Only a regular file is replaced, or written through a symbolic link, by any
# name the folder can hold.
t "refused: a FIFO" "mkfifo p" "--prom p" '1.000000\n' "" 'caplat-stat: p: not a regular file\n' 2 '[ -p p ]'
# A device node of the test's own (as root): one of the system's would be lost
# if the test failed.
if [ "$(id -u)" = 0 ]; then
  t "refused: a device" "mknod null c 1 3" "--prom null" '1.000000\n' "" 'caplat-stat: null: not a regular file\n' 2 \
    '[ -c null ]'
fi
t "through a symbolic link, to its target" "mkdir d; echo old > d/m.prom; ln -s d/m.prom link" "--prom link" '1.000000\n' \
  "*" "" 0 '[ -L link ] && grep -qx "caplat_messages_total 1" d/m.prom && [ "$(ls -A d)" = m.prom ]'
t "a symbolic link to a FIFO" "mkfifo p; ln -s p link" "--prom link" '1.000000\n' "" \
  'caplat-stat: link: not a regular file\n' 2 '[ -p p ]'
long=$(printf "%0250d.prom" 0)
t "a name of 255 bytes" "" "--prom $long" '1.000000\n' "*" "" 0 "grep -qx 'caplat_messages_total 1' $long"

# The file is replaced whole, with the mode open(2) would give it.
t "the file's mode follows the umask, no temporary file is left" "umask 027" "--prom m.prom" '1.000000\n' "*" "" 0 \
  '[ "$(stat -c %a m.prom)" = 640 ] && ! ls -A | grep -q "^\.m\.prom"'
t "an existing file is replaced" "echo old > m.prom; ln m.prom link" "--prom m.prom" '1.000000\n' "*" "" 0 \
  'grep -q caplat_messages_total m.prom && [ "$(cat link)" = old ]'
# What refuses the file, or the address, is known before reading: every
# output is left as it was.
olds='for f in h s o c; do echo old > $f; done'
outputs='-i 1s --hgrm h --svg s --hlog o --csv c'
kept='for f in h s o c; do [ "$(cat $f)" = old ] || exit 1; done'
t "a folder that does not exist" "$olds" "--prom no/such/m.prom $outputs" '1.000000\n' "" \
  'caplat-stat: no/such/m.prom: No such file or directory\n' 2 "$kept"
t "a folder in the file's place" "mkdir m.prom; $olds" "--prom m.prom $outputs" '1.000000\n' "" \
  'caplat-stat: m.prom: Is a directory\n' 2 '[ "$(ls -A m.prom)" = "" ] && ! ls -A | grep -q "^\.caplat"'" && $kept"
# A port that another program listens on, until this script ends (or for 5
# minutes at most).
exec {taken}< <(python3 -c 'import os, socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen()
print(s.getsockname()[1], flush=True); sys.stdout.close()
parent, end = os.getppid(), time.time() + 300
while os.getppid() == parent and time.time() < end: time.sleep(0.2)')
read -r -u "$taken" port
t "a port taken" "$olds" "--listen $port $outputs" '1000000000 1001000000\n' "" \
  "caplat-stat: 127.0.0.1:$port: Address already in use\n" 2 "$kept"
t "refused: --prom over an input" "printf '1.000000\\n' > in" "--prom in in" "" "" \
  'caplat-stat: in: is also an input, which it would overwrite\n' 2 '[ "$(cat in)" = 1.000000 ]'

# An address that cannot be served is reported before any reading.
t "an address of another machine" "" "--listen 192.0.2.1:9477" '1.000000\n' "" \
  'caplat-stat: 192.0.2.1:9477: Cannot assign requested address\n' 2 ""
# Without IPv6 the reason differs ("Address family not supported by
# protocol"); the address is named as given either way.
t "an IPv6 address named in brackets" "" "--listen [2001:db8::1]:9477" '1.000000\n' "" "*" 2 \
  '[ "$(wc -l < .stderr)" = 1 ] && grep -q "^caplat-stat: \[2001:db8::1\]:9477: [A-Z]" .stderr'

# Usage errors name what is wrong.
name_rule="a label's name is letters, digits and underscores, not starting with a digit or __"
value_rule="a label's value must be UTF-8 text, not empty"
bucket_rule="bad bucket list (increasing durations up to 1h)"
for bad in "--listen x|expected [HOST:]PORT: x" "--listen 0|expected [HOST:]PORT: 0" \
  "--listen 65536|expected [HOST:]PORT: 65536" "--listen :80|expected [HOST:]PORT: :80" \
  "--listen host:|expected [HOST:]PORT: host:" "--listen ::1:80|expected [HOST:]PORT: ::1:80" \
  "--listen 08x|expected [HOST:]PORT: 08x" "--prom -|--prom needs a file: -" \
  "--prom m --label 1a=b|$name_rule: 1a=b" "--prom m --label __a=b|$name_rule: __a=b" \
  "--prom m --label a-b=c|$name_rule: a-b=c" "--prom m --label le=1|le and quantile are taken: le=1" \
  "--prom m --label quantile=1|le and quantile are taken: quantile=1" \
  "--prom m --label a|a label is NAME=VALUE: a" "--prom m --label a=|$value_rule: a=" \
  "--prom m --label a=\$'\\xff'|$value_rule: a=\\377" \
  "--prom m --label a=\$'\\xed\\xa0\\x80'|$value_rule: a=\\355\\240\\200" \
  "--prom m --label a=1 --label a=2|a label is given twice: a=2" \
  "--prom m --buckets 1ms,1ms|$bucket_rule: 1ms,1ms" "--prom m --buckets 2ms,1ms|$bucket_rule: 2ms,1ms" \
  "--prom m --buckets 1ms,,2ms|$bucket_rule: 1ms,,2ms" "--prom m --buckets 61m|$bucket_rule: 61m" \
  "--prom m --buckets 0s|$bucket_rule: 0s" "--listen 9477 --linger 0s|bad duration: 0s" \
  "--linger 1s|--linger needs --listen" "--label a=b|--label and --buckets need --listen or --prom" \
  "--buckets 1ms|--label and --buckets need --listen or --prom"; do
  t "usage error: ${bad%%|*}" "" "${bad%%|*}" "" "" "caplat-stat: ${bad#*|}\n$usage" 2 ""
done

echo "prom_cli: $((rows - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
