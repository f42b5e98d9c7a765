#!/usr/bin/env bash
# End-to-end tests of the caplat binary, one row per case:
#   t NAME SETUP ARGS STDIN STDOUT STDERR STATUS AFTER
# SETUP and AFTER are shell commands run in the row's own empty folder, before
# the run and as a check after it (AFTER must succeed). ARGS is evaluated, so
# it may hold redirections. STDIN, STDOUT and STDERR are printf formats; a
# STDOUT or STDERR of * is not compared.
set -u
caplat=$(realpath "$1")
examples=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rows=0
failed=0

t() {
  local name=$1 setup=$2 args=$3 input=$4 want_out=$5 want_err=$6 want_status=$7 after=$8
  rows=$((rows + 1))
  local dir=$work/$rows
  mkdir "$dir"
  (
    cd "$dir" || exit 1
    # shellcheck disable=SC2059
    printf -- "$input" > .stdin
    eval "$setup"
    eval "\"$caplat\" $args" < .stdin > .stdout 2> .stderr
    echo $? > .status
    printf -- "$want_out" > .want_out
    printf -- "$want_err" > .want_err
    ok=1
    if [ "$want_out" != "*" ] && ! cmp -s .stdout .want_out; then
      echo "  stdout differs:"; diff <(od -c .want_out) <(od -c .stdout) | head -20; ok=0
    fi
    if [ "$want_err" != "*" ] && ! cmp -s .stderr .want_err; then
      echo "  stderr differs:"; diff <(od -c .want_err) <(od -c .stderr) | head -20; ok=0
    fi
    if [ "$(cat .status)" != "$want_status" ]; then
      echo "  status $(cat .status), want $want_status"; ok=0
    fi
    if [ -n "$after" ] && ! eval "$after"; then
      echo "  after: $after"; ok=0
    fi
    [ $ok = 1 ]
  ) || {
    failed=$((failed + 1))
    echo "FAIL: $name"
  }
}

ts='1700000000.15\n'
head19='Decompressed payload (19 bytes)\n'
hex0='0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31\n'
hex1='0010  32 33 7d\n'
rec="$ts$head19$hex0$hex1"
pair='1700000000123000000 1700000000150000000\n'
malformed='Malformed HEX payload\n!'
nosrc='Source file can'"'"'t be opened\n'
nodst='Destination file can'"'"'t be opened\n'

# The four-line record in each output format.
t "format 0 by default" "" "" "$rec" "$pair" "" 0 ""
t "-0" "" "-0" "$rec" "$pair" "" 0 ""
t "-1" "" "-1" "$rec" '27.000000\n' "" 0 ""
t "-2" "" "-2" "$rec" '1700000000123000000 1700000000150000000 27.000000\n' "" 0 ""
t "two payloads after one timestamp" "" "" "$rec$head19$hex0$hex1" "$pair$pair" "" 0 ""

# Latency warnings: above 10 s, and negative (receive before send).
t "exactly 10 s is silent" "" "-1" '1700000010.123\n'"$head19$hex0$hex1" '10000.000000\n' "" 0 ""
t "1 ns above 10 s warns" "" "-1" '1700000010.123000001\n'"$head19$hex0$hex1" '10000.000001\n' \
  'WARNING: Unexpected latency 10000000001 = 1700000010123000001 - 1700000000123000000\n' 0 ""
t "negative latency" "" "-2" '1700000000.12\n'"$head19$hex0$hex1" \
  '1700000000123000000 1700000000120000000 -3.000000\n' \
  'WARNING: Unexpected latency -3000000 = 1700000000120000000 - 1700000000123000000\n' 0 ""

