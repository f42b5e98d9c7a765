#!/usr/bin/env bash
# End-to-end tests of the caplat binary, one row per case (see
# support/table.sh). The line rules and the fast paths have their own tables
# in the unit tests; these rows pin what only the whole program does:
# arguments, files, descriptors, errors, warnings, timing, compressed logs.
#   cli.sh CAPLAT EXAMPLES LOGGEN
set -u
caplat=$(realpath "$1")
examples=$(realpath "$2")
loggen=$(realpath "$3")
program=$caplat
# shellcheck source=support/table.sh
. "$(dirname "$0")/support/table.sh"

ts='1700000000.15\n'
head19='Decompressed payload (19 bytes)\n'
dump19='0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31\n0010  32 33 7d\n'
rec="$ts$head19$dump19"
pair='1700000000123000000 1700000000150000000\n'
late="1700000000.12\\n$head19$dump19"
late2='1700000000123000000 1700000000120000000 -3.000000\n'
warn() { printf 'WARNING: Unexpected latency %s = %s - 1700000000123000000\\n' "$@"; }
nodst='Destination file can'"'"'t be opened\n'
noread='Source file can'"'"'t be read\n'
nowrite='Destination file can'"'"'t be written\n'

# Latencies of 0, 10 s, 10 s and 1 ns, and -3 ms: those above 10 s, and the
# negative ones, are warned about.
t "latency warnings" "" "-1" "$(for r in 00.123 10.123 10.123000001; do printf "17000000$r\\\\n%s" "$head19$dump19"; done)$late" \
  '0.000000\n10000.000000\n10000.000001\n-3.000000\n' \
  "$(warn 10000000001 1700000010123000001 -3000000 1700000000120000000)" 0 ""

t "the source path is a directory" "" ". out" "" "" "$noread" 1 "[ -e out ]"
t "full disk" "" "> /dev/full" "$rec" "" "$nowrite" 1 ""
t "full disk, nothing to write" "" "> /dev/full" "$ts" "" "" 0 ""

# Arguments: an option only as the first argument, and only -0, -1 or -2; of
# the paths the last two are the source and the destination.
t "-2 a -3 -1 reads -3, writes -1" "printf '$rec' > ./-3" "-2 a -3 -1" "" "" "" 0 \
  "printf '1700000000123000000 1700000000150000000 27.000000\n' | cmp -s - ./-1 && [ ! -e a ]"
t "missing source leaves the destination" "echo keep > out" "missing out" "" "" \
  'Unable to open file `missing`!!\nSource file can'"'"'t be opened\n' 1 "[ \"\$(cat out)\" = keep ]"
t "destination in a missing folder" "printf '$rec' > in" "in no/out" "" "" \
  'Unable to open file `no/out`!!\n'"$nodst" 1 ""

# The log being read is never truncated, whatever name reaches it; nor is any
# other capture log: a file with a payload header line in its first MiB.
guard() { printf 'Destination file `%s` is %s!!\n%s' "$1" "$2" "$nodst"; }
keep="printf '$rec' | cmp -s - log"
t "hard link" "printf '$rec' > log; ln log hard" "log hard" "" "" "$(guard hard 'the source file')" 1 "$keep"
t "symbolic link" "printf '$rec' > log; ln -s log sym" "-1 log sym" "" "" "$(guard sym 'the source file')" 1 "$keep"
t "standard input" "printf '$rec' > log" "log < log" "" "" "$(guard log 'the source file')" 1 "$keep"
t "devices are not guarded" "" "/dev/null /dev/null" "" "" "" 0 ""
t "a pipe as the destination is not searched" "printf '$rec' > in" "< /dev/null; timeout 10 \"\$caplat\" -1 in /dev/stdout | cat" "" \
  '27.000000\n' "" 0 ""
t "a log as the single path" "printf '$rec' > log" "log" "$rec" "" "$(guard log 'a capture log')" 1 "$keep"
t "a copy of the source" "printf '$rec' > log; cp log copy" "log copy" "" "" "$(guard copy 'a capture log')" 1 \
  "cmp -s log copy"
# The title must start a line and lie wholly within the first MiB.
for at in 1048554 1048555; do
  t "a header line at byte $at" "head -c $((at - 1)) /dev/zero | tr '\\0' x > log; printf '\\n$head19' >> log" \
    "log" "$rec" "*" "*" $((at <= 1048554)) ""
done
t "a header inside a line is no log: -0 truncates it" "printf 'x $head19' > out" "-0 out" "$rec" "" "" 0 \
  "printf '$pair' | cmp -s - out"
# A single path at a terminal is surely the log: nothing is opened.
tty() { printf '%s' "< /dev/null; script -qec \"'\$caplat' $1\" /dev/null > .tty; echo \$? > .code; tr -d '\\r' < .tty"; }
usage='Reading the log from a terminal; usage: caplat [-0|-1|-2] [source] [destination]\n'
t "a log at a terminal" "printf '$rec' > log" "$(tty log)" "" "$usage" "" 0 "$keep && grep -qx 1 .code"

