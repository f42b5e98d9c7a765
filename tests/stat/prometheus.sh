#!/usr/bin/env bash
# caplat-stat's metrics in a real Prometheus and a real node_exporter, on
# 127.0.0.1 only. Prometheus scrapes two caplat-stat processes, two "hosts"
# fed two different generated logs, every second; once both inputs are done,
# its HTTP API must give what one caplat-stat run over both logs gives.
# node_exporter's textfile collector serves a --prom file's series as they
# are. Skips (77) without prometheus, prometheus-node-exporter, curl or
# python3.
#   prometheus.sh CAPLAT_STAT
set -u
# shellcheck source=../support/await.sh
. "$(dirname "$0")/../support/await.sh"
for program in prometheus prometheus-node-exporter curl python3; do
  command -v "$program" > /dev/null || { echo "no $program"; exit 77; }
done
stat=$(realpath "$1")
here=$(realpath "$(dirname "$0")")
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2> /dev/null; wait; rm -rf "$work"' EXIT
cd "$work" || exit 1
checks=0
failed=0
# Counts a check: $1 names it, the rest is the command that must succeed.
check() {
  checks=$((checks + 1))
  "${@:2}" || { failed=$((failed + 1)); echo "FAIL: $1"; }
}
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# Prometheus's answer to the instant query $1, one series a line: its labels
# as name=value, sorted, then its value.
query() {
  curl -s -G --data-urlencode "query=$1" "http://127.0.0.1:$prometheus_port/api/v1/query" |
    python3 -c 'import json, sys
answer = sys.stdin.read()
for s in json.loads(answer)["data"]["result"] if answer.startswith("{") else []:
    print(" ".join(sorted(k + "=" + v for k, v in s["metric"].items() if k != "__name__")), s["value"][1])'
}
# The series of exposition text in file $1 whose names start with caplat_, one
# a line: name, labels sorted, and the value as a number, so that texts that
# write them differently compare alike.
series() {
  python3 - "$1" << 'EOF'
import re, sys
for line in open(sys.argv[1]):
    m = re.match(r'(caplat_\w+)(?:\{(.*)\})? (\S+)$', line)
    if m:
        labels = sorted(re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', m.group(2) or ""))
        print(m.group(1), ",".join(k + "=" + v for k, v in labels), repr(float(m.group(3))))
EOF
}

# Two hosts' caplat -2 output, with negative, stale and over-an-hour latencies;
# host a's also holds a latency on every default bound and one 1 ns above.
awk -v seed=11 -v n=20000 -v span=30 -v start=1700000000 -f "$here/hlog_gen.awk" > a.txt
awk -v seed=12 -v n=30000 -v span=30 -v start=1700000010 -f "$here/hlog_gen.awk" > b.txt
"$stat" --prom bounds.prom < /dev/null > /dev/null
bounds() { sed -n 's/^caplat_latency_seconds_bucket{le="\([^"+]*\)"}.*/\1/p' bounds.prom; }
bounds | python3 -c 'import sys
from decimal import Decimal
for i, le in enumerate(sys.stdin):
    for latency in int(Decimal(le) * 10**9), int(Decimal(le) * 10**9) + 1:
        receive = 1700000030000000000 + 2 * i + latency % 2
        print(receive - latency, receive, "%d.%06d" % divmod(latency, 10**6))' > edges.txt
sort -n -k2,2 -m a.txt edges.txt > a-edges.txt && mv a-edges.txt a.txt
"$stat" --prom both.prom a.txt b.txt > /dev/null
# The latencies at most each bound, counted exactly in ns, and above all.
bounds | python3 -c 'import bisect, sys
from decimal import Decimal
latencies = [int(f[1]) - int(f[0]) for name in ("a.txt", "b.txt") for f in map(str.split, open(name))]
latencies = sorted(x for x in latencies if 0 <= x <= 3600 * 10**9)
for le in sys.stdin:
    print(le.strip(), bisect.bisect_right(latencies, int(Decimal(le) * 10**9)))
print("+Inf", len(latencies))' | sort > exact

# Each host reads half of its log, is scraped, then reads the rest; -i on one
# of them serves its interval quantiles too.
ports=()
for host in a b; do
  port=$(free_port)
  ports+=("127.0.0.1:$port")
  mkfifo "$host.feed"
  interval=()
  [ $host = a ] && interval=(-i 1s --csv "$host.rows")
  "$stat" --listen "$port" --label host=$host "${interval[@]}" --linger 250s < "$host.feed" \
    > "$host.summary" 2> "$host.errors" &
  pids+=($!)
done
prometheus_port=$(free_port)
cat > prometheus.yml << EOF
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: caplat
    static_configs:
      - targets: ['${ports[0]}', '${ports[1]}']
EOF
timeout 250 prometheus --config.file=prometheus.yml --storage.tsdb.path=data \
  --web.listen-address="127.0.0.1:$prometheus_port" --log.level=warn 2> prometheus.log &
pids+=($!)
# The feeds are opened once every reader has started, so that none of them
# holds another's open and keeps it from ending.
exec {feed_a}> a.feed {feed_b}> b.feed
# True if the query $1 gives $2.
gives() { [ "$(query "$1" | awk '{print $NF}')" = "$2" ]; }
half_a=$(($(wc -l < a.txt) / 2))
half_b=$(($(wc -l < b.txt) / 2))
head -n $half_a a.txt >&"$feed_a"
head -n $half_b b.txt >&"$feed_b"
check "Prometheus scrapes both hosts halfway" await 30 'gives "sum(caplat_messages_total)" $((half_a + half_b))'
tail -n +$((half_a + 1)) a.txt >&"$feed_a"
tail -n +$((half_b + 1)) b.txt >&"$feed_b"
exec {feed_a}>&- {feed_b}>&-
messages=$(cat a.txt b.txt | wc -l)
check "the messages of both hosts" await 30 'gives "sum(caplat_messages_total)" "$messages"'
check "the progress alert is quiet while messages came within its minute" eval \
  '[ -z "$(query "increase(caplat_messages_total[1m]) == 0")" ]'

# Every bucket of the two hosts together holds exactly the latencies at most
# its bound, as one run over both logs does.
check "the buckets of both hosts count the latencies at most each bound" [ \
  "$(query 'sum by (le) (caplat_latency_seconds_bucket)' | sed 's/^le=//' | sort)" = "$(cat exact)" ]
check "so do those of one run over both logs" [ \
  "$(sed -n 's/^caplat_latency_seconds_bucket{le="\([^"]*\)"} /\1 /p' both.prom | sort)" = "$(cat exact)" ]
for name in caplat_negative_latencies_total caplat_stale_latencies_total \
  caplat_over_hour_latencies_total caplat_latency_seconds_count; do
  check "$name of both hosts" [ "$(query "sum($name)" | awk '{print $NF}')" = \
    "$(awk -v n=$name '$1 == n {print $2}' both.prom)" ]
done
check "each host under its label" [ "$(query 'caplat_messages_total' | cut -d' ' -f1,4 | sort)" = \
  "$(printf 'host=a %s\nhost=b %s' "$(wc -l < a.txt)" "$(wc -l < b.txt)")" ]
check "interval quantiles from the host with -i" [ \
  "$(query 'count by (quantile) (caplat_interval_latency_seconds)' | sort)" = \
  "$(printf 'quantile=0.5 1\nquantile=0.99 1\nquantile=0.999 1\nquantile=1 1')" ]

# The manual's queries of the fleet's quantiles. The live one, over the rate
# of the last minute, gives a number while the counters rise, and NaN once
# they have stood still for its range (here 3 s rather than a minute).
live='histogram_quantile(0.99, sum by (le) (rate(caplat_latency_seconds_bucket[1m])))'
check "the live query gives a number" eval '[[ "$(query "$live" | awk "{print \$NF}")" =~ ^[0-9.e+-]+$ ]]'
check "the live query over 3 s gives NaN once the inputs have ended" await 30 'gives "${live/1m/3s}" NaN'
# The manual's alerts: on the data's receive times, which these logs put in
# 2023, a stopped feed is told at once; on the reading's own progress, only
# once no message has come for the range (here 3 s rather than a minute).
check "the receive-time alert fires on old data" eval \
  '[ "$(query "time() - caplat_last_receive_time_seconds > 60" | wc -l)" = 2 ]'
check "the progress alert fires once the inputs have ended" \
  await 20 '[ "$(query "increase(caplat_messages_total[3s]) == 0" | wc -l)" = 2 ]'
# The query for ended inputs, over the counters' last values, lands in the
# bucket that holds the exact percentile of both logs' latencies from 0 to
# 1 hour.
awk '{ ms = $3 + 0; if (ms >= 0 && ms <= 3600000) printf "%.9f\n", ms / 1000 }' a.txt b.txt | sort -g > latencies
in_range=$(wc -l < latencies)
for q in 0.5 0.99; do
  exact=$(sed -n "$(awk -v q=$q -v n="$in_range" 'BEGIN { r = q * n; print (r == int(r) ? r : int(r) + 1) }')p" latencies)
  estimate=$(query "histogram_quantile($q, sum by (le) (last_over_time(caplat_latency_seconds_bucket[1d])))" |
    awk '{print $NF}')
  bucket=$(sed -n 's/^caplat_latency_seconds_bucket{le="\([^"]*\)"}.*/\1/p' both.prom |
    awk -v x="$exact" 'BEGIN { low = 0 } $1 + 0 >= x + 0 { print low, $1; exit } { low = $1 }')
  check "p$(awk -v q=$q 'BEGIN {print q * 100}') $estimate in the bucket ($bucket) of the exact $exact" \
    awk -v e="$estimate" -v b="$bucket" 'BEGIN { split(b, r, " "); exit !(e + 0 >= r[1] + 0 && e + 0 <= r[2] + 0) }'
done

# node_exporter's textfile collector serves the series of a --prom file.
node_port=$(free_port)
mkdir textfile
cp both.prom textfile/caplat.prom
timeout 250 prometheus-node-exporter --collector.disable-defaults --collector.textfile \
  --collector.textfile.directory=textfile --web.listen-address="127.0.0.1:$node_port" \
  2> node_exporter.log &
pids+=($!)
await 10 'curl -sf -o node.txt "http://127.0.0.1:$node_port/metrics"'
check "node_exporter serves the same series" [ "$(series node.txt | sort)" = "$(series both.prom | sort)" ]
check "node_exporter read the file without error" grep -qx 'node_textfile_scrape_error 0' node.txt
check "node_exporter keeps the histogram's type" grep -qx '# TYPE caplat_latency_seconds histogram' node.txt

# SIGTERM ends each host's serving with status 0, after its summary.
for i in 0 1; do
  kill -TERM "${pids[$i]}"
  wait "${pids[$i]}"
  check "status 0 after SIGTERM" [ $? = 0 ]
done
check "the summaries" grep -qx "count          $(wc -l < b.txt)" b.summary
check "nothing on standard error" [ ! -s a.errors -a ! -s b.errors ]

echo "prometheus: $((checks - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