# The end of the source: the empty text after a final newline meets an unfinished dump.
t "empty source" "" "" "" "" "" 0 ""
t "only a newline" "" "" '\n' "" "" 0 ""
t "no final newline" "" "" "$ts$head19$hex0"'0010  32 33 7d' "$pair" "" 0 ""
t "dump cut short, final newline" "" "" "$ts$head19$hex0" "" "$malformed" 0 ""
t "dump cut short, no final newline" "" "" "$ts$head19${hex0%\\n}" "" "" 0 ""
t "bytes of a failed dump dropped at the end" "" "" "$ts$head19${hex0}x\n" "" "$malformed" 0 ""
t "carriage returns yield nothing" "" "" '1700000000.15\r\nDecompressed payload (19 bytes)\r\n0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31\r\n0010  32 33 7d\r\n' "" "" 0 ""
t "NUL ends the text the decoder sees" "" "" "$ts$head19"'0000  7b 22 45 22 3a 31 37 30\000 30 30 30 30 30 30 30 31\n' "" "$malformed" 0 ""

# Lines longer than 19,999 bytes reach the decoder in pieces of 19,999.
x19999=$(printf '%19999s' '' | tr ' ' x)
t "19,999 bytes then a timestamp" "" "" "$x19999$rec" "$pair" "" 0 ""
t "19,998 bytes then a timestamp" "" "" "${x19999:1}$rec" '1700000000123000000 700000000150000000\n' \
  'WARNING: Unexpected latency -999999999973000000 = 700000000150000000 - 1700000000123000000\n' 0 ""
t "20,000 bytes then a timestamp" "" "" "x$x19999$rec" "" "" 0 ""
# A last dump line of every length near the limit, with and without its newline: an
# unfinished dump meets a further text (and the malformed message) unless the source ended
# inside a piece shorter than 19,999 bytes.
pairs16='0000  41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41'
for n in 19996 19997 19998 19999 20000 20001; do
  line=$(printf "%-${n}s" "$pairs16")
  t "last line of $n bytes, no newline" "" "" "${ts}Decompressed payload (32 bytes)\n$line" "" \
    "$([ $n -le 19998 ] || printf '%s' "$malformed")" 0 ""
  t "last line of $n bytes and a newline" "" "" "${ts}Decompressed payload (32 bytes)\n$line\n" \
    "" "$malformed" 0 ""
done

# Failures of the source and the destination.
t "source is a directory" "" "< ." "" "" 'Source file can'"'"'t be read\n' 1 ""
t "full disk" "" "> /dev/full" "$rec" "" 'Destination file can'"'"'t be written\n' 1 ""
t "full disk, nothing to write" "" "> /dev/full" "$ts" "" "" 0 ""

# Arguments: an option only as the first argument; the last path is the destination.
t "one path is the destination" "" "out" "$rec" "" "" 0 "printf '$pair' | cmp -s - out"
t "one path truncates" "echo old > out" "-1 out" "$rec" "" "" 0 "printf '27.000000\n' | cmp -s - out"
t "-2 in out" "printf '$rec' > in" "-2 in out" "" "" "" 0 \
  "printf '1700000000123000000 1700000000150000000 27.000000\n' | cmp -s - out"
t "a b c reads b, writes c" "printf '$rec' > b" "a b c" "" "" "" 0 \
  "printf '$pair' | cmp -s - c && [ ! -e a ]"
t "-3 is a path" "printf '$rec' > ./-3" "-3 x" "" "" "" 0 "printf '$pair' | cmp -s - x"
t "an option after the first is a path" "" "-1 -2" "$rec" "" "" 0 "printf '27.000000\n' | cmp -s - ./-2"
t "--help is a path" "" "--help" "$rec" "" "" 0 "printf '$pair' | cmp -s - ./--help"
t "missing source" "" "missing out" "" "" 'Unable to open file `missing`!!\n'"$nosrc" 1 "[ ! -e out ]"
t "missing source leaves the destination" "echo keep > out" "missing out" "" "" \
  'Unable to open file `missing`!!\n'"$nosrc" 1 "[ \"\$(cat out)\" = keep ]"
t "destination in a missing folder" "printf '$rec' > in" "in no/out" "" "" \
  'Unable to open file `no/out`!!\n'"$nodst" 1 ""

