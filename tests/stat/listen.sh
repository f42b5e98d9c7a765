#!/usr/bin/env bash
# caplat-stat's metrics server against real clients, on 127.0.0.1 only: what
# each kind of request is answered, one row per case (see
# tests/support/table.sh), then hostile clients while input is read. Skips
# (77) without python3 or curl.
#   listen.sh CAPLAT_STAT CAPLAT LOGGEN
# The floods are bench/flood.py's.
set -u
command -v python3 > /dev/null && command -v curl > /dev/null || exit 77
stat=$(realpath "$1")
caplat=$(realpath "$2")
loggen=$(realpath "$3")
here=$(realpath "$(dirname "$0")")
flood_tool=$here/../../bench/flood.py
# shellcheck source=../support/table.sh
. "$(dirname "$0")/../support/table.sh"
pids=()
trap 'kill "${pids[@]}" 2> /dev/null; rm -rf "$work"' EXIT

# A port that nothing listens on now.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# Sends standard input to port $1 and prints the answer, until the server
# closes the connection.
request() {
  exec 3<> "/dev/tcp/127.0.0.1/$1" || return 1
  cat >&3
  timeout 10 cat <&3
}
# The same, a byte at a time, so that the head arrives in many reads: a slow
# client's pace, not a wait for a state.
byte_gap=0.01
trickle() {
  exec 3<> "/dev/tcp/127.0.0.1/$1" || return 1
  while IFS= read -r -d '' -n 1 c; do
    printf %s "$c" >&3
    sleep "$byte_gap"
  done
  timeout 10 cat <&3
}
# Checks the answer in .stdout: its status line, and that its body is as long
# as it says.
answered() {
  head -1 .stdout | grep -q "^HTTP/1.1 $1"$'\r$' || return 1
  local length
  length=$(sed -n 's/^Content-Length: \([0-9]*\)\r$/\1/p' .stdout)
  [ "$(sed '1,/^\r$/d' .stdout | wc -c)" = "${2:-$length}" ]
}
# Checks that a scrape's text in file $1 agrees with itself: the buckets
# never fall, the last is the count, and the messages are the count and the
# latencies outside the histogram; prints the messages.
consistent() {
  awk '/^caplat_latency_seconds_bucket/ { if ($2 < last) bad = 1; last = $2 }
       /^caplat_latency_seconds_count/ { count = $2 }
       /^caplat_(negative|over_hour)_latencies_total/ { apart += $2 }
       /^caplat_messages_total/ { messages = $2 }
       END { if (bad || last != count || messages != count + apart || messages == "") exit 1; print messages }' "$1"
}

# Counts a check: $1 names it, the rest is the command that must succeed.
check() {
  rows=$((rows + 1))
  "${@:2}" || { failed=$((failed + 1)); echo "FAIL: $1"; }
}

port=$(free_port)
mkfifo "$work/feed"
# -i: the interval quantiles are served too; the summary goes to a file.
"$stat" -i 1s --csv "$work/rows" --listen "$port" < "$work/feed" > "$work/summary" 2> "$work/errors" &
server=$!
pids+=("$server")
exec {feed}> "$work/feed"
# Served while the pipe has not yet given a byte.
check "served before any input" await 10 'curl -sf -o /dev/null "http://127.0.0.1:$port/metrics"'

# Each kind of request, while the server waits for input.
program=request
type=$'Content-Type: text/plain; version=0.0.4; charset=utf-8\r'
t "GET /metrics" "" "$port" 'GET /metrics HTTP/1.1\r\nHost: x\r\nAccept: */*\r\n\r\n' "*" "" 0 \
  'answered "200 OK" && grep -qx "$type" .stdout && grep -qx "Connection: close.*" .stdout &&
   grep -qx "caplat_messages_total 0" .stdout && consistent .stdout > /dev/null'
t "HEAD /metrics: the head alone" "" "$port" 'HEAD /metrics HTTP/1.1\r\n\r\n' "*" "" 0 \
  'answered "200 OK" 0 && grep -q "^Content-Length: [1-9]" .stdout'
t "a query is ignored" "" "$port" 'GET /metrics?x=1 HTTP/1.1\r\n\r\n' "*" "" 0 'answered "200 OK"'
t "HTTP/1.0, lines ended by LF alone" "" "$port" 'GET /metrics HTTP/1.0\n\n' "*" "" 0 'answered "200 OK"'
# A server must take a target in absolute form and ignore an empty line
# before the request line.
t "an absolute target" "" "$port" 'GET http://127.0.0.1:9477/metrics HTTP/1.1\r\n\r\n' "*" "" 0 'answered "200 OK"'
t "an absolute target, scheme in capitals, with a query" "" "$port" 'GET HTTP://h/metrics?x=1 HTTP/1.1\r\n\r\n' \
  "*" "" 0 'answered "200 OK"'
