# shellcheck shell=bash
# The timing helpers of the benchmarks, sourced by each; the caller sets tmp to
# a folder of its own.

# Runs the command line $1 once; appends "wall_us rss_kb cpu_s" to the file
# named by $2: the wall time, the peak resident memory, and the processor time
# (user and system) to the millisecond, which a noisy neighbour sways far less
# than the wall time.
measure() {
  local start end cpu
  start=$(date +%s%N)
  # shellcheck disable=SC2154 # tmp is the caller's
  cpu=$( (/usr/bin/time -f '%M' -o "$tmp/rss" bash -c "exec $1" > /dev/null 2>&1; times) |
    awk 'END {for (i = 1; i <= 2; i++) {split($i, t, "m"); s += t[1] * 60 + t[2]} print s}')
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 )) $(cat "$tmp/rss") $cpu" >> "$2"
}

# The median of the numbers on standard input, one a line.
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# The median over rounds of the ratio of field $3 (1: wall, 3: processor time)
# in the measurements of file $1 to those of file $2 in the same round.
ratio() { paste -d' ' "$1" "$2" | awk -v f="$3" '{print $f / $(f + 3)}' | median; }

# The largest peak resident memory in file $1, in MB.
peak_mb() { awk '$2 > m {m = $2} END {print m / 1024}' "$1"; }