# The log being read is never truncated, whatever name reaches it.
guard() { printf 'Destination file `%s` is the source file!!\n%s' "$1" "$nodst"; }
keep="printf '$rec' | cmp -s - log"
t "same path" "printf '$rec' > log" "log log" "" "" "$(guard log)" 1 "$keep"
t "hard link" "printf '$rec' > log; ln log hard" "log hard" "" "" "$(guard hard)" 1 "$keep"
t "symbolic link" "printf '$rec' > log; ln -s log sym" "-1 log sym" "" "" "$(guard sym)" 1 "$keep"
t "standard input" "printf '$rec' > log" "log < log" "" "" "$(guard log)" 1 "$keep"
t "missing source reported first" "" "missing missing" "" "" 'Unable to open file `missing`!!\n'"$nosrc" 1 ""
t "a results file is rewritten" "printf '$rec' > log; printf '1 2\\n' > res" "log res" "" "" "" 0 \
  "printf '$pair' | cmp -s - res"
t "devices are not guarded" "" "/dev/null /dev/null" "" "" "" 0 ""

# Nor any other capture log: a file with a payload header line in its first MiB.
captured() { printf 'Destination file `%s` is a capture log!!\n%s' "$1" "$nodst"; }
t "a log as the single path" "printf '$rec' > log" "log" "$rec" "" "$(captured log)" 1 "$keep"
t "a log as the last of three paths" "printf '$rec' > in; printf '$rec' > log" "-1 a in log" "" "" \
  "$(captured log)" 1 "$keep"
t "a log through a symbolic link" "printf '$rec' > in; printf '$rec' > log; ln -s log sym" \
  "in sym" "" "" "$(captured sym)" 1 "$keep"
t "a copy of the source" "printf '$rec' > log; cp log copy" "log copy" "" "" "$(captured copy)" 1 \
  "cmp -s log copy"
# The title must start a line and lie wholly within the first MiB.
for at in 1048554 1048555; do
  t "a header line at byte $at" "head -c $((at - 1)) /dev/zero | tr '\\0' x > log; printf '\\n$head19' >> log" \
    "log" "$rec" "*" "*" $((at <= 1048554)) ""
done
t "a header inside a line is no log" "printf 'x $head19' > out" "out" "$rec" "" "" 0 \
  "printf '$pair' | cmp -s - out"
# A single path at a terminal is surely the log: nothing is opened.
tty() { printf '%s' "< /dev/null; script -qec \"'\$caplat' $1\" /dev/null > .tty; echo \$? > .code; tr -d '\\r' < .tty"; }
usage='Reading the log from a terminal; usage: caplat [-0|-1|-2] [source] [destination]\n'
t "a log at a terminal" "printf '$rec' > log" "$(tty log)" "" "$usage" "" 0 "$keep && grep -qx 1 .code"
t "--help at a terminal" "" "$(tty --help)" "" "$usage" "" 0 "[ ! -e ./--help ]"

# The sample log: a slow message, two payloads in one frame, a malformed dump.
t "sample log" "" "-2 < '$examples/capture.log'" "" "$(cat "$examples/capture.out")\n" \
  'WARNING: Unexpected latency 12346150017 = 1700000001984150017 - 1699999989638000000\n'"$malformed"'WARNING: Discarded payload with 37 bytes!!\n' 0 ""

# Warnings and results sent to one file keep their order: the warning about
# the 2000th message comes after the first block of results and before its line.
t "warnings in order among results" \
  "for i in \$(seq 1999); do printf '$rec'; done > log; printf '1700000020.15\\n$head19$hex0$hex1' >> log
   for i in \$(seq 999); do printf '$rec'; done >> log" \
  "-2 < log 2>&1" "" "*" "" 0 \
  "awk '/WARNING/ { w = NR } /^1700000000123000000 1700000020150000000 / { p = NR }
        END { exit !(w > 1000 && w < p && p == 2001) }' .stdout"

# Reading from a pipe and from the current offset of standard input.
t "pipe" "printf '$rec$rec' > log" "< /dev/null; cat log | \"\$caplat\" -1" "" '27.000000\n27.000000\n' "" 0 ""
t "current offset" "printf 'skip\n$rec' > log" "< /dev/null; { read -r _; \"\$caplat\"; } < log" "" "$pair" "" 0 ""