# The log generator that the README uses: its help says what it writes and
# names every option; anything else gets the usage.
t "loggen --help" "" "< /dev/null; \"\$loggen\" --help" "" "*" "" 0 \
  "grep -q '^Writes a made-up capture log' .stdout && for o in format size seed small ascii frames help; do
     grep -q -- \"^  --\$o \" .stdout || exit 1; done"
t "loggen with an unknown format" "" "< /dev/null; \"\$loggen\" --format xml" "" "" \
  "$("$loggen" --help | sed -n '1,2p')\n" 2 ""
# The sample log: a slow message, two payloads in one frame, a malformed dump.
t "sample log" "" "-2 < '$examples/capture.log'" "" "$(cat "$examples/capture.out")\n" \
  'WARNING: Unexpected latency 12346150017 = 1700000001984150017 - 1699999989638000000\nMalformed HEX payload\n!WARNING: Discarded payload with 37 bytes!!\n' 0 ""
# Warnings and results sent to one file keep their order: the warning about
# the 2000th message comes after the first block of results and before its line.
t "warnings in order among results" \
  "for i in \$(seq 2999); do printf '$rec'; done | sed '7997s/00\\.15/20.15/' > log" \
  "-2 < log 2>&1" "" "*" "" 0 \
  "awk '/WARNING/ { w = NR } /^1700000000123000000 1700000020150000000 / { p = NR }
        END { exit !(w > 1000 && w < p && p == 2001) }' .stdout"