t "an absolute target of another path" "" "$port" 'GET http://h/ HTTP/1.1\r\n\r\n' "*" "" 0 'answered "404 Not Found"'
t "an absolute target without a path" "" "$port" 'GET http://h HTTP/1.1\r\n\r\n' "*" "" 0 'answered "404 Not Found"'
t "an empty line before the request line" "" "$port" '\r\nGET /metrics HTTP/1.1\r\n\r\n' "*" "" 0 'answered "200 OK"'
t "two empty lines before the request line" "" "$port" '\r\n\r\nGET /metrics HTTP/1.1\r\n\r\n' "*" "" 0 \
  'answered "400 Bad Request"'
t "another path" "" "$port" 'GET / HTTP/1.1\r\n\r\n' "*" "" 0 'answered "404 Not Found"'
t "a longer path" "" "$port" 'GET /metricsx HTTP/1.1\r\n\r\n' "*" "" 0 'answered "404 Not Found"'
t "another method" "" "$port" 'POST /metrics HTTP/1.1\r\nContent-Length: 2\r\n\r\nab' "*" "" 0 \
  'answered "405 Method Not Allowed" && grep -qx "Allow: GET, HEAD.*" .stdout'
for garbage in 'garbage' 'GET /metrics' 'GET /metrics HTTP/2.0' 'GET  /metrics HTTP/1.1' \
  'get /metrics HTTP/1.1' 'GET metrics HTTP/1.1' '\x00\xff\x16\x03\x01 /metrics HTTP/1.1' ' '; do
  t "a garbage request line: $garbage" "" "$port" "$garbage\r\n\r\n" "*" "" 0 'answered "400 Bad Request"'
done
t "a blank line alone" "" "$port" '\n\n' "*" "" 0 'answered "400 Bad Request"'
# The head may hold 8 KiB: up to its end, not one byte more.
pad() { head -c "$1" /dev/zero | tr '\0' a; }
t "a head of 8 KiB" "" "$port" "GET /metrics HTTP/1.1\r\nX: $(pad $((8192 - 30)))\r\n\r\n" "*" "" 0 'answered "200 OK"'
t "a head of 8 KiB and a byte" "" "$port" "GET /metrics HTTP/1.1\r\nX: $(pad $((8193 - 30)))\r\n\r\n" "*" "" 0 \
  'answered "431 Request Header Fields Too Large"'
t "a request of 1 MB" "" "$port" "GET /metrics HTTP/1.1\r\nX: $(pad 1000000)\r\n\r\n" "*" "" 0 \
  'answered "431 Request Header Fields Too Large"'
program=trickle
t "a head a byte at a time" "" "$port" 'GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n' "*" "" 0 'answered "200 OK"'

# Hostile clients while the input is read: 600 connections at once that send
# nothing (more than the 512 the server keeps), each opened again once closed,
# garbage and a request of 1 MB, and well-formed scrapes throughout, each of
# which must be answered and agree with itself.
"$loggen" --format e --small --size 100000000 --seed 3 | "$caplat" -2 > "$work/lat.txt" 2> /dev/null
copies=30
lines=$(($(wc -l < "$work/lat.txt") * copies))

# A pause in the input: what was read before it is served while it lasts.
cat "$work/lat.txt" >&"$feed"
check "the figures served in a pause" \
  await 10 'curl -sf -o "$work/paused" "http://127.0.0.1:$port/metrics" &&
           [ "$(consistent "$work/paused")" = "$(wc -l < "$work/lat.txt")" ]'
lines=$((lines + $(wc -l < "$work/lat.txt")))

python3 "$flood_tool" "$port" --kind idle --seconds 2 > "$work/flood" 2>&1 &
flood=$!
# A scraper's pace while the input is read, a scrape every tenth of a second.
scrape_gap=0.1
(
  n=0
  while [ ! -e "$work/fed" ] || [ $n -lt 3 ]; do
    n=$((n + 1))
    curl -sf -m 5 -o "$work/scrape.$n" "http://127.0.0.1:$port/metrics" || echo "scrape $n failed"
    consistent "$work/scrape.$n" >> "$work/messages" || echo "scrape $n disagrees with itself"
    sleep "$scrape_gap"
  done > "$work/scrapes"
) &
scraper=$!
(
  printf 'garbage\r\n\r\n' | request "$port"
  { printf 'GET /metrics HTTP/1.1\r\nX: '; pad 1000000; printf '\r\n\r\n'; } | request "$port"
) > "$work/garbage" &
for ((i = 0; i < copies; i++)); do cat "$work/lat.txt"; done >&"$feed"
touch "$work/fed"
exec {feed}>&-
wait "$scraper" "$flood"
check "the scrapes while reading" eval '[ ! -s "$work/scrapes" ] && sort -n -c "$work/messages" ||
  { cat "$work/scrapes" "$work/messages"; false; }'