# Hostile input: whatever the bytes, the run ends normally and loses nothing it could print.
t "binary noise" "head -c 1000000 /dev/urandom > noise" "< noise" "" "*" "" 0 ""
t "NUL bytes everywhere" "head -c 1000000 /dev/zero > zeros" "< zeros" "" "" "" 0 ""
t "NULs between records" "" "" "\000\000\n$rec\000\n$rec" "$pair$pair" "" 0 ""
t "a 100 MB line without a newline" "head -c 100000000 /dev/zero | tr '\\0' x > long; printf '\n$rec' >> long" \
  "< long" "" "$pair" "" 0 ""
t "2^64-1 bytes announced, a million dump lines" \
  "{ printf '$ts'; echo 'Decompressed payload (18446744073709551615 bytes)'; yes '${hex0%\\n}' | head -n 1000000; } > huge" \
  "< huge" "" "" "$malformed" 0 ""
t "timestamps without payloads" "seq -f '1700000000.%g' 1 100000 > stamps; printf '$rec' >> stamps" \
  "< stamps" "" "$pair" "" 0 ""
t "standard error closed" "" "-2 out 2>&-" '1700000000.12\n'"$head19$hex0$hex1" "" "" 0 \
  "printf '1700000000123000000 1700000000120000000 -3.000000\\n' | cmp -s - out"
t "standard output closed" "" ">&-" "$rec" "" 'Destination file can'"'"'t be written\n' 1 ""
t "standard input closed" "" "<&-" "" "" 'Source file can'"'"'t be read\n' 1 ""
# Memory runs out on a payload that never ends: what came before is kept, in order.
# (The sanitizers reserve more address space than the limit allows.)
if ! ldd "$caplat" | grep -q libasan; then
  t "out of memory" "" "< /dev/null; { printf '1700000000.12\\n$head19$hex0$hex1$ts'
     echo 'Decompressed payload (18446744073709551615 bytes)'; yes '${hex0%\\n}'; } |
     (ulimit -v 50000; \"\$caplat\" -2)" "" '1700000000123000000 1700000000120000000 -3.000000\n' \
    'WARNING: Unexpected latency -3000000 = 1700000000120000000 - 1700000000123000000\nOut of memory\n' 1 ""
fi
# Live: each record read from a slow pipe is written out before the next arrives,
# and a kill while caplat waits loses nothing.
t "live through a slow pipe" "" "< /dev/null; for i in 1 2 3; do printf '$rec'
     for w in \$(seq 100); do [ \"\$(wc -l < out)\" -ge \$i ] && break; sleep 0.02; done
     [ \"\$(wc -l < out)\" -ge \$i ] || echo \"record \$i held back\" >&2; sleep 0.2; done |
     \"\$caplat\" -1 > out; cat out" "" '27.000000\n27.000000\n27.000000\n' "" 0 ""
t "killed while waiting" "" "< /dev/null; { printf '$rec'; sleep 2; } | \"\$caplat\" -1 > out &
     pid=\$!; sleep 0.5; kill \$pid; wait \$pid; cat out" "" '27.000000\n' "" 0 ""
t "the source is a directory" "" ". out" "" "" 'Source file can'"'"'t be read\n' 1 "[ -e out ]"
t "closed pipe ends quietly" "yes '$rec' | head -n 400000 | tr -d '\\n' | sed 's/\\\\n/\\n/g' > many" \
  "< /dev/null; (\"\$caplat\" < many | head -c 20; exit \"\${PIPESTATUS[0]}\")" "" "1700000000123000000 " "" 141 ""
t "a source that shrinks while read" "yes '$rec' | head -n 2000000 | tr -d '\\n' | sed 's/\\\\n/\\n/g' > shrinking" \
  "< shrinking > /dev/null & sleep 0.02; : > shrinking; wait \$!" "" "" "*" 0 ""

echo "$((rows - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