t "current offset" "printf 'skip\n$rec' > log" "< /dev/null; { read -r _; \"\$caplat\"; } < log" "" "$pair" "" 0 ""
t "standard error closed" "" "-2 out 2>&-" "$late" "" "" 0 "printf '$late2' | cmp -s - out"
t "standard output closed" "" ">&-" "$rec" "" "$nowrite" 1 ""
t "standard input closed" "" "<&-" "" "" "$noread" 1 ""
# Memory runs out on a payload that never ends: what came before is kept, in
# order. (The sanitizers reserve more address space than the limit allows.)
if ! ldd "$caplat" | grep -q libasan; then
  t "out of memory" "" "< /dev/null; { printf '$late$ts'
     echo 'Decompressed payload (18446744073709551615 bytes)'; yes '0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31'; } |
     (ulimit -v 50000; \"\$caplat\" -2)" "" "$late2" "$(warn -3000000 1700000000120000000)Out of memory\n" 1 ""
fi
# Live: each record read from a slow pipe is written out before the next arrives.
t "live through a slow pipe" ": > out" "< /dev/null; for i in 1 2 3; do printf '$rec'
     await 20 '[ \"\$(wc -l < out)\" -ge '\$i' ]' || echo \"record \$i held back\" >&2; done |
     \"\$caplat\" -1 > out; cat out" "" '27.000000\n27.000000\n27.000000\n' "" 0 ""
t "closed pipe ends quietly" "yes '$rec' | head -n 400000 | tr -d '\\n' | sed 's/\\\\n/\\n/g' > many" \
  "< /dev/null; (\"\$caplat\" < many | head -c 20; exit \"\${PIPESTATUS[0]}\")" "" "1700000000123000000 " "" 141 ""

# Compressed logs print what the log itself prints, byte for byte, with its
# status, read from a path or from standard input: the sample and a generated
# log of every kind, in one gzip member or zstd frame, in several (each piece
# compressed alone, as cat joins them), and as pzstd writes them, a skippable
# frame ahead of each.
logs=$work/logs
mkdir "$logs"
cp "$examples/capture.log" "$logs/sample.log"
for kind in "e" "data" "ts" "iso" "mixed" "e --small" "e --ascii" "e --ascii --frames"; do
  # shellcheck disable=SC2086
  "$loggen" --format $kind --size 200000 --seed 5 > "$logs/$(echo $kind | tr -d ' -').log"
done
for log in "$logs"/*.log; do
  "$caplat" -2 < "$log" > "$log.out" 2> "$log.err"
  echo $? > "$log.status"
  gzip -c < "$log" > "$log.gz"
  zstd -q -c < "$log" > "$log.zst"
  split -n l/3 "$log" "$log.part."
  for part in "$log".part.*; do gzip -c < "$part"; done > "$log.members.gz"
  for part in "$log".part.*; do zstd -q -c < "$part"; done > "$log.frames.zst"
  pzstd -q -c < "$log" > "$log.pzstd.zst"
  for c in gz zst members.gz frames.zst pzstd.zst; do
    same_as_plain="cmp .stdout '$log.out' && cmp .stderr '$log.err'"
    t "$(basename "$log").$c from a path" "" "-2 '$log.$c' out; cat out" "" "*" "*" "$(cat "$log.status")" \
      "$same_as_plain"
    t "$(basename "$log").$c from standard input" "" "-2 < '$log.$c'" "" "*" "*" "$(cat "$log.status")" \
      "$same_as_plain"
  done
done
t "an empty gzip member" "" "-1 < <(gzip -c < /dev/null)" "" "" "" 0 ""
# Zero bytes after the last member, such as a tape's padding, are taken as gzip
# takes them; other bytes there, which gzip warns of, fail the read after
# every result.
sample_out="cmp .stdout '$logs/sample.log.out'"
t "gzip and 512 zero bytes" "{ gzip -c < '$logs/sample.log'; head -c 512 /dev/zero; } > log.gz" "-2 log.gz out; cat out" "" \
  "*" "*" 0 "$sample_out && cmp .stderr '$logs/sample.log.err'"
t "gzip and other bytes" "{ gzip -c < '$logs/sample.log'; echo garbage; } > log.gz" "-2 < log.gz" "" "*" "*" 1 \
  "$sample_out && [ \"\$(tail -c 26 .stderr)\" = \"Source file can't be read\" ]"
t "an empty zstd frame" "" "-1 < <(zstd -c < /dev/null)" "" "" "" 0 ""

# Cut short or damaged inside the third of four members or frames, each a
# quarter of the sample log: the results of the first two come out whole, then
# the read error alone, and the status is 1. (Every offset, every kind of
# damage: tests/source_test.cpp.)
sample=$logs/sample.log
split -n l/4 "$sample" "$logs/quarter."
quarters=("$logs"/quarter.*)
"$caplat" -2 < <(cat "${quarters[@]:0:2}") > "$logs/kept" 2> /dev/null
kept="cmp -s '$logs/kept' <(head -c $(stat -c %s "$logs/kept") .stdout)"
read_error="[ \"\$(tail -c 26 .stderr)\" = \"Source file can't be read\" ]"
for c in "gzip -c" "zstd -q -c"; do
  for quarter in "${quarters[@]}"; do $c < "$quarter"; done > "$logs/all"
  offset=$(($(for q in "${quarters[@]:0:2}"; do $c < "$q"; done | wc -c) + 50))
  t "$c cut short at byte $offset" "head -c $offset '$logs/all' > cut" "-2 < cut" "" "*" "*" 1 \
    "$kept && cmp -s .stdout <(head -c \$(stat -c %s .stdout) '$sample.out') && $read_error"
  t "$c damaged at byte $offset" "cp '$logs/all' damaged; printf '\\\\377' | dd of=damaged bs=1 seek=$offset conv=notrunc status=none" \
    "-2 < damaged" "" "*" "*" 1 "$kept && $read_error"
done

# xz, bzip2 and lz4 are refused before anything is written, and the
# destination is left as it was, or not made.
for format in "xz:xz -c" "bzip2:bzip2 -c" "lz4:lz4 -q -c" "lz4:lz4 -l -q -c"; do
  refused="Source file is compressed with ${format%%:*}; decompress it first\\n"
  made="${format#*:} < '$examples/capture.log' > log.${format%%:*}"
  t "${format#*:} from a path" "$made; echo keep > out" "-2 log.${format%%:*} out" "" "" "$refused" 1 \
    "[ \"\$(cat out)\" = keep ]"
  t "${format#*:} from standard input" "$made" "-2 out < log.${format%%:*}" "" "" "$refused" 1 "[ ! -e out ]"
done
# So are a zstd window beyond the 128 MiB read and a gzip header that sets a
# reserved flag, each with its reason.
window='Source file is compressed with zstd in a window of 2048 MiB, larger than the 128 MiB read; decompress it first (zstd -d --memory=2048MB)\n'
reserved='Source file is compressed with gzip, but its header sets reserved flags (0x20)\n'
long="zstd -q --long=31 < '$examples/capture.log' > log.zst"
flagged="gzip -c < '$examples/capture.log' > plain.gz; { head -c 3 plain.gz; printf '\\040'; tail -c +5 plain.gz; } > log.gz"
t "zstd --long=31 from a path" "$long; echo keep > out" "-2 log.zst out" "" "" "$window" 1 "[ \"\$(cat out)\" = keep ]"
t "zstd --long=31 from standard input" "$long" "-2 out < log.zst" "" "" "$window" 1 "[ ! -e out ]"
t "a reserved gzip flag from a path" "$flagged; echo keep > out" "-2 log.gz out" "" "" "$reserved" 1 \
  "[ \"\$(cat out)\" = keep ]"
t "a reserved gzip flag from standard input" "$flagged" "-2 out < log.gz" "" "" "$reserved" 1 "[ ! -e out ]"
t "a compressed destination" "gzip -c < '$examples/capture.log' > log.gz; cp log.gz copy.gz" \
  "log.gz copy.gz" "" "" "$(guard copy.gz 'a compressed file')" 1 "cmp -s log.gz copy.gz"
# Live: each record a member of its own, written to a slow pipe, is printed
# before the next arrives.
for c in "gzip -c" "zstd -q -c"; do
  t "live members of $c" ": > out" "< /dev/null; for i in 1 2 3; do printf '$rec' | $c
       await 20 '[ \"\$(wc -l < out)\" -ge '\$i' ]' || echo \"record \$i held back\" >&2; done |
       \"\$caplat\" -1 > out; cat out" "" '27.000000\n27.000000\n27.000000\n' "" 0 ""
done

echo "$((rows - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