check "garbage and the flood" eval '[ "$(grep -c "^HTTP/1.1 4" "$work/garbage")" = 2 ] &&
  grep -q "connections opened" "$work/flood" || { cat "$work/garbage" "$work/flood"; false; }'

# After the input: the summary is printed, the final figures are served until
# SIGTERM, which ends the run with status 0; a connection that sends nothing
# is closed after 5 s (while reading, the flood closed the oldest first).
check "the summary" await 30 'grep -qx "count          $lines" "$work/summary"'
exec {idle}<> "/dev/tcp/127.0.0.1/$port"
start=$EPOCHREALTIME
timeout 30 cat <&"$idle" > /dev/null
end=$EPOCHREALTIME
idle_ms=$(((${end//[!0-9]/} - ${start//[!0-9]/}) / 1000))
check "the idle connection was closed after $idle_ms ms" [ "$idle_ms" -ge 4000 -a "$idle_ms" -le 25000 ]
check "the final figures" eval 'curl -sf -o "$work/final" "http://127.0.0.1:$port/metrics" &&
  [ "$(consistent "$work/final")" = "$lines" ] &&
  grep -q "^caplat_interval_latency_seconds{quantile=\"1\"}" "$work/final"'
kill -TERM "$server"
wait "$server"
status=$?
check "status $status after SIGTERM" eval '[ "$status" = 0 ] && [ ! -s "$work/errors" ] || { cat "$work/errors"; false; }'

# A pause in compressed input: what was decompressed before it is served too.
port=$(free_port)
mkfifo "$work/zipped"
"$stat" --listen "$port" < "$work/zipped" > /dev/null 2>&1 &
zipped=$!
pids+=("$zipped")
exec {gz}> "$work/zipped"
gzip -c "$work/lat.txt" >&"$gz"
check "the figures served in a pause of gzip input" \
  await 10 'curl -sf -o "$work/zipped-paused" "http://127.0.0.1:$port/metrics" &&
           [ "$(consistent "$work/zipped-paused")" = "$(wc -l < "$work/lat.txt")" ]'
exec {gz}>&-
kill -TERM "$zipped"
wait "$zipped"

# Floods that open again whatever the server closes (bench/flood.py) against
# a scrape every 0.3 s that gives up after 3 s: slow clients, which send a
# byte each, and, with 200 descriptors of which 150 hold interval logs, idle
# ones. Every scrape is answered.
awk -v seed=5 -v n=100 -v span=2 -v start=1700000000 -f "$here/hlog_gen.awk" |
  "$stat" -i 1s --hlog "$work/one.hlog" > /dev/null
mkdir "$work/logs"
for ((i = 0; i < 150; i++)); do cp "$work/one.hlog" "$work/logs/$i.hlog"; done
# A scraper beside a flood, every 0.3 s, as Prometheus at its fastest.
flood_scrape_gap=0.3
# Floods a server of caplat-stat of kind $1 under the limit $2 on open files,
# reading the interval logs $3... beside a pipe; false unless every scrape was
# answered.
flooded() {
  local kind=$1 limit=$2 logs=("${@:3}") answered=0 flooder reader
  port=$(free_port)
  rm -f "$work/flooded"
  mkfifo "$work/flooded"
  (
    ulimit -n "$limit"
    exec "$stat" -i 1s --listen "$port" --linger 1ns "${logs[@]}" - < "$work/flooded" > /dev/null
  ) &
  reader=$!
  pids+=("$reader")
  exec {fed}> "$work/flooded"
  await 10 'curl -sf -o /dev/null "http://127.0.0.1:$port/metrics"' || return 1
  python3 "$flood_tool" "$port" --kind "$kind" --seconds 6 > "$work/flood.$kind" &
  flooder=$!
  pids+=("$flooder")
  await 10 'grep -qs flooding "$work/flood.$kind"'
  for ((i = 0; i < 10; i++)); do
    curl -sf -m 3 -o /dev/null "http://127.0.0.1:$port/metrics" && answered=$((answered + 1))
    sleep "$flood_scrape_gap"
  done
  wait "$flooder"
  exec {fed}>&-
  wait "$reader"
  echo "$kind flood, ulimit -n $limit: $answered of 10 scrapes answered; $(tail -n 1 "$work/flood.$kind")"
  [ "$answered" = 10 ]
}
check "a slow flood" flooded slow 1024
check "an idle flood, 200 descriptors, 150 interval logs" flooded idle 200 "$work"/logs/*.hlog

# --linger ends the serving by itself, with the run's status.
port=$(free_port)
program=$stat
t "--linger" "" "--listen $port --linger 300ms" '1.000000\nx\n' "*" "*" 1 \
  'grep -q "^count          1$" .stdout'

echo "listen: $((rows - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
