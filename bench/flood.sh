#!/usr/bin/env bash
# Scrapes caplat-stat's metrics server with curl every 0.3 s while
# bench/flood.py floods it, on 127.0.0.1 only, and tells how many scrapes were
# answered within curl's timeout and how long they took: slow clients (one
# byte each) and idle ones, 600 of each, reconnecting when closed, with the
# usual limit on open files and with `ulimit -n 200`.
#
#   bench/flood.sh [--scrapes N] [--timeout S] [--build DIR] [--before DIR]
#
# --before measures the caplat-stat of another build folder (an earlier
# commit's) too. The server reads a pipe that stays open and empty, as a live
# feed between bursts.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
scrapes=20
timeout=5
build=$here/../build
before=
while [ $# -gt 0 ]; do
  case $1 in
    --scrapes) scrapes=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --before) before=$2; shift 2 ;;
    *) echo "usage: $0 [--scrapes N] [--timeout S] [--build DIR] [--before DIR]" >&2; exit 2 ;;
  esac
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=bench/measure.sh
. "$here/measure.sh"

# Floods the caplat-stat $1 with clients of kind $2 under the limit on open
# files $3 (or none) and prints a row of the table.
flood() {
  local port server flooder
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mkfifo "$tmp/feed"
  (
    [ -z "$3" ] || ulimit -n "$3"
    exec "$1" --listen "$port" --linger 1ns < "$tmp/feed" > /dev/null 2> "$tmp/errors"
  ) &
  server=$!
  exec {feed}> "$tmp/feed"
  until curl -sf -o /dev/null "http://127.0.0.1:$port/metrics"; do sleep 0.05; done
  python3 "$here/flood.py" "$port" --kind "$2" --seconds $((scrapes * 3 / 10 + timeout + 2)) \
    > "$tmp/flood" &
  flooder=$!
  sleep 1
  : > "$tmp/times"
  for ((i = 0; i < scrapes; i++)); do
    curl -s -o /dev/null -m "$timeout" -w '%{http_code} %{time_total}\n' \
      "http://127.0.0.1:$port/metrics" >> "$tmp/times" || true
    sleep 0.3
  done
  wait "$flooder"
  exec {feed}>&-
  wait "$server" || true
  rm "$tmp/feed"
  local answered
  answered=$(grep -c '^200 ' "$tmp/times" || true)
  printf '%-12s %-5s %-6s %4s/%-4s %9s %9s  %s\n' "$4" "$2" "${3:--}" "$answered" "$scrapes" \
    "$(awk '$1 == 200 {print $2}' "$tmp/times" | median)" \
    "$(awk '$1 == 200 && $2 > m {m = $2} END {print m + 0}' "$tmp/times")" "$(tail -n 1 "$tmp/flood")"
}

machine
printf '%-12s %-5s %-6s %9s %9s %9s  %s\n' build kind ulimit answered "median s" "max s" flood
for kind in slow idle; do
  for limit in "" 200; do
    flood "$build/stat/caplat-stat" $kind "$limit" this
    [ -z "$before" ] || flood "$before/stat/caplat-stat" $kind "$limit" before
  done
done
