# shellcheck shell=bash
# The timing helpers of the benchmarks, sourced by each; the caller sets tmp to
# a folder of its own.

# Runs the command line $1 once; appends "wall_us rss_kb cpu_s" to the file
# named by $2: the wall time, the peak resident memory, and the processor time
# (user and system) to the millisecond, which a noisy neighbour sways far less
# than the wall time. Starting a command through /usr/bin/time and bash adds
# some 10 to 20 ms of each on a virtual machine, which pulls every ratio
# towards 1; the clock and the processor times are read in this shell, which
# adds no process more.
measure() {
  # shellcheck disable=SC2154 # tmp is the caller's
  times > "$tmp/cpu.0"
  local start=$EPOCHREALTIME
  /usr/bin/time -f '%M' -o "$tmp/rss" bash -c "exec $1" > /dev/null 2>&1
  local end=$EPOCHREALTIME
  times > "$tmp/cpu.1"
  # The second line of `times` holds the children's user and system time.
  echo "$((${end//[!0-9]/} - ${start//[!0-9]/})) $(< "$tmp/rss") $(awk '
    FNR == 2 {for (i = 1; i <= 2; i++) {split($i, t, "m"); s[FILENAME] += t[1] * 60 + t[2]}}
    END {printf "%.3f", s[ARGV[2]] - s[ARGV[1]]}' "$tmp/cpu.0" "$tmp/cpu.1")" >> "$2"
}

# The median of the numbers on standard input, one a line.
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# The median wall time in seconds of the measurements in file $1.
seconds() { awk '{print $1 / 1e6}' "$1" | median; }

# The median over rounds of the ratio of field $3 (1: wall, 3: processor time)
# in the measurements of file $1 to those of file $2 in the same round.
ratio() { paste -d' ' "$1" "$2" | awk -v f="$3" '{print $f / $(f + 3)}' | median; }

# The largest peak resident memory in file $1, in MB.
peak_mb() { awk '$2 > m {m = $2} END {print m / 1024}' "$1"; }

# One line naming the processor and the machine it runs on, for the top of a
# table: whether the machine is virtual changes what mapping, reading and
# system calls cost.
machine() {
  local model virt hypervisor
  model=$(lscpu 2> /dev/null | sed -n 's/^Model name: *//p' | head -n 1)
  virt=$(systemd-detect-virt 2> /dev/null) || virt=${virt:-unknown}
  hypervisor=$(lscpu 2> /dev/null | sed -n 's/^Hypervisor vendor: *//p' | head -n 1)
  [ -n "$hypervisor" ] || hypervisor=$(dmesg 2> /dev/null | sed -n 's/.*Hypervisor detected: *//p' | head -n 1)
  if [ -z "$hypervisor" ] && grep -qw hypervisor /proc/cpuinfo 2> /dev/null; then
    hypervisor="one, unnamed"
  fi
  echo "processor: ${model:-unknown}; systemd-detect-virt: $virt; hypervisor: ${hypervisor:-none seen}"
}

# Runs each command of the array commands once a round, in turn, so that a
# noisy neighbour weighs on all of them alike, for rounds rounds; command i's
# times go to $tmp/t.i, emptied first.
run_rounds() {
  rm -f "$tmp"/t.*
  for ((r = 0; r < rounds; r++)); do
    for i in "${!commands[@]}"; do measure "${commands[$i]}" "$tmp/t.$i"; done
  done
}

# The arguments of loggen that make the log of a bench case.
loggen_args() {
  case $1 in
    e | data | ts | iso | mixed) echo "--format $1" ;;
    small) echo "--format e --small" ;;
    ascii) echo "--format e --ascii" ;;
    frames) echo "--format e --ascii --frames" ;;
  esac
}
